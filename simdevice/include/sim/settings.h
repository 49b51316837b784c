// devices.ini: what the simulated devices are.  Plain text, one [device]
// section an instance (numbered from 0 in their order), `name = value
// [value2]` lines, comments after '#' or ';'.  `interface` is the loader
// version whose interface class the instance publishes, or a {GUID}; every
// other name is a knob of the device model (devicemodel/model_layout.h), in any
// case: plugged, memory_bytes, descriptor, status_bytes, fail_read, ...
// Numbers are decimal or 0x hexadecimal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devicemodel/model_layout.h"
#include "loader_versions.h"

namespace sim {

constexpr uint32_t kMaxInstances = 8;

struct InstanceSettings {
    GUID interfaceClass;
    std::vector<VdevKnob> knobs;  // in the order of the file
    std::vector<unsigned> lines;  // the file line of each knob
};

// One device of the default class, plugged, knobs off: what no devices.ini means.
std::vector<InstanceSettings> DefaultSettings();

// False with `problem` ("devices.ini line N: ...") when a line is wrong.
bool ParseSettings(const std::string& text, std::vector<InstanceSettings>& instances, std::string& problem);

// "devices.ini line N: ", which begins every sentence about that line.
std::string SettingsLine(unsigned number);

// A whole word as a number, decimal or 0x, up to 32 bits; false when it is none.
bool ParseNumber(const std::string& word, uint32_t& value);

// A knob by its name (any case, '-' or '_'); false when there is none.
bool KnobByName(const std::string& name, uint32_t& id);
// The knob's lower-case name and what it takes; "" for an unknown id.
std::string KnobName(uint32_t id);
std::string KnobValues(uint32_t id);
// Every knob id, in the order of devicemodel/model_layout.h.
std::vector<uint32_t> KnobIds();

}  // namespace sim
