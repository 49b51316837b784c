// Talvix.dll: the entry point, the class map and the COM exports, the
// registration ones included.
#include <windows.h>
#include <objbase.h>

#include "Talvix.h"
#include "class_factory.h"
#include "device/device_access.h"
#include "registry/registration.h"
#include "resource.h"
#include "runtime/module_heap.h"
#include "server_module.h"
#include "tvx_instance.h"

namespace {

HRESULT UpdateDeviceRegistry(BOOL doRegister)
{
    return UpdateRegistryFromScript(theModule.Instance(), IDR_TVXDEVICE, doRegister);
}

constinit ClassEntry classMap[] = {
    {&CLSID_TVXDevice, &UpdateDeviceRegistry, &CCachedFactory::Create, &CreateDeviceInstance, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

// The module's own entry point: no runtime library start-up precedes it.
// The heaps come first and go last: everything else keeps its blocks there.
extern "C" BOOL WINAPI DllEntry(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        ModuleHeapsCreate();
        theModule.Init(module, classMap);
        DeviceLocksInit();
        DisableThreadLibraryCalls(module);
    } else if (reason == DLL_PROCESS_DETACH) {
        // A non-null reserved argument: the process is ending.  Its other
        // threads are gone, perhaps in the middle of a call holding a lock,
        // so releasing objects of other modules, freeing strings or entering
        // critical sections could hang or crash; the system takes back the
        // memory and the handles anyway.  Only an unload by FreeLibrary tears
        // everything down.
        if (reserved)
            return TRUE;
        theModule.Term();
        DeviceLocksTerm();
        ModuleHeapsDestroy();
    }
    return TRUE;
}

STDAPI DllCanUnloadNow()
{
    return theModule.CanUnload() ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    return theModule.GetClassObject(rclsid, riid, ppv);
}

STDAPI DllRegisterServer()
{
    const HRESULT hr = theModule.UpdateRegistry(TRUE);
    if (FAILED(hr))
        return hr;
    return RegisterTypeLibrary(theModule.Instance());
}

STDAPI DllUnregisterServer()
{
    theModule.UpdateRegistry(FALSE);
    UnregisterTypeLibrary(theModule.Instance());
    return S_OK;
}
