// The driver's side of the device I/O: the interfaces SetupAPI enumerates,
// opened as files, and the system's device notifications.
#include <windows.h>

#include <dbt.h>

#include <cstdint>
#include <memory>
#include <new>

#include "device_backend.h"
#include "win/device_interfaces.h"
#include "win/unique_any.h"

namespace backend {

namespace {

static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32, "notification filter record");
constexpr size_t kPathLimit = 260;  // what a file name of the ANSI calls holds

class FilePart : public DevicePart {
public:
    explicit FilePart(HANDLE file) : file_(file) {}
    BOOL Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) override
    {
        return DeviceIoControl(file_.get(), code, const_cast<void*>(in), inSize, out, outSize, returned, nullptr);
    }
    BOOL Read(void* buffer, DWORD size, DWORD* moved) override
    {
        return ReadFile(file_.get(), buffer, size, moved, nullptr);
    }
    BOOL Write(const void* buffer, DWORD size, DWORD* moved) override
    {
        return WriteFile(file_.get(), buffer, size, moved, nullptr);
    }
    BOOL Close() override { return CloseHandle(file_.release()); }

private:
    win::unique_file file_;
};

}  // namespace

uint32_t CountInstances(const GUID& cls)
{
    return win::DeviceInterfaces(cls).Count();
}

std::string FindDevicePath(const GUID& cls, uint32_t instance)
{
    win::DeviceInterfaces set(cls);
    if (!set.valid())
        return std::string();
    SP_DEVICE_INTERFACE_DATA data;
    if (!set.Find(instance, data)) {
        OutputDebugStringA("\nSetupDiEnumDeviceInterfaces() failed!\n");
        return std::string();
    }
    const DWORD size = set.DetailSize(data);
    if (size == 0)
        return std::string();
    std::unique_ptr<uint8_t[]> detail(new (std::nothrow) uint8_t[size]);
    auto* record = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail.get());
    if (!detail || !set.Detail(data, record, size))
        return std::string();
    return record->DevicePath;
}

std::unique_ptr<DevicePart> OpenPart(const std::string& path, DWORD access)
{
    if (path.size() >= kPathLimit)
        return nullptr;
    HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    return std::unique_ptr<DevicePart>(new (std::nothrow) FilePart(file));
}

HDEVNOTIFY RegisterNotify(HWND window, const GUID& cls)
{
    DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = cls;
    return RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

BOOL UnregisterNotify(HDEVNOTIFY handle)
{
    return UnregisterDeviceNotification(handle);
}

}  // namespace backend
