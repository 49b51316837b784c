// The faults the soak arms on the device: one row a fault.
#pragma once

#include <cstddef>
#include <cstdint>

#include "soak/soak.h"

namespace soak {

struct Fault {
    const char* name;
    FaultKind kind;
    uint32_t knob;  // the back channel's knob that arms it
    // Draws the knob's values beyond the first, which is 1 to 4 unless this changes it.
    void (*setUp)(Rng& rng, uint32_t& value, uint32_t& value2);
    // Kinds that may not be armed together with this one.
    uint32_t conflicts;
    // The device then holds a read, which the helper thread must act on.
    bool holdsRead;
};

// In the order of the kinds' bits.
extern const Fault kFaults[];
extern const size_t kFaultKinds;

}  // namespace soak
