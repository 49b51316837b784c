// DumpSet.ini, section [Dump]: the two file paths, the device address, the
// transfer size and the two mode words.  A user's own file,
// %APPDATA%\uXfer Tools\DumpSet.ini, wins over the one beside the executable.
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

// The file Vantor reads, looked up afresh on every call: the user's own when
// it exists, otherwise the one in the folder of the running executable.
std::wstring SettingsPath();

// True when `name` survives the trip to the ANSI code page unchanged, with no
// best-fit substitute and no default character; `ansi` then holds it.
bool AnsiName(const std::wstring& name, std::string& ansi);

// Every key missing from the file takes its default.
DumpSettings LoadSettings();
// The same from a settings file elsewhere; `path` must be a full path, since
// the profile functions look for a bare name in the Windows folder.  The
// paths come in the ANSI code page, whole, however long.
DumpSettings LoadSettings(const std::wstring& path);

// The text of the summary static.
std::string ComposeSummary(const DumpSettings& settings);

// Writes one path under its key of the file Vantor reads; the other keys stay
// as they are.  When that file can't be written, the user's own file is made
// from a copy of it and takes the path.
void StorePath(const char* key, const std::wstring& path);

}  // namespace dump
