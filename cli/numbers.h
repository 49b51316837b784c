// Numbers on the command line: decimal or 0x hexadecimal; sizes may end in
// K or M (KiB, MiB).
#pragma once

#include <cstdint>
#include <string>

namespace uxfer {

// False when the text is empty, holds anything else, or the value doesn't
// fit in 32 bits.
bool ParseNumber(const std::string& text, bool allowUnit, uint32_t& value);

}  // namespace uxfer
