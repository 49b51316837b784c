// Talvix.dll: the entry point, the class map and the COM exports.
#include <windows.h>
#include <objbase.h>

#include "Talvix.h"
#include "class_factory.h"
#include "device_access.h"
#include "module_heap.h"
#include "resource.h"
#include "server_module.h"
#include "tvx_instance.h"

namespace {

#ifdef TALVIX_WITH_REGISTRY
HRESULT UpdateDeviceRegistry(BOOL doRegister)
{
    return UpdateRegistryFromScript(IDR_TVXDEVICE, doRegister);
}
constexpr HRESULT (*kDeviceUpdateRegistry)(BOOL) = &UpdateDeviceRegistry;
#else
constexpr HRESULT (*kDeviceUpdateRegistry)(BOOL) = nullptr;
#endif

constinit ClassEntry classMap[] = {
    {&CLSID_TVXDevice, kDeviceUpdateRegistry, &CCachedFactory::Create, &CreateDeviceInstance, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

// The module's own entry point: no runtime library start-up precedes it.
extern "C" BOOL WINAPI DllEntry(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        theModule.Init(module, classMap);
        DeviceLocksInit();
        DisableThreadLibraryCalls(module);
    } else if (reason == DLL_PROCESS_DETACH) {
        theModule.Term();
        DeviceLocksTerm();
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
