// The device model's log records as one line of text each, the same for the
// virtual driver's log (vdevctl, tests) and the simulated devices' (uxfer sim log).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "devicemodel/model_layout.h"

namespace vdev {

std::string Describe(const VdevLogRecord& record);

// Every knob by its VDEV_KNOB_ name, with the values it takes, in the order of devicemodel/model_layout.h.
struct KnobName {
    const char* name;
    uint32_t id;
    const char* values;
};
struct KnobList {
    const KnobName* first;
    size_t count;
    const KnobName* begin() const { return first; }
    const KnobName* end() const { return first + count; }
};
KnobList Knobs();

}  // namespace vdev
