// What the deliverables' documented algorithms make of the device model: the
// results, counts and bytes a call may give.  uXfer's transfers serve both its
// own driver and the dump tool's flows; the Talvix waits serve its driver.
#pragma once

#include <cstdint>
#include <vector>

#include "soak/model.h"
#include "uXfer.h"

namespace soak {

// uXfer's process-wide connection as the model sees it.
struct XferConn {
    bool control = false, readPipe = false, writePipe = false;
    uint32_t openFlags = 0;    // of the last successful open
    bool defaultClass = true;  // the interface class uSetKVVersion selected
    uint32_t instance = 0;     // instanceIndex
    bool CanRead() const { return (openFlags & OPEN_READ) && readPipe; }
    bool CanWrite() const { return (openFlags & OPEN_WRITE) && writePipe; }
};

struct XferOutcome {
    uint32_t result = RESULT_OK;
    bool countSet = false;         // the call wrote the count
    uint32_t count = 0;
    std::vector<uint8_t> buffer;   // reads: the caller's buffer afterwards
    uint32_t progress = 0;         // progress messages, when they go to the soak's window
};

// Only instance 0 of the default class is present (when plugged).
uint32_t ExpectCreate(DeviceModel& device, XferConn& conn, uint32_t flags);
uint32_t ExpectClose(XferConn& conn);
// `buffer` is the caller's buffer before the call.
XferOutcome ExpectRead(DeviceModel& device, const XferConn& conn, const TransferDesc& desc,
                       std::vector<uint8_t> buffer);
XferOutcome ExpectWrite(DeviceModel& device, const XferConn& conn, const TransferDesc& desc, const uint8_t* data);
XferOutcome ExpectVerify(DeviceModel& device, const XferConn& conn, const TransferDesc& desc,
                         std::vector<uint8_t> result4);
XferOutcome ExpectDebug(DeviceModel& device, const XferConn& conn, const TransferDesc& desc, bool read,
                        std::vector<uint8_t> buffer);

// Talvix: what its waits and requests make of the model.  A handle the model
// knows to be closed or never opened fails every call.
constexpr uint32_t kWaitNeverEnds = 0xFFFFFFFF;
uint32_t ExpectWaitReady(DeviceModel& device, bool handle);
uint32_t ExpectWaitComplete(DeviceModel& device);

}  // namespace soak
