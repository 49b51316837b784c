// Numbers as people type them: decimal or 0x hexadecimal; sizes may end in
// K or M (KiB, MiB).  And the limits the device's requests put on a range.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace dump {

// The value of `text`, or nothing when the text is empty or holds anything
// else.  A value beyond 64 bits comes back as UINT64_MAX, above every limit.
std::optional<uint64_t> ParseNumber(const std::string& text, bool allowUnit);

// "0x1F"
std::string HexText(uint64_t value);

// A read, write or verify of `size` device words from word `addr`: the
// requests carry the range's byte image (2 bytes a word) in a 32-bit address
// and a 32-bit length, so the range must end below word 0x80000000 and can't
// be empty.  Why the range can't be one transfer, naming the two values
// `addrName` and `sizeName`; empty when it can.
std::string RangeProblem(uint32_t addr, uint32_t size, const char* addrName, const char* sizeName);

}  // namespace dump
