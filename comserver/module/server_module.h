// The process-wide server module record: module handle, class map, module
// lock count, cleanup list and the two locks of the shell.  Its blocks come
// from the module heaps (runtime/module_heap.h), which outlive it.
#pragma once

#include <windows.h>
#include <objbase.h>

// Makes an instance of a class: (outer unknown or null, interface id, out pointer).
typedef HRESULT (*InstanceCreator)(IUnknown* outer, REFIID riid, void** ppv);

struct ClassEntry {
    const CLSID* clsid;  // null ends the map
    HRESULT (*updateRegistry)(BOOL doRegister);
    HRESULT (*factoryCreator)(InstanceCreator creator, REFIID riid, void** ppv);
    InstanceCreator instanceCreator;
    IUnknown* classObject;  // cached class object, made on first request
};

class CServerModule {
public:
    constexpr CServerModule() = default;

    // Process attach, and detach when the library is unloaded.
    void Init(HINSTANCE module, ClassEntry* classMap);
    void Term();

    HINSTANCE Instance() const { return moduleHandle_; }
    CRITICAL_SECTION& TypeInfoLock() { return typeInfoLock_; }

    LONG Lock() { return InterlockedIncrement(&lockCount_); }
    LONG Unlock() { return InterlockedDecrement(&lockCount_); }
    bool CanUnload() const { return lockCount_ == 0; }

    HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
    HRESULT UpdateRegistry(BOOL doRegister);
    // Runs at process detach, the node added last first.
    HRESULT AddCleanup(void (*callback)(DWORD_PTR), DWORD_PTR argument);

private:
    struct CleanupNode {
        void (*callback)(DWORD_PTR);
        DWORD_PTR argument;
        CleanupNode* next;
    };

    HINSTANCE moduleHandle_ = nullptr;
    ClassEntry* classMap_ = nullptr;
    volatile LONG lockCount_ = 0;
    CleanupNode* cleanupList_ = nullptr;
    CRITICAL_SECTION typeInfoLock_{};  // type information loading and the cleanup list
    CRITICAL_SECTION classMapLock_{};  // creation of cached class objects
};

extern constinit CServerModule theModule;
