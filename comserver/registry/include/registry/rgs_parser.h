// Registry scripts: a root name and a block of entries, repeated.
//
//   HKCR
//   {
//       [ForceRemove|NoRemove|Delete] name [= s|d|b 'value'] [{ entries }]
//       val name = s|d|b 'value'
//   }
//
// Register mode writes what the script names; when it fails inside a root's
// block, that block is run again in unregister mode to take back what it wrote.
// Unregister mode removes what the script names, leaving every key that still
// holds something the script does not name.
#pragma once

#include <stddef.h>

#include "registry/registry_ops.h"
#include "registry/replacement_table.h"
#include "registry/rgs_host.h"

namespace rgs {

enum class Mode { Register, Unregister };

// Deepest nesting of blocks; the registry itself holds no more levels.
constexpr unsigned kMaxNesting = 512;

// Preprocesses the script (rgs_preprocess.h) and runs it over `registry`.
// kDispException for a syntax error, an unknown root, a key that cannot be
// created or a key handle that cannot be closed; kFail for an odd number of
// hexadecimal digits; kOutOfMemory; the locale's result for a bad number.
Result RunRegistryScript(const char* script, size_t size, const ReplacementTable& table, Mode mode,
                         RegistryOps& registry, Allocator& allocator, const Locale& locale);

}  // namespace rgs
