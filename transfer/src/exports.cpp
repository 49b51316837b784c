// Set-up, status, notification and settings exports, and the entry point.
#include "settings.h"
#include "uXfer.h"
#include "vendor_commands.h"

#include <dbt.h>

namespace {

constexpr uint32_t kOpenFlagMask = OPEN_CONTROL | OPEN_READ | OPEN_WRITE;

// Loader-driver versions and the interface classes their drivers publish.
constexpr uint32_t kLoaderV2 = 0x0110;
constexpr uint32_t kLoaderV4 = 0x0120;
constexpr uint32_t kLoaderV4Later = 0x0130;
constexpr uint32_t kVersionCodeV2 = 2;
constexpr uint32_t kVersionCodeV4 = 4;

static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32, "notification filter record");

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
    return theUsb.Open(instanceIndex, flags & kOpenFlagMask) ? RESULT_OK : RESULT_OPEN_FAILED;
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
    DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = theUsb.InterfaceGuid();
    HDEVNOTIFY handle = RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    notifyOwner = GetCurrentProcessId();
    notifyHandle = handle;
    return handle ? 1 : 0;
}

uint32_t UXFER_API uUnRegDevNotify(void)
{
    HDEVNOTIFY handle = notifyHandle.exchange(nullptr);
    if (!handle)
        return 0;
    // A registration of another process can only be withdrawn there.
    if (notifyOwner != GetCurrentProcessId())
        return 0;
    return UnregisterDeviceNotification(handle);
}

uint32_t UXFER_API uSetCancel(uint32_t resetCode)
{
    cancelFlag = 1;
    // A connection of its own: theUsb may be blocked in a transfer on another thread.
    CUsb usb;
    if (!usb.Open(instanceIndex, kOpenFlagMask))
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
    case kLoaderV2:
        return theUsb.SelectInterface(kVersionCodeV2);
    case kLoaderV4:
    case kLoaderV4Later:
        return theUsb.SelectInterface(kVersionCodeV4);
    default:
        return version - kLoaderV4Later;
    }
}

}  // extern "C"
