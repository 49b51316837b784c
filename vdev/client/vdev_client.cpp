#include "vdev_client.h"

#include <setupapi.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "win/device_interfaces.h"

namespace vdev {

const GUID kDefaultClass = DEVICE_CLASS_DEFAULT_INIT;
const GUID kClassV3 = DEVICE_CLASS_V3_INIT;
const GUID kClassV2 = DEVICE_CLASS_V2_INIT;

namespace {

const GUID kBackChannelClass = VDEV_BACKCHANNEL_CLASS_INIT;
// Device setup class "System": the instances are plain root devices.
const GUID kSystemSetupClass = {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const char kServiceName[] = "vdevusb";
// The service runs the image under its own name; a copy of the same file sits
// under the real driver's file name, where version checks look.  Wine keeps a
// loaded image locked, so only the copy can be replaced by tests.
const char kServiceImage[] = "vdevusb.sys";
const char kDriverFile[] = "KelvaneV4.sys";
const char kHardwareId[] = "ROOT\\VDEV\0";
const unsigned kMaxInstances = 16;

std::string InstanceId(unsigned n)
{
    char id[32];
    std::snprintf(id, sizeof id, "ROOT\\VDEV\\%04u", n);
    return id;
}

// Interface paths of a class, in SetupAPI member order.
std::vector<std::string> InterfacePaths(const GUID& cls)
{
    std::vector<std::string> paths;
    const win::DeviceInterfaces set(cls);
    SP_DEVICE_INTERFACE_DATA data;
    for (DWORD i = 0; set.Find(i, data); ++i) {
        std::string path = win::DeviceInterfacePath(set, i);
        if (!path.empty())
            paths.push_back(std::move(path));
    }
    return paths;
}

bool ContainsNoCase(const std::string& haystack, const std::string& needle)
{
    std::string h = haystack, n = needle;
    for (auto& c : h)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    for (auto& c : n)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return h.find(n) != std::string::npos;
}

// "#vdev#000n#" names instance n in an interface path.
std::string BackChannelPath(unsigned instance)
{
    char tag[32];
    std::snprintf(tag, sizeof tag, "#vdev#%04u#", instance);
    for (const auto& path : InterfacePaths(kBackChannelClass))
        if (ContainsNoCase(path, tag))
            return path;
    return {};
}

bool InstanceExists(HDEVINFO set, unsigned n)
{
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    return SetupDiOpenDeviceInfoA(set, InstanceId(n).c_str(), nullptr, 0, &info) != FALSE;
}

bool RegisterInstance(unsigned n)
{
    win::unique_hdevinfo set(SetupDiCreateDeviceInfoList(&kSystemSetupClass, nullptr));
    if (!set)
        return false;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    if (!SetupDiCreateDeviceInfoA(set.get(), InstanceId(n).c_str(), &kSystemSetupClass, nullptr, nullptr, 0, &info))
        return false;
    bool ok = SetupDiSetDeviceRegistryPropertyA(set.get(), &info, SPDRP_HARDWAREID,
                                                reinterpret_cast<const BYTE*>(kHardwareId), sizeof kHardwareId) &&
              SetupDiSetDeviceRegistryPropertyA(set.get(), &info, SPDRP_SERVICE,
                                                reinterpret_cast<const BYTE*>(kServiceName), sizeof kServiceName) &&
              SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.get(), &info);
    return ok;
}

// Wine's private service control: enumerate the root devices of this service again.
const DWORD kReenumerateRootDevices = 128;

bool Reenumerate()
{
    win::unique_service scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!scm)
        return false;
    win::unique_service svc(OpenServiceA(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
    if (!svc)
        return false;
    SERVICE_STATUS status;
    return ControlService(svc.get(), kReenumerateRootDevices, &status) != FALSE;
}

bool WaitBackChannel(unsigned instance, bool present, DWORD timeoutMs)
{
    for (DWORD waited = 0;; waited += 20) {
        if (BackChannelPath(instance).empty() != present)
            return true;
        if (waited >= timeoutMs)
            return false;
        Sleep(20);
    }
}

}  // namespace

bool Device::Open(unsigned instance)
{
    std::string path = BackChannelPath(instance);
    if (path.empty())
        return false;
    std::wstring wide(path.begin(), path.end());
    // Wide open: the back channel never goes through the pipe-name shim.
    win::unique_file opened(CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!opened)
        return false;
    handle_ = std::move(opened);
    return true;
}

bool Device::Ioctl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned)
{
    DWORD scratch = 0;
    return DeviceIoControl(handle_.get(), code, const_cast<void*>(in), inSize, out, outSize,
                           returned ? returned : &scratch, nullptr) != FALSE;
}

bool Device::Reset()
{
    return Ioctl(IOCTL_VDEV_RESET, nullptr, 0, nullptr, 0);
}

bool Device::Knob(uint32_t id, uint32_t value, uint32_t value2)
{
    VdevKnob knob{id, value, value2};
    return Ioctl(IOCTL_VDEV_KNOB, &knob, sizeof knob, nullptr, 0);
}

bool Device::SetStatusBytes(const uint8_t bytes[7])
{
    uint32_t low = 0, high = 0;
    std::memcpy(&low, bytes, 4);
    std::memcpy(&high, bytes + 4, 3);
    return Knob(VDEV_KNOB_STATUS_BYTES, low, high);
}

bool Device::SetDriverState(const DriverState& state)
{
    return Ioctl(IOCTL_VDEV_SET_DRIVER_STATE, &state, sizeof state, nullptr, 0);
}

bool Device::SetDebugIn(const void* data, size_t size)
{
    return Ioctl(IOCTL_VDEV_SET_DEBUG_IN, data, static_cast<DWORD>(size), nullptr, 0);
}

bool Device::SetClass(const GUID& cls)
{
    return Ioctl(IOCTL_VDEV_SET_CLASS, &cls, sizeof cls, nullptr, 0);
}

namespace {
const size_t kMemoryPiece = 1u << 20;
}

bool Device::LoadMemory(uint32_t byteOffset, const void* data, size_t size)
{
    std::vector<uint8_t> request(sizeof(VdevMemRange) + std::min(size, kMemoryPiece));
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t done = 0; done < size || (size == 0 && done == 0);) {
        size_t piece = std::min(size - done, kMemoryPiece);
        VdevMemRange range{static_cast<uint32_t>(byteOffset + done), static_cast<uint32_t>(piece)};
        std::memcpy(request.data(), &range, sizeof range);
        if (piece)
            std::memcpy(request.data() + sizeof range, bytes + done, piece);
        if (!Ioctl(IOCTL_VDEV_MEM_WRITE, request.data(), static_cast<DWORD>(sizeof range + piece), nullptr, 0))
            return false;
        done += piece;
        if (size == 0)
            break;
    }
    return true;
}

