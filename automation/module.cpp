// The DLL's entry points: its class object, unloading, and registration.
#include "module.h"

#include <atomic>
#include <mutex>
#include <vector>

#include <wrl/client.h>

#include "registration.h"
#include "server_class.h"
#include "uxfer_library.h"
#include "uXferAuto.h"
#include "xfer_device.h"
#include "xferlib/uxfer_library.h"

namespace automation {

namespace {

const ServerClass device{CLSID_XferDevice, L"uXfer device", L"uXfer.Device", L"uXfer.Device.1", xferlib::kUxfer};
const ServerClass simDevice{CLSID_XferSimDevice, L"uXfer simulated device", L"uXfer.SimDevice",
                            L"uXfer.SimDevice.1", xferlib::kUxferSim};

HMODULE module = nullptr;
std::atomic<LONG> liveCount{0};
std::once_flag typeLibraryLoaded;
ITypeLib* typeLibrary = nullptr;

class ClassFactory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // The one factory lives as long as the module; its references keep the module.
    STDMETHODIMP_(ULONG) AddRef() override
    {
        ModuleAddRef();
        return 2;
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        ModuleRelease();
        return 1;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        // No object without the library: its calls go nowhere else.
        if (const Failure missing = LoadUxfer())
            return Report(missing);
        return XferDevice::Create(iid, object);
    }
    STDMETHODIMP LockServer(BOOL lock) override
    {
        if (lock)
            ModuleAddRef();
        else
            ModuleRelease();
        return S_OK;
    }
};

ClassFactory factory;

// "user" (regsvr32 /i:user) registers for the current user; nothing or
// "machine" for the machine.
bool ScopeOf(LPCWSTR commandLine, Scope& scope)
{
    if (!commandLine || !*commandLine || lstrcmpiW(commandLine, L"machine") == 0) {
        scope = Scope::Machine;
        return true;
    }
    if (lstrcmpiW(commandLine, L"user") == 0) {
        scope = Scope::User;
        return true;
    }
    return false;
}

}  // namespace

const ServerClass& ServedClass()
{
#ifdef UXFER_AUTO_SIM
    return simDevice;
#else
    return device;
#endif
}

const ServerClass& SiblingClass()
{
    return &ServedClass() == &device ? simDevice : device;
}

HMODULE ModuleHandle()
{
    return module;
}

std::wstring ModulePath()
{
    return xferlib::ModulePath(module);
}

std::wstring ModuleFolder()
{
    const std::wstring path = ModulePath();
    return path.substr(0, path.find_last_of(L'\\'));
}

void ModuleAddRef()
{
    ++liveCount;
}

void ModuleRelease()
{
    --liveCount;
}

ITypeInfo* TypeInfoOf(REFIID iid)
{
    std::call_once(typeLibraryLoaded, [] {
        if (FAILED(LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &typeLibrary)))
            typeLibrary = nullptr;
    });
    if (!typeLibrary)
        return nullptr;
    // One type information a kind, kept for the module's life.
    static std::mutex guard;
    static std::vector<std::pair<IID, ITypeInfo*>> known;
    std::lock_guard<std::mutex> lock(guard);
    for (const auto& entry : known)
        if (entry.first == iid)
            return entry.second;
    ITypeInfo* info = nullptr;
    if (FAILED(typeLibrary->GetTypeInfoOfGuid(iid, &info)))
        return nullptr;
    known.emplace_back(iid, info);
    return info;
}

}  // namespace automation

using automation::Scope;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH) {
        automation::module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (clsid != automation::ServedClass().clsid)
        return CLASS_E_CLASSNOTAVAILABLE;
    return automation::factory.QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow()
{
    return automation::liveCount == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    return automation::RegisterServer(Scope::Machine);
}

STDAPI DllUnregisterServer()
{
    return automation::UnregisterServer(Scope::Machine);
}

STDAPI DllInstall(BOOL install, LPCWSTR commandLine)
{
    Scope scope;
    if (!automation::ScopeOf(commandLine, scope))
        return E_INVALIDARG;
    return install ? automation::RegisterServer(scope) : automation::UnregisterServer(scope);
}

}  // extern "C"
