#include "device/device_access.h"

#include "runtime/module_heap.h"
#include "runtime/scoped.h"
#include "win/device_interfaces.h"

namespace {

constinit CRITICAL_SECTION ioLock{};
constinit CRITICAL_SECTION statusLock{};

}  // namespace

void DeviceLocksInit()
{
    InitializeCriticalSection(&ioLock);
    InitializeCriticalSection(&statusLock);
}

void DeviceLocksTerm()
{
    DeleteCriticalSection(&statusLock);
    DeleteCriticalSection(&ioLock);
}

CRITICAL_SECTION& StatusLock()
{
    return statusLock;
}

CDeviceAccess::~CDeviceAccess()
{
    FreeDetail();
}

void CDeviceAccess::operator delete(void* block) noexcept
{
    ModuleFree(block);
}

void CDeviceAccess::FreeDetail()
{
    ModuleFree(detailData_);
    detailData_ = nullptr;
}

DWORD CDeviceAccess::FindDevicePath(const DeviceRecord& record)
{
    FreeDetail();
    const win::DeviceInterfaces set(record.interfaceClass);
    if (!set.valid())
        return R_NO_CLASS;

    SP_DEVICE_INTERFACE_DATA interfaceData;
    if (!set.Find(record.instance, interfaceData))
        return R_NOT_FOUND;

    const DWORD required = set.DetailSize(interfaceData);
    if (required == 0)
        return R_NOT_FOUND;
    detailData_ = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(ModuleAlloc(required));
    if (!detailData_)
        return ERROR_NOT_ENOUGH_MEMORY;
    if (!set.Detail(interfaceData, detailData_, required))
        return R_NOT_FOUND;
    return 0;
}

DWORD CDeviceAccess::IoControl(HANDLE handle, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                               DWORD* returned)
{
    CLockGuard guard(ioLock);
    return DeviceIoControl(handle, code, in, inSize, out, outSize, returned, nullptr) ? 0 : R_IOCTL_FAILED;
}

DWORD CDeviceAccess::ReadData(HANDLE handle, void* buffer, DWORD count, DWORD* transferred)
{
    return ReadFile(handle, buffer, count, transferred, nullptr) ? 0 : R_IO_FAILED;
}

DWORD CDeviceAccess::WriteData(HANDLE handle, const void* buffer, DWORD count, DWORD* transferred)
{
    return WriteFile(handle, buffer, count, transferred, nullptr) ? 0 : R_IO_FAILED;
}