bool Device::ReadMemory(uint32_t byteOffset, void* data, size_t size)
{
    auto* bytes = static_cast<uint8_t*>(data);
    for (size_t done = 0; done < size;) {
        size_t piece = std::min(size - done, kMemoryPiece);
        VdevMemRange range{static_cast<uint32_t>(byteOffset + done), static_cast<uint32_t>(piece)};
        DWORD got = 0;
        if (!Ioctl(IOCTL_VDEV_MEM_READ, &range, sizeof range, bytes + done, static_cast<DWORD>(piece), &got) ||
            got != piece)
            return false;
        done += piece;
    }
    return true;
}

bool Device::Info(VdevInfo& info)
{
    DWORD got = 0;
    return Ioctl(IOCTL_VDEV_INFO, nullptr, 0, &info, sizeof info, &got) && got == sizeof info;
}

std::vector<VdevLogRecord> Device::Log(uint32_t first)
{
    std::vector<VdevLogRecord> all;
    const DWORD batch = 512;
    std::vector<VdevLogRecord> buffer(batch);
    for (;;) {
        DWORD got = 0;
        if (!Ioctl(IOCTL_VDEV_LOG, &first, sizeof first, buffer.data(), batch * sizeof(VdevLogRecord), &got))
            break;
        DWORD n = got / sizeof(VdevLogRecord);
        all.insert(all.end(), buffer.begin(), buffer.begin() + n);
        if (n < batch)
            break;
        first = buffer[n - 1].seq + 1;
    }
    return all;
}

bool InstallDriver(const std::string& sysFile)
{
    char system[MAX_PATH];
    if (!GetSystemDirectoryA(system, MAX_PATH))
        return false;
    std::string drivers = std::string(system) + "\\drivers\\";
    std::string target = drivers + kServiceImage;
    // A loaded image cannot be replaced; the test bed puts new builds in place before boot.
    for (const char* name : {kServiceImage, kDriverFile}) {
        std::string file = drivers + name;
        if (!sysFile.empty() && GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES &&
            !CopyFileA(sysFile.c_str(), file.c_str(), FALSE))
            return false;
    }

    win::unique_service scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!scm)
        return false;
    win::unique_service svc(OpenServiceA(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
    if (svc) {
        ChangeServiceConfigA(svc.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, target.c_str(),
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    } else {
        svc.reset(CreateServiceA(scm.get(), kServiceName, kServiceName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                 SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, target.c_str(), nullptr, nullptr, nullptr,
                                 nullptr, nullptr));
        if (!svc)
            return false;
    }
    {
        win::unique_hdevinfo set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
        if (!set)
            return false;
        if (!InstanceExists(set.get(), 0) && !RegisterInstance(0))
            return false;
    }
    if (!StartServiceA(svc.get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        return false;
    if (BackChannelPath(0).empty())
        Reenumerate();
    return WaitBackChannel(0, true, 5000);
}

int AddInstance()
{
    unsigned n = 0;
    {
        win::unique_hdevinfo set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
        if (!set)
            return -1;
        while (n < kMaxInstances && InstanceExists(set.get(), n))
            ++n;
    }
    if (n == kMaxInstances || !RegisterInstance(n) || !Reenumerate() || !WaitBackChannel(n, true, 5000))
        return -1;
    return static_cast<int>(n);
}

bool RemoveInstance(unsigned instance)
{
    win::unique_hdevinfo set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    if (!set)
        return false;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    if (!SetupDiOpenDeviceInfoA(set.get(), InstanceId(instance).c_str(), nullptr, 0, &info))
        return false;
    if (!SetupDiCallClassInstaller(DIF_REMOVE, set.get(), &info))
        return false;
    return WaitBackChannel(instance, false, 5000);
}

bool UninstallDriver()
{
    for (unsigned n = kMaxInstances; n-- > 0;) {
        win::unique_hdevinfo set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
        if (set && InstanceExists(set.get(), n))
            RemoveInstance(n);
    }
    win::unique_service scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!scm)
        return false;
    win::unique_service svc(OpenServiceA(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
    if (!svc)
        return true;
    SERVICE_STATUS status;
    ControlService(svc.get(), SERVICE_CONTROL_STOP, &status);
    return DeleteService(svc.get()) != FALSE;
}

unsigned CountInterfaces(const GUID& cls)
{
    return static_cast<unsigned>(InterfacePaths(cls).size());
}

bool WaitInterfaces(const GUID& cls, unsigned count, DWORD timeoutMs)
{
    for (DWORD waited = 0;; waited += 20) {
        if (CountInterfaces(cls) == count)
            return true;
        if (waited >= timeoutMs)
            return false;
        Sleep(20);
    }
}

}  // namespace vdev
