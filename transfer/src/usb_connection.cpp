#include "usb_connection.h"

#include <setupapi.h>

#include <cstddef>
#include <cstring>
#include <new>

#include "uXfer.h"
#include "usb_protocol.h"

namespace {

struct InterfaceClass {
    uint32_t versionCode;
    GUID guid;
};

const InterfaceClass kInterfaceClasses[] = {
    {4, DEVICE_CLASS_DEFAULT_INIT},
    {3, DEVICE_CLASS_V3_INIT},
    {2, DEVICE_CLASS_V2_INIT},
};
const GUID& kDefaultInterface = kInterfaceClasses[0].guid;

// SetupAPI takes as cbSize the size of the detail record with a one-character
// path: 5 bytes in 32-bit code (the record is packed), 8 in 64-bit code (the
// record is padded to the alignment of 64-bit SetupAPI records).
constexpr DWORD kDetailFixedPart = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
#ifdef _WIN64
static_assert(kDetailFixedPart == 8, "64-bit detail record");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32, "64-bit interface record");
#else
static_assert(kDetailFixedPart == 5, "32-bit detail record");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "32-bit interface record");
#endif
constexpr size_t kPipeNameSize = 260;
constexpr DWORD kOpenPauseMs = 50;

// The present interfaces of one class.
class InterfaceSet {
public:
    explicit InterfaceSet(const GUID& cls)
        : cls_(cls), set_(SetupDiGetClassDevsA(&cls, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE))
    {
    }
    ~InterfaceSet()
    {
        if (IsValid())
            SetupDiDestroyDeviceInfoList(set_);
    }
    InterfaceSet(const InterfaceSet&) = delete;
    InterfaceSet& operator=(const InterfaceSet&) = delete;

    bool IsValid() const { return set_ != INVALID_HANDLE_VALUE; }
    bool Member(uint32_t index, SP_DEVICE_INTERFACE_DATA& data) const
    {
        data = {};
        data.cbSize = sizeof data;
        return SetupDiEnumDeviceInterfaces(set_, nullptr, &cls_, index, &data) != FALSE;
    }
    DevicePath Path(SP_DEVICE_INTERFACE_DATA& data) const
    {
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(set_, &data, nullptr, 0, &required, nullptr);
        if (required < kDetailFixedPart)
            return DevicePath();
        std::unique_ptr<uint8_t[]> detail(new (std::nothrow) uint8_t[required]);
        if (!detail)
            return DevicePath();
        auto* record = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail.get());
        record->cbSize = kDetailFixedPart;
        if (!SetupDiGetDeviceInterfaceDetailA(set_, &data, record, required, nullptr, nullptr))
            return DevicePath();
        return DevicePath(std::move(detail));
    }

private:
    GUID cls_;
    HDEVINFO set_;
};

}  // namespace

bool FileHandle::Assign(HANDLE handle)
{
    Close();
    handle_ = handle;
    return IsOpen();
}

uint32_t FileHandle::Close()
{
    if (!IsOpen())
        return UINT32_MAX;
    BOOL closed = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return static_cast<uint32_t>(closed);
}

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
    InterfaceSet set(*interfaceGuid);
    if (!set.IsValid())
        return 0;
    SP_DEVICE_INTERFACE_DATA data;
    uint32_t count = 0;
    while (set.Member(count, data))
        ++count;
    return count;
}

DevicePath CUsb::GetDevicePath(uint32_t instance) const
{
    InterfaceSet set(*interfaceGuid);
    if (!set.IsValid())
        return DevicePath();
    SP_DEVICE_INTERFACE_DATA data;
    if (!set.Member(instance, data)) {
        OutputDebugStringA("\nSetupDiEnumDeviceInterfaces() failed!\n");
        return DevicePath();
    }
    return set.Path(data);
}

bool CUsb::Open(uint32_t instance, uint32_t flags)
{
    DevicePath path = GetDevicePath(instance);
    if (!path)
        return false;
    Close();
    if ((flags & OPEN_CONTROL) &&
        !controlHandle.Assign(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr)))
        return false;
    // The device needs a moment after the control path opens before its pipes do.
    Sleep(kOpenPauseMs);
    if ((flags & OPEN_WRITE) && !OpenPipe(path.c_str(), PIPE_OUT_SUFFIX, GENERIC_WRITE, writePipe))
        return false;
    if ((flags & OPEN_READ) && !OpenPipe(path.c_str(), PIPE_IN_SUFFIX, GENERIC_READ, readPipe))
        return false;
    openFlags = flags;
    return true;
}

bool CUsb::OpenPipe(const char* path, const char* suffix, DWORD access, FileHandle& pipe)
{
    char name[kPipeNameSize] = {};
    size_t pathLength = std::strlen(path);
    size_t suffixLength = std::strlen(suffix);
    if (pathLength + suffixLength >= sizeof name)
        return false;
    std::memcpy(name, path, pathLength);
    std::memcpy(name + pathLength, suffix, suffixLength);
    return pipe.Assign(CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
}

uint32_t CUsb::Close()
{
    controlHandle.Close();
    readPipe.Close();
    return writePipe.Close();
}

uint32_t CUsb::SelectInterface(uint32_t versionCode)
{
    for (const InterfaceClass& cls : kInterfaceClasses) {
        if (cls.versionCode == versionCode) {
            interfaceGuid = &cls.guid;
            return 0;
        }
    }
    return versionCode - 4;
}

BOOL CUsb::IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned)
{
    return DeviceIoControl(controlHandle.Get(), code, const_cast<void*>(in), inSize, out, outSize, returned,
                           nullptr);
}

BOOL CUsb::PipeRead(void* buffer, DWORD size, DWORD* moved)
{
    if (!(openFlags & OPEN_READ))
        return FALSE;
    return ReadFile(readPipe.Get(), buffer, size, moved, nullptr);
}

BOOL CUsb::PipeWrite(const void* buffer, DWORD size, DWORD* moved)
{
    if (!(openFlags & OPEN_WRITE))
        return FALSE;
    return WriteFile(writePipe.Get(), buffer, size, moved, nullptr);
}
