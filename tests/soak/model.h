// What the soak expects of the virtual device: a model of its memory, its
// data phase, its status and its fault knobs, advanced request by request as
// the deliverables' documented algorithms send them.  The oracles of the three
// drivers replay those algorithms on this model to know what each call may
// return, which bytes it may deliver and what device memory holds afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vdev_backchannel.h"

namespace soak {

// What the helper thread does with a read the device holds.
enum class HeldRead {
    Release,       // back channel: the read completes as if never held
    CancelXfer,    // uSetCancel(2) from the helper: reset request, the read fails
    CancelTalvix,  // ResetOrCancel on the helper's own object: same on the device
};

struct PipeResult {
    bool ok = false;
    uint32_t moved = 0;
    std::vector<uint8_t> data;  // reads: the bytes moved
};

class DeviceModel {
public:
    DeviceModel() { Resize(256 * 1024); }

    // The back channel's reset: defaults, memory zeroed, size kept, plugged.
    void Reset();
    void Resize(uint32_t bytes);
    // Knobs as the back channel takes them (id, value, value2).
    void Knob(uint32_t id, uint32_t value, uint32_t value2);
    // Every fault knob off (what the soak does after each operation).
    void ClearKnobs();

    // One vendor request; `stage` is its data stage (out: filled for status).
    // False when the device fails it.
    bool Vendor(uint8_t request, uint16_t index, uint8_t* stage, uint32_t stageSize);
    // The driver-state query: false when it fails; `pending` set as reported.
    bool DriverState(bool& pending);
    PipeResult PipeRead(uint32_t size);
    PipeResult PipeWrite(const uint8_t* data, uint32_t size);

    // The action the helper takes on the next held read.
    void OnHeldRead(HeldRead action) { heldAction_ = action; }
    // Set when the helper's uSetCancel ran during the last held read.
    bool xferCancelRaised = false;

    // A data phase with bytes left (a Talvix wait would never end).
    bool PhaseOpen() const { return remaining_ > 0; }
    const std::vector<uint8_t>& Memory() const { return memory_; }
    uint32_t MemoryBytes() const { return static_cast<uint32_t>(memory_.size()); }
    // Bytes a memory read delivers at a byte offset (0xFF past the end).
    uint8_t ByteAt(uint32_t offset) const { return offset < memory_.size() ? memory_[offset] : 0xFF; }

    bool plugged = true;

private:
    enum class Phase { None, MemoryIn, MemoryOut, Verify, Debug };
    void StartPhase(Phase phase, uint32_t cursor, uint32_t bytes);
    void EndPhase();
    void Consume(uint32_t bytes);
    uint32_t ReadLimit(uint32_t size);
    static bool Hits(uint32_t& target, uint32_t counter);

    std::vector<uint8_t> memory_;
    Phase phase_ = Phase::None;
    uint32_t cursor_ = 0, remaining_ = 0;
    bool takenLatch_ = false, errorLatched_ = false;
    uint8_t verify_[4] = {};
    // Counters since the knobs were armed, and the knobs' targets on them.
    uint32_t controls_ = 0, reads_ = 0, writes_ = 0, polls_ = 0, stateQueries_ = 0;
    uint32_t failControlAt_ = 0, failReadAt_ = 0, failWriteAt_ = 0, shortReadAt_ = 0, pendReadAt_ = 0;
    uint32_t failStateAt_ = 0, errorAtPoll_ = 0, shortReadBytes_ = 0, activePolls_ = 0, pendingPolls_ = 0;
    uint8_t failControlRequest_ = 0;
    HeldRead heldAction_ = HeldRead::Release;
};

// The device's default debug-in bytes: 0, 1, 2, ... 255, repeated.
uint8_t DebugByte(uint32_t offset);

// Reproducible bytes for writes and files.
std::vector<uint8_t> Bytes(uint32_t size, uint32_t seed);

}  // namespace soak
