// One connection to a device instance: its interface path for control
// requests and the two bulk pipes below it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "device_backend.h"

class CUsb {
public:
    CUsb();
    virtual ~CUsb();
    CUsb(const CUsb&) = delete;
    CUsb& operator=(const CUsb&) = delete;

    uint32_t CountInstances() const;
    bool Open(uint32_t instance, uint32_t flags);
    uint32_t Close();
    // The interface class enumerated from now on; `cls` must outlive this object.
    void SelectInterface(const GUID& cls) { interfaceGuid = &cls; }
    const GUID& InterfaceGuid() const { return *interfaceGuid; }

    BOOL IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned);
    BOOL PipeRead(void* buffer, DWORD size, DWORD* moved);
    BOOL PipeWrite(const void* buffer, DWORD size, DWORD* moved);

private:
    using Part = std::unique_ptr<backend::DevicePart>;

    const GUID* interfaceGuid;
    Part control;
    Part readPipe;   // \PIPE0, device to host
    Part writePipe;  // \PIPE1, host to device
    uint32_t openFlags = 0;
};
