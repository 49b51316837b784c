// What the tool needs of its system, behind one seam: windows/ and linux/
// hold the two sides (with the commands only one system has).  Everything
// else in cli/ is the same on every system.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "dump/settings.h"
#include "ops/files.h"

namespace CLI {
class App;
}

namespace cli {

struct CommonOptions;

// How the tool reaches the device ("uXfer.dll"), for the help, and what
// --simulate uses.
extern const char kDeviceAccess[];
extern const char kSimulateHelp[];
// Where the simulated devices live, for the help of sim.
extern const char kSimulatedFolders[];
// The options of the device only this system has (--usb, --device on Linux).
void AddDeviceOptions(CLI::App& command, CommonOptions& common);
// --loader-version's help, and why it can't be given at all ("" when it can).
std::string LoaderVersionHelp();
std::string LoaderVersionRefusal(bool simulate);
// Makes the system ready for the command: loads the transfer library, or
// refuses options that mean nothing here.  Prints the error and returns the
// exit code.
int PrepareSystem(const CommonOptions& common);

// The local time with its offset from UTC, ISO 8601: "2024-05-01T14:03:07.250+02:00".
std::string LocalTimeStamp();

// Standard output or standard error is a console or terminal.
bool IsConsole(FILE* stream);
// `line` and a line break on `stream`, in the console's own characters
// where it is one.
void WriteConsoleLine(FILE* stream, const std::string& line);

// The reset request with `code` to the device the options chose.  Prints the
// error and returns the exit code.
int SendResetRequest(const CommonOptions& common, uint32_t code);

// A name as the user gave it (UTF-8) as the system's path, and back.
ops::Path SystemPath(const std::string& name);
std::string SystemText(const ops::Path& path);
// A settings file (DumpSet.ini) named as the user gave it: the name shown in
// sentences (its full path), and its settings.  False: there is no such file.
bool LoadDumpSettings(const std::string& name, std::string& shown, dump::DumpSettings& settings);

}  // namespace cli
