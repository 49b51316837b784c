// Set-up, status, notification and settings exports, and the entry point.
#include <iterator>

#include "device_notify.h"
#include "loader_versions.h"
#include "process_state.h"
#include "shared_settings.h"
#include "uXfer.h"
#include "vendor_commands.h"

namespace {

constexpr uint32_t kNewestLoader = kLoaderVersions[std::size(kLoaderVersions) - 1].version;

// 5 before Windows Vista, when the device's status may be polled; 6 from then on.
uint32_t GetOsGeneration()
{
    OSVERSIONINFOEXA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) {
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info)))
            return 6;
    }
    return info.dwMajorVersion >= 6 ? 6 : 5;
}

static_assert(sizeof(OSVERSIONINFOEXA) == 156 && sizeof(OSVERSIONINFOA) == 148, "version records");

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    osGeneration = GetOsGeneration();
    return TRUE;
}

uint32_t UXFER_API uCreate(uint32_t flags)
{
    OutputDebugStringA("\nuCreate()");
    return theUsb.Open(instanceIndex, flags & OPEN_ALL) ? RESULT_OK : RESULT_OPEN_FAILED;
}

uint32_t UXFER_API uClose(void)
{
    OutputDebugStringA("\n~uClose()");
    return theUsb.Close();
}

uint32_t UXFER_API uEnumeInstances(void)
{
    return theUsb.CountInstances();
}

uint32_t UXFER_API uGetStatus(void* status8, uint32_t* count)
{
    DWORD returned = *count;
    uint32_t result = QueryStatus(status8, &returned);
    *count = returned;
    return result;
}

uint32_t UXFER_API uRegDevNotify(HWND window)
{
    return RegisterNotification(window, theUsb.InterfaceGuid()) ? 1 : 0;
}

uint32_t UXFER_API uUnRegDevNotify(void)
{
    return UnregisterNotification();
}

uint32_t UXFER_API uSetCancel(uint32_t resetCode)
{
    cancelFlag = 1;
    // A connection of its own: theUsb may be blocked in a transfer on another thread.
    // It reaches the class the transfer's connection enumerates, not the default one.
    CUsb usb;
    usb.SelectInterface(theUsb.InterfaceGuid());
    if (!usb.Open(instanceIndex, OPEN_ALL))
        return RESULT_OPEN_FAILED;
    return SendReset(usb, resetCode);
}

uint32_t UXFER_API uSetDelay(uint32_t milliseconds)
{
    delayMs = milliseconds;
    return milliseconds;
}

uint32_t UXFER_API uSetInstance(uint32_t instance)
{
    instanceIndex = instance;
    return instance;
}

uint32_t UXFER_API uSetMsgFlag(uint32_t flag)
{
    msgFlag = flag;
    return flag;
}

HWND UXFER_API uSetMsgWnd(HWND window)
{
    msgWnd = window;
    return window;
}

uint32_t UXFER_API uSetKVVersion(uint32_t version)
{
    const LoaderVersion* loader = FindLoaderVersion(version);
    if (!loader)
        return version - kNewestLoader;  // how far from the newest, which the table lists last
    theUsb.SelectInterface(loader->interfaceClass);
    return 0;
}

}  // extern "C"
