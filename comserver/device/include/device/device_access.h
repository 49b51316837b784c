// Driver calls of one device object: the device path of its last enumeration,
// and the control, read and write calls on handles the client owns.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include "talvix_records.h"

// Process-wide device locks.  ioLock is held around every DeviceIoControl;
// statusLock around a whole status request, always taken before ioLock.
void DeviceLocksInit();
void DeviceLocksTerm();
CRITICAL_SECTION& StatusLock();

class CDeviceAccess {
public:
    CDeviceAccess() = default;
    virtual ~CDeviceAccess();
    CDeviceAccess(const CDeviceAccess&) = delete;
    CDeviceAccess& operator=(const CDeviceAccess&) = delete;
    // The virtual destructor's deleting form needs one; there is no global delete here.
    static void operator delete(void* block) noexcept;

    // Enumerates the record's interface; on 0 DevicePath() is its path.
    DWORD FindDevicePath(const DeviceRecord& record);
    const char* DevicePath() const { return detailData_->DevicePath; }

    DWORD IoControl(HANDLE handle, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                    DWORD* returned);
    DWORD ReadData(HANDLE handle, void* buffer, DWORD count, DWORD* transferred);
    DWORD WriteData(HANDLE handle, const void* buffer, DWORD count, DWORD* transferred);

private:
    void FreeDetail();

    SP_DEVICE_INTERFACE_DETAIL_DATA_A* detailData_ = nullptr;
};
