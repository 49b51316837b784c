// The settings file Vantor reads: a user's own file,
// %APPDATA%\uXfer Tools\DumpSet.ini, wins over the one beside the executable.
#pragma once

#include <string>

#include "dump/settings.h"

namespace dump {

// The file Vantor reads, looked up afresh on every call: the user's own when
// it exists, otherwise the one in the folder of the running executable.
std::wstring SettingsPath();

// True when `name` survives the trip to the ANSI code page unchanged, with no
// best-fit substitute and no default character; `ansi` then holds it.
bool AnsiName(const std::wstring& name, std::string& ansi);

// The settings of the file Vantor reads.
DumpSettings LoadSettings();

// The text of the summary static.
std::string ComposeSummary(const DumpSettings& settings);

// Writes one path under its key of the file Vantor reads; the other keys stay
// as they are.  When that file can't be written, the user's own file is made
// from a copy of it and takes the path.
void StorePath(const char* key, const std::wstring& path);

}  // namespace dump
