// The device model (devicemodel/, the virtual device runs it too)
// beside the device: every knob the soak arms goes to both, and the device's
// log is replayed on the model request by request.  Where the two disagree
// the device did something else than its rules say, and the soak, which
// judges the deliverables by that log, would judge on sand.  The replay also
// tells which faults really hit a request.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "usb_protocol.h"
#include "vdev_backchannel.h"
#include "devicemodel/model.h"

namespace soak {

// Faults the replay saw hitting a request, by kind.
enum Hit { kHitControl, kHitRead, kHitWrite, kHitShortRead, kHitHeldRead, kHitOpen, kHitStatusError, kHits };
extern const char* const kHitNames[kHits];

class DeviceTwin {
public:
    DeviceTwin();
    ~DeviceTwin();
    DeviceTwin(const DeviceTwin&) = delete;
    DeviceTwin& operator=(const DeviceTwin&) = delete;

    bool Ready() const { return ready_; }
    // The back channel's reset: the model's, and the log starts again.
    void Reset();
    // False when the model refuses the knob.
    bool Knob(uint32_t id, uint32_t value, uint32_t value2);
    // Replays the records from the next one not yet replayed on; empty, or
    // what the device did otherwise.
    std::string Follow(const std::vector<VdevLogRecord>& log);
    uint32_t Next() const { return next_; }

    uint64_t hits[kHits] = {};

private:
    std::string Replay(const VdevLogRecord& record);

    DeviceModel model_;
    bool ready_ = false;
    uint32_t next_ = 0;
};

}  // namespace soak
