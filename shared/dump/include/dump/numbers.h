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

// What a number reaching the device may hold, and why, as messages say it.
constexpr uint32_t kMax16 = 0xFFFF;
extern const char kLimit16[];
extern const char kLimit32[];
extern const char kLimitWords[];  // an address or size of words
// The longest timeout: a timer's milliseconds must fit in 31 bits.
constexpr uint32_t kMaxTimeoutSeconds = 2147483;
extern const char kLimitTimeout[];

// `text`, the value of `name`, as a number of at most `max`, whose reason is
// `limit`.  Empty when it is one (then in `value`), else why not:
// "NAME: 'zz' is not a number (decimal or 0x hexadecimal)", "NAME: -5 is
// negative: give 0 to MAX", "... is too large (LIMIT)".
std::string NumberProblem(const std::string& name, const std::string& text, bool allowUnit, uint64_t max,
                          const char* limit, uint64_t& value);

// "0x1F"
std::string HexText(uint64_t value);

// A read, write or verify of `size` device words from word `addr`: the
// requests carry the range's byte image (2 bytes a word) in a 32-bit address
// and a 32-bit length, so the range must end below word 0x80000000 and can't
// be empty; and the requests count 2-word units, so a write's size must be
// even.  `oddReadable`: a read or compare, which reads one word more of an odd
// size and keeps what was asked, unless the range ends at the last word.
// Why the range can't be moved, naming the two values `addrName` and
// `sizeName`; empty when it can.
std::string RangeProblem(uint32_t addr, uint32_t size, const char* addrName, const char* sizeName,
                         bool oddReadable);

// The words a source (file or array) of `length` bytes called `name` sends
// with `command` (write, compare) when no size is given: its length, or half
// of it when raw.  Empty when that is one transfer (then in `size`), else
// why not; `sizeName` names the size as the caller's user gives it.
std::string SizeFromLength(const std::string& name, const char* command, uint64_t length, bool raw,
                           const char* sizeName, bool oddReadable, uint32_t& size);
// Why a source of `length` bytes is too short for the `needed` bytes of
// `command`, ending in `remedy` ("give a smaller size"); empty when it isn't.
std::string ShortSourceProblem(const std::string& name, const char* command, uint64_t length, uint64_t needed,
                               const std::string& remedy);

// The default timeout of a call whose transfers move `wireBytes` in
// `requests` requests: a minute, a second for every 128 KiB on the wire (a
// healthy device moves far more than that), and the longest the library waits
// for the device around each request after the first.
uint32_t DefaultTimeoutSeconds(uint64_t wireBytes, uint32_t requests = 1);

}  // namespace dump
