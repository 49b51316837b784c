// The device I/O under the library: where a connection's control path and
// pipes lead.  uXfer.dll links the driver's side (driver_backend.cpp: the
// interfaces SetupAPI enumerates, opened as files), uXferSim.dll the
// simulated devices' (sim_backend.cpp).  Everything above is the same code.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace backend {

// One opened part of an instance: its control path or one of its pipes.
// Failures set the thread's last error, as the file calls do.
class DevicePart {
public:
    virtual ~DevicePart() = default;
    virtual BOOL Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) = 0;
    virtual BOOL Read(void* buffer, DWORD size, DWORD* moved) = 0;
    virtual BOOL Write(const void* buffer, DWORD size, DWORD* moved) = 0;
    // CloseHandle's result.  A part dropped without Close is closed all the same.
    virtual BOOL Close() = 0;
};

// Present instances of interface class `cls`.
uint32_t CountInstances(const GUID& cls);
// The device path of the `instance`-th of them; empty when there is none.
std::string FindDevicePath(const GUID& cls, uint32_t instance);
// Opens `path` (a device path, or one with a pipe's suffix); null when it won't open.
std::unique_ptr<DevicePart> OpenPart(const std::string& path, DWORD access);

// Arrival and removal messages of class `cls` for `window`; null when refused.
HDEVNOTIFY RegisterNotify(HWND window, const GUID& cls);
BOOL UnregisterNotify(HDEVNOTIFY handle);

}  // namespace backend
