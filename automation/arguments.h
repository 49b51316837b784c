// The arguments and results of the object's members as script hosts pass
// them.  Numbers come as any numeric VARIANT or as text uxfer takes ("0x1000",
// "4096", "4K"); numbers go out as Long, or Double past Long's range: never
// an unsigned type, which VBScript can't compute with.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "failure.h"

namespace automation {

// An optional argument the caller left out (or passed as Empty).
bool Missing(const VARIANT& value);

// What a number argument named `name` may be.
struct NumberRule {
    const char* name;
    bool allowUnit;     // K and M (KiB, MiB), for sizes and addresses
    uint64_t max;
    const char* limit;  // says `max` in the message of a value above it
};

// `value` as a number by `rule`; a failure says why (UXA_E_ARGUMENT).
Failure ToNumber(const VARIANT& value, const NumberRule& rule, uint32_t& number);
// Boolean, number or text ("True", "1").
Failure ToFlag(const VARIANT& value, const char* name, bool& flag);

// Long when it fits, else Double.
void PutNumber(int64_t number, VARIANT* result);
// An array of Variants holding Strings, or Longs.
Failure PutStrings(const std::vector<std::wstring>& strings, VARIANT* result);
Failure PutLongs(const uint8_t* values, uint32_t count, VARIANT* result);
Failure PutText(const std::string& text, VARIANT* result);

// A Failure of not enough memory for `what`.
Failure NoMemory(const std::string& what);

}  // namespace automation
