// User-mode side of the virtual device's back channel: install, plug, script and
// inspect instances.  Used by tests, benchmarks and the vdevctl tool only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "vdev_backchannel.h"
#include "devicemodel/records.h"
#include "win/unique_any.h"

namespace vdev {

// The product classes an instance can publish.
extern const GUID kDefaultClass;  // {F826D4FB-...}, what a new instance publishes
extern const GUID kClassV3;
extern const GUID kClassV2;

// Owns a back-channel handle of one instance (ROOT\VDEV\000n).
class Device {
public:
    Device() = default;

    // Opens instance n's back channel; false when it is not there.
    bool Open(unsigned instance);
    bool IsOpen() const { return handle_.valid(); }

    // Idle state, knobs off, log emptied, memory zeroed, default descriptor,
    // driver state zero, plugged, held read dropped.  Class and memory size stay.
    bool Reset();
    bool Knob(uint32_t id, uint32_t value, uint32_t value2 = 0);

    bool FailControl(uint32_t k, uint8_t request = 0) { return Knob(VDEV_KNOB_FAIL_CONTROL, k, request); }
    bool FailRead(uint32_t k) { return Knob(VDEV_KNOB_FAIL_READ, k); }
    bool FailWrite(uint32_t k) { return Knob(VDEV_KNOB_FAIL_WRITE, k); }
    bool ShortRead(uint32_t k, uint32_t bytes) { return Knob(VDEV_KNOB_SHORT_READ, k, bytes); }
    bool PendRead(uint32_t k) { return Knob(VDEV_KNOB_PEND_READ, k); }
    bool ShortStatusReply(uint32_t bytes) { return Knob(VDEV_KNOB_STATUS_REPLY_BYTES, bytes); }
    bool ReleaseRead() { return Knob(VDEV_KNOB_RELEASE_READ, 0); }
    bool HoldActive(uint32_t polls) { return Knob(VDEV_KNOB_ACTIVE_POLLS, polls); }
    bool ErrorAtPoll(uint32_t k) { return Knob(VDEV_KNOB_ERROR_AT_POLL, k); }
    bool HoldPending(uint32_t polls) { return Knob(VDEV_KNOB_PENDING_POLLS, polls); }
    bool FailDriverState(uint32_t k) { return Knob(VDEV_KNOB_FAIL_DRIVER_STATE, k); }
    // The k-th open of VDEV_PIPE_IN or VDEV_PIPE_OUT is refused.
    bool FailOpen(uint32_t k, uint32_t pipe) { return Knob(VDEV_KNOB_FAIL_OPEN, k, pipe); }
    bool SetPlugged(bool plugged) { return Knob(VDEV_KNOB_PLUGGED, plugged ? 1 : 0); }
    bool SetMemorySize(uint32_t bytes) { return Knob(VDEV_KNOB_MEMORY_BYTES, bytes); }
    bool SetDescriptor(uint16_t idVendor, uint16_t idProduct, uint16_t bcdDevice)
    {
        return Knob(VDEV_KNOB_DESCRIPTOR, idVendor | (uint32_t(idProduct) << 16), bcdDevice);
    }
    // Bytes 1 to 7 of every status block.
    bool SetStatusBytes(const uint8_t bytes[7]);
    bool SetDriverState(const DriverState& state);
    bool SetDebugIn(const void* data, size_t size);
    // Publishes the product interface under another class (unplugs the old one).
    bool SetClass(const GUID& cls);

    bool LoadMemory(uint32_t byteOffset, const void* data, size_t size);
    bool ReadMemory(uint32_t byteOffset, void* data, size_t size);
    bool Info(VdevInfo& info);
    // Records with seq >= first, in order.
    std::vector<VdevLogRecord> Log(uint32_t first = 0);

private:
    bool Ioctl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned = nullptr);
    win::unique_file handle_;
};

// Instance management through SetupAPI and the service manager.  The driver
// file is installed as the real driver's file name under system32\drivers.
bool InstallDriver(const std::string& sysFile);  // service + instance 0
bool UninstallDriver();                           // every instance, then the service
int AddInstance();                                // returns n of ROOT\VDEV\000n, -1 on failure
bool RemoveInstance(unsigned instance);
unsigned CountInterfaces(const GUID& cls);        // present interfaces of a class
bool WaitInterfaces(const GUID& cls, unsigned count, DWORD timeoutMs);

}  // namespace vdev
