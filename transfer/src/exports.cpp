// Set-up, status, notification and settings exports, and the entry point.
#include "device_notify.h"
#include "process_state.h"
#include "shared_settings.h"
#include "uXfer.h"
#include "vendor_commands.h"

namespace {

// Loader-driver versions, and the version codes of the interface classes
// that their drivers publish.
constexpr uint32_t kLoaderVersion110 = 0x0110;
constexpr uint32_t kLoaderVersion120 = 0x0120;
constexpr uint32_t kLoaderVersion130 = 0x0130;
constexpr uint32_t kVersionCodeV2 = 2;
constexpr uint32_t kVersionCodeV4 = 4;

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
    CUsb usb;
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
    switch (version) {
    case kLoaderVersion110:
        return theUsb.SelectInterface(kVersionCodeV2);
    case kLoaderVersion120:
    case kLoaderVersion130:
        return theUsb.SelectInterface(kVersionCodeV4);
    default:
        return version - kLoaderVersion130;
    }
}

}  // extern "C"
