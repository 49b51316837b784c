#include "device_access.h"

#include "module_heap.h"
#include "scoped.h"

namespace {

constinit CRITICAL_SECTION ioLock{};
constinit CRITICAL_SECTION statusLock{};

// The size field of the single-byte detail data on 32-bit Windows, and the
// least a valid detail can hold: that field and an empty path.
constexpr DWORD kDetailSizeField = 5;
constexpr DWORD kDetailFixedPart = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + 1;

struct DeviceInfoListTraits {
    using Handle = HDEVINFO;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle set) { SetupDiDestroyDeviceInfoList(set); }
};
using CDeviceInfoList = CScopedHandle<DeviceInfoListTraits>;

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
    CDeviceInfoList set(SetupDiGetClassDevsA(&record.interfaceClass, nullptr, nullptr,
                                             DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set.IsValid())
        return R_NO_CLASS;

    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(interfaceData);
    if (!SetupDiEnumDeviceInterfaces(set.Get(), nullptr, &record.interfaceClass, record.instance, &interfaceData))
        return R_NOT_FOUND;

    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(set.Get(), &interfaceData, nullptr, 0, &required, nullptr);
    if (required < kDetailFixedPart)
        return R_NOT_FOUND;
    detailData_ = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(ModuleAlloc(required));
    if (!detailData_)
        return ERROR_NOT_ENOUGH_MEMORY;
    detailData_->cbSize = kDetailSizeField;
    if (!SetupDiGetDeviceInterfaceDetailA(set.Get(), &interfaceData, detailData_, required, nullptr, nullptr))
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
