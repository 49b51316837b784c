#include "usb_connection.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "uXfer.h"
#include "usb_protocol.h"
#include "win/device_interfaces.h"

namespace {

const GUID kDefaultInterface = DEVICE_CLASS_DEFAULT_INIT;
constexpr size_t kPipeNameSize = 260;
constexpr DWORD kOpenPauseMs = 50;

// CloseHandle's result; -1 when nothing was open.
uint32_t CloseOwned(win::unique_file& file)
{
    if (!file)
        return UINT32_MAX;
    return static_cast<uint32_t>(CloseHandle(file.release()));
}

}  // namespace

const char* DevicePath::c_str() const
{
    return reinterpret_cast<const SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail_.get())->DevicePath;
}

CUsb::CUsb() : interfaceGuid(&kDefaultInterface)
{
    OutputDebugStringA("\nCUsb()");
}

CUsb::~CUsb()
{
    OutputDebugStringA("\n~CUsb()");
    Close();
}

uint32_t CUsb::CountInstances() const
{
    return win::DeviceInterfaces(*interfaceGuid).Count();
}

DevicePath CUsb::GetDevicePath(uint32_t instance) const
{
    win::DeviceInterfaces set(*interfaceGuid);
    if (!set.valid())
        return DevicePath();
    SP_DEVICE_INTERFACE_DATA data;
    if (!set.Find(instance, data)) {
        OutputDebugStringA("\nSetupDiEnumDeviceInterfaces() failed!\n");
        return DevicePath();
    }
    const DWORD size = set.DetailSize(data);
    if (size == 0)
        return DevicePath();
    std::unique_ptr<uint8_t[]> detail(new (std::nothrow) uint8_t[size]);
    if (!detail || !set.Detail(data, reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail.get()), size))
        return DevicePath();
    return DevicePath(std::move(detail));
}

bool CUsb::Open(uint32_t instance, uint32_t flags)
{
    DevicePath path = GetDevicePath(instance);
    if (!path)
        return false;
    Close();
    if (flags & OPEN_CONTROL) {
        controlHandle.reset(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!controlHandle)
            return false;
    }
    // The device needs a moment after the control path opens before its pipes do.
    Sleep(kOpenPauseMs);
    if ((flags & OPEN_WRITE) && !OpenPipe(path.c_str(), PIPE_OUT_SUFFIX, GENERIC_WRITE, writePipe))
        return false;
    if ((flags & OPEN_READ) && !OpenPipe(path.c_str(), PIPE_IN_SUFFIX, GENERIC_READ, readPipe))
        return false;
    openFlags = flags;
    return true;
}

bool CUsb::OpenPipe(const char* path, const char* suffix, DWORD access, win::unique_file& pipe)
{
    char name[kPipeNameSize] = {};
    size_t pathLength = std::strlen(path);
    size_t suffixLength = std::strlen(suffix);
    if (pathLength + suffixLength >= sizeof name)
        return false;
    std::memcpy(name, path, pathLength);
    std::memcpy(name + pathLength, suffix, suffixLength);
    pipe.reset(CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    return pipe.valid();
}

uint32_t CUsb::Close()
{
    CloseOwned(controlHandle);
    CloseOwned(readPipe);
    return CloseOwned(writePipe);
}

BOOL CUsb::IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned)
{
    return DeviceIoControl(controlHandle.get(), code, const_cast<void*>(in), inSize, out, outSize, returned,
                           nullptr);
}

BOOL CUsb::PipeRead(void* buffer, DWORD size, DWORD* moved)
{
    if (!(openFlags & OPEN_READ))
        return FALSE;
    return ReadFile(readPipe.get(), buffer, size, moved, nullptr);
}

BOOL CUsb::PipeWrite(const void* buffer, DWORD size, DWORD* moved)
{
    if (!(openFlags & OPEN_WRITE))
        return FALSE;
    return WriteFile(writePipe.get(), buffer, size, moved, nullptr);
}
