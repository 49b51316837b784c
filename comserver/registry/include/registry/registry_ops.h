// The registry operations the script parser performs, so that the parser runs
// over the real registry in Talvix.dll and over an in-memory one in tests.
#pragma once

#include <stdint.h>

namespace rgs {

// An open key; 0 is none.  Root keys are predefined and never closed.
using Key = uintptr_t;

enum class Root { ClassesRoot, CurrentUser, LocalMachine, Users, PerformanceData, DynData, CurrentConfig };

enum class Access { All, ReadWrite, Read };

enum class ValueType { String, Dword, Binary };

// Longest key name the registry holds, without its terminator.
constexpr unsigned kMaxKeyName = 255;

// Names are zero-terminated ANSI strings naming one key level (no '\').
class RegistryOps {
public:
    virtual Key RootKey(Root root) = 0;
    virtual bool OpenKey(Key parent, const char* name, Access access, Key* key) = 0;
    // Creates a non-volatile key, or opens an existing one, with all access.
    virtual bool CreateKey(Key parent, const char* name, Key* key) = 0;
    virtual bool CloseKey(Key key) = 0;
    // Deletes a key that has no subkeys.
    virtual bool DeleteKey(Key parent, const char* name) = 0;
    // Name of subkey `index`, at most kMaxKeyName bytes; false past the last.
    virtual bool SubkeyName(Key key, uint32_t index, char (&name)[kMaxKeyName + 1]) = 0;
    // Whether the key has subkeys, and values other than its unnamed default.
    virtual bool QueryContents(Key key, bool* hasSubkeys, bool* hasNamedValues) = 0;
    // An empty name is the key's default value.
    virtual bool SetValue(Key key, const char* name, ValueType type, const void* data, uint32_t size) = 0;
    virtual bool DeleteValue(Key key, const char* name) = 0;

protected:
    ~RegistryOps() = default;
};

}  // namespace rgs
