// DumpSet.ini beside the executable, section [Dump]: the two file paths, the
// device address, the transfer size and the two mode words.
#pragma once

#include <cstdint>
#include <string>

namespace dump {

extern const char kKeyForRead[];   // "forRead"
extern const char kKeyForWrite[];  // "forWrite"

struct DumpSettings {
    std::string forRead;   // sent to the device by Write
    std::string forWrite;  // receives the device dump of Read
    uint32_t Addr = 0;     // device start address, in 16-bit words
    uint32_t Size = 0;     // bytes of the file; each takes one device word
    uint32_t readMode = 0;   // its low 16 bits go with every device read
    uint32_t writeMode = 0;  // its low 16 bits go with every device write
};

// The folder of the running executable plus "\DumpSet.ini", built afresh on
// every call.
std::string SettingsPath();

// Every key missing from the file takes its default.
DumpSettings LoadSettings();
// The same from a settings file elsewhere; `path` must be a full path, since
// the profile functions look for a bare name in the Windows folder.  The
// paths come in the ANSI code page, whole, however long.
DumpSettings LoadSettings(const std::wstring& path);

// The text of the summary static.
std::string ComposeSummary(const DumpSettings& settings);

// Writes one path under its key; the other keys stay as they are.
void StorePath(const char* key, const std::string& path);

}  // namespace dump
