// One connection to a device instance: its interface path for control
// requests and the two bulk pipes below it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

// A file handle that closes itself; INVALID_HANDLE_VALUE marks "not open".
class FileHandle {
public:
    FileHandle() = default;
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }
    // Takes over a handle from CreateFileA; false when that failed.
    bool Assign(HANDLE handle);
    // CloseHandle's result; -1 when nothing was open.
    uint32_t Close();

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// The device path of one interface instance, held in its SetupAPI detail record.
class DevicePath {
public:
    explicit DevicePath(std::unique_ptr<uint8_t[]> detail = nullptr) : detail_(std::move(detail)) {}
    explicit operator bool() const { return detail_ != nullptr; }
    const char* c_str() const;

private:
    std::unique_ptr<uint8_t[]> detail_;
};

class CUsb {
public:
    CUsb();
    virtual ~CUsb();
    CUsb(const CUsb&) = delete;
    CUsb& operator=(const CUsb&) = delete;

    uint32_t CountInstances() const;
    DevicePath GetDevicePath(uint32_t instance) const;
    bool Open(uint32_t instance, uint32_t flags);
    uint32_t Close();
    // Version codes 2, 3 and 4 pick an interface class; anything else keeps
    // the current one and gives back code - 4.
    uint32_t SelectInterface(uint32_t versionCode);
    const GUID& InterfaceGuid() const { return *interfaceGuid; }

    BOOL IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned);
    BOOL PipeRead(void* buffer, DWORD size, DWORD* moved);
    BOOL PipeWrite(const void* buffer, DWORD size, DWORD* moved);

private:
    bool OpenPipe(const char* path, const char* suffix, DWORD access, FileHandle& pipe);

    const GUID* interfaceGuid;
    FileHandle controlHandle;
    FileHandle readPipe;   // \PIPE0, device to host
    FileHandle writePipe;  // \PIPE1, host to device
    uint32_t openFlags = 0;
};
