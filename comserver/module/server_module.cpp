// The server module record: set-up at process attach, tear-down at process
// detach, the class map walk and the cleanup list.
#include "server_module.h"

#include "runtime/module_heap.h"
#include "runtime/scoped.h"

constinit CServerModule theModule;

void CServerModule::Init(HINSTANCE module, ClassEntry* classMap)
{
    moduleHandle_ = module;
    classMap_ = classMap;
    InitializeCriticalSection(&typeInfoLock_);
    InitializeCriticalSection(&classMapLock_);
}

void CServerModule::Term()
{
    for (ClassEntry* entry = classMap_; entry->clsid; ++entry) {
        if (entry->classObject) {
            entry->classObject->Release();
            entry->classObject = nullptr;
        }
    }
    DeleteCriticalSection(&typeInfoLock_);
    DeleteCriticalSection(&classMapLock_);
    while (CleanupNode* node = cleanupList_) {
        cleanupList_ = node->next;
        node->callback(node->argument);
        ModuleFree(node);
    }
}

HRESULT CServerModule::GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    HRESULT result = S_OK;
    for (ClassEntry* entry = classMap_; entry->clsid; ++entry) {
        if (!entry->factoryCreator || !InlineIsEqualGUID(*entry->clsid, rclsid))
            continue;
        if (!entry->classObject) {
            CLockGuard guard(classMapLock_);
            if (!entry->classObject)
                result = entry->factoryCreator(entry->instanceCreator, IID_IUnknown,
                                               reinterpret_cast<void**>(&entry->classObject));
        }
        if (entry->classObject)
            result = entry->classObject->QueryInterface(riid, ppv);
        break;
    }
    if (!*ppv && result == S_OK)
        result = CLASS_E_CLASSNOTAVAILABLE;
    return result;
}

HRESULT CServerModule::UpdateRegistry(BOOL doRegister)
{
    for (ClassEntry* entry = classMap_; entry->clsid; ++entry) {
        if (!entry->updateRegistry)
            continue;
        const HRESULT result = entry->updateRegistry(doRegister);
        if (doRegister && FAILED(result))
            return result;
    }
    return S_OK;
}

HRESULT CServerModule::AddCleanup(void (*callback)(DWORD_PTR), DWORD_PTR argument)
{
    CleanupNode* node = static_cast<CleanupNode*>(ModuleAlloc(sizeof(CleanupNode)));
    if (!node)
        return E_OUTOFMEMORY;
    node->callback = callback;
    node->argument = argument;
    CLockGuard guard(typeInfoLock_);
    node->next = cleanupList_;
    cleanupList_ = node;
    return S_OK;
}
