// One connection to a device instance: its interface path for control
// requests and the two bulk pipes below it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "win/unique_any.h"

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
    // The interface class enumerated from now on; `cls` must outlive this object.
    void SelectInterface(const GUID& cls) { interfaceGuid = &cls; }
    const GUID& InterfaceGuid() const { return *interfaceGuid; }

    BOOL IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned);
    BOOL PipeRead(void* buffer, DWORD size, DWORD* moved);
    BOOL PipeWrite(const void* buffer, DWORD size, DWORD* moved);

private:
    bool OpenPipe(const char* path, const char* suffix, DWORD access, win::unique_file& pipe);

    const GUID* interfaceGuid;
    win::unique_file controlHandle;
    win::unique_file readPipe;   // \PIPE0, device to host
    win::unique_file writePipe;  // \PIPE1, host to device
    uint32_t openFlags = 0;
};
