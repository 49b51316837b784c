// First pass over a registry script: %name% placeholders are replaced by their
// values from the replacement table, %% by one %.
#pragma once

#include <stddef.h>

#include "registry/replacement_table.h"
#include "registry/rgs_host.h"

namespace rgs {

// Longest placeholder name, in bytes.
constexpr size_t kMaxPlaceholderName = 31;

// The script ends at its first zero byte or after `size` bytes.  On success
// `text` holds the result, `length` bytes of it, without a terminator.
// kDispException for a placeholder without its closing % or a name the table
// lacks, kFail for a name longer than kMaxPlaceholderName, kOutOfMemory.
Result Preprocess(const char* script, size_t size, const ReplacementTable& table, const Locale& locale,
                  HeapBlock& text, size_t* length);

}  // namespace rgs
