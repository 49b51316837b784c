// Detection and version methods of TVXDevice: the device's release number and
// hardware generation from its USB device descriptor, and the installed
// driver's file version.  No handle outlives the call.
#include "device/tvx_device.h"
#include "native_system_folder.h"
#include "runtime/scoped.h"
#include "text_buffer.h"
#include "win/unique_any.h"

namespace {

// The class whose instance 0 the detection methods open.
constexpr GUID kDetectClass = DEVICE_CLASS_DEFAULT_INIT;

struct Generation {
    uint16_t idProduct;
    uint16_t bcdDevice;
    uint32_t code;
};

// Tested in order; the first matching row wins.
constexpr Generation kGenerations[] = {
    {0xCD03, 0x0412, 0x01000000},
    {0xCD02, 0x0412, 0x01200000},
    {0xCD03, 0x0502, 0x01300000},
    {0xDD03, 0x0506, 0x01400000},
};

// How much of the descriptor a reply must hold: idProduct and bcdDevice.
constexpr DWORD kDescriptorFieldsEnd = offsetof(UsbDeviceDescriptor, bcdDevice) + sizeof(uint16_t);

// Driver files below the Windows directory, by Windows major version.
constexpr DWORD kFirstNtDriverMajor = 5;
constexpr char kDriverFileNt[] = "\\System32\\Drivers\\KelvaneV4.sys";
constexpr char kDriverFileOld[] = "\\System32\\Drivers\\KTRV9X.sys";

// The driver's packed version as clients know it: MS shifted by 8 (not 16),
// with the low bytes of the build and private numbers ORed in.  A minor
// number of 0 reads as one byte each for major, minor, build and private.
uint32_t PackFileVersion(const VS_FIXEDFILEINFO& info)
{
    const uint32_t ms = info.dwFileVersionMS;
    const uint32_t ls = info.dwFileVersionLS;
    return (ms << 8) | (((ls >> 16) & 0xFF) << 8) | (ls & 0xFF);
}

}  // namespace

// Opens instance 0 of the detection class for the one descriptor request.
// Failures come back with bit 31 set.
DWORD TVXDevice::ReadDescriptor(UsbDeviceDescriptor& descriptor)
{
    DeviceRecord probe{};
    probe.handle = INVALID_HANDLE_VALUE;
    probe.interfaceClass = kDetectClass;
    probe.instance = 0;
    const DWORD found = access_.FindDevicePath(probe);
    if (found != 0)
        return found | R_DETECT_FAILED;

    const win::unique_file handle(CreateFileA(access_.DevicePath(), GENERIC_READ | GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle)
        return R_DETECT_FAILED;
    CModuleBlock buffer(sizeof(UsbDeviceDescriptor));
    if (!buffer)
        return R_NO_MEMORY;
    DWORD returned = 0;
    if (access_.IoControl(handle.get(), IOCTL_GET_DEVICE_DESCRIPTOR, nullptr, 0, buffer.As<void>(),
                          sizeof(UsbDeviceDescriptor), &returned) != 0)
        return R_IOCTL_FAILED | R_DETECT_FAILED;
    // The rest of the block is whatever the heap held: a reply that stops
    // before both fields is as good as none.
    if (returned < kDescriptorFieldsEnd)
        return R_IOCTL_FAILED | R_DETECT_FAILED;
    descriptor = *buffer.As<UsbDeviceDescriptor>();
    return 0;
}

STDMETHODIMP TVXDevice::DeviceDetect(ULONG* lpResult)
{
    UsbDeviceDescriptor descriptor;
    const DWORD status = ReadDescriptor(descriptor);
    if (status != 0) {
        *lpResult = status;
        return S_FALSE;
    }
    *lpResult = descriptor.bcdDevice;
    return S_OK;
}

STDMETHODIMP TVXDevice::GetVersion(ULONG* lpResult)
{
    UsbDeviceDescriptor descriptor;
    const DWORD status = ReadDescriptor(descriptor);
    if (status != 0) {
        *lpResult = status;
        return S_FALSE;
    }
    *lpResult = 0;
    for (const Generation& row : kGenerations) {
        if (row.idProduct == descriptor.idProduct && row.bcdDevice == descriptor.bcdDevice) {
            *lpResult = row.code;
            break;
        }
    }
    return S_OK;
}

// A version that cannot be read leaves the floor version and R_OLD_DRIVER;
// S_FALSE tells that no driver file with a version resource was found.
STDMETHODIMP TVXDevice::GetDriverVersion(ULONG* lpDrvVerion, ULONG* lpStatus)
{
    *lpDrvVerion = DRIVER_VERSION_FLOOR;
    *lpStatus = R_OLD_DRIVER;

    char path[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryA(path, MAX_PATH);
    if (length == 0)
        return S_OK;
    OSVERSIONINFOA os{};
    os.dwOSVersionInfoSize = sizeof(os);
    if (!GetVersionExA(&os))
        return S_FALSE;
    DWORD used = length;
    const char* file = os.dwMajorVersion >= kFirstNtDriverMajor ? kDriverFileNt : kDriverFileOld;
    if (length >= MAX_PATH || !AppendText(path, used, file))
        return S_FALSE;  // a path that cannot be built names no file

    // Under WoW64 the driver lies in the native System32\Drivers, not where
    // this 32-bit process's name for that folder leads.
    CNativeSystemFolder nativeFolder;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0)
        return S_FALSE;
    CModuleBlock info(size);
    if (!info)
        return S_FALSE;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedLength = 0;
    if (!GetFileVersionInfoA(path, 0, size, info.As<void>()) ||
        !VerQueryValueA(info.As<void>(), "\\", reinterpret_cast<void**>(&fixed), &fixedLength) ||
        fixedLength < sizeof(VS_FIXEDFILEINFO))
        return S_OK;
    *lpDrvVerion = PackFileVersion(*fixed);
    if (*lpDrvVerion >= DRIVER_VERSION_MIN)
        *lpStatus = 0;
    return S_OK;
}
