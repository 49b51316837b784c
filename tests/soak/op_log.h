// What the device's log says a stretch of an operation did: its vendor
// requests with their outcome, its pipe transfers, and where in memory the
// bytes of each transfer went or came from.
#pragma once

#include <cstdint>
#include <vector>

#include "vdev_backchannel.h"

namespace soak {

// The bytes one pipe transfer moved inside a memory data phase: at byte
// `device` of memory, and at `caller` of what the caller passed, which
// advances by what each transfer of the phase asked for.
struct Move {
    bool in;
    uint32_t caller, device, bytes;
};

struct OpLog {
    std::vector<VdevLogRecord> records;

    // The records after `command` up to the next request other than a status poll.
    OpLog After(const VdevLogRecord& command) const;
    // The vendor requests with this bRequest, in order.
    std::vector<const VdevLogRecord*> Vendor(uint8_t request) const;
    // Every vendor request (status polls included) and driver-state query, in order.
    std::vector<const VdevLogRecord*> Controls() const;
    // Pipe transfers of VDEV_LOG_READ or VDEV_LOG_WRITE, in order.
    std::vector<const VdevLogRecord*> Pipe(uint16_t type) const;
    // Bytes the successful transfers of `type` moved before the first reset request.
    uint32_t MovedBeforeReset(uint16_t type) const;
    // Successful transfers of `type` before the first reset request.
    uint32_t TransfersBeforeReset(uint16_t type) const;
    bool AnyFailed(uint16_t type) const;
    std::vector<Move> Moves() const;
};

bool Ok(const VdevLogRecord& record);
uint8_t RequestOf(const VdevLogRecord& record);  // bRequest of a vendor request
uint16_t IndexOf(const VdevLogRecord& record);   // its wIndex
// The data stage as the record holds it (the answer, for an IN request).
const uint8_t* StageOf(const VdevLogRecord& record);

}  // namespace soak
