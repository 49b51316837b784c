// A dump settings file (DumpSet.ini), section [Dump]: the two file paths, the
// device address, the transfer size and the two mode words.
#pragma once

#include <cstdint>
#include <string>

namespace dump {

inline constexpr char kSettingsSection[] = "Dump";
inline constexpr char kKeyForRead[] = "forRead";
inline constexpr char kKeyForWrite[] = "forWrite";

struct DumpSettings {
    std::string forRead;   // sent to the device by Write
    std::string forWrite;  // receives the device dump of Read
    uint32_t Addr = 0;     // device start address, in 16-bit words
    uint32_t Size = 0;     // bytes of the file; each takes one device word
    uint32_t readMode = 0;   // its low 16 bits go with every device read
    uint32_t writeMode = 0;  // its low 16 bits go with every device write
};

// Every key missing from the file takes its default.  `path` must be a full
// path, since the profile functions look for a bare name in the Windows
// folder.  The paths come in the ANSI code page, whole, however long.
#ifdef _WIN32
DumpSettings LoadSettings(const std::wstring& path);
#else
DumpSettings LoadSettings(const std::string& path);
#endif

}  // namespace dump
