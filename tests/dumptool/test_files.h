// Files the dump tool's tests hand to it: a scratch folder, whole-file reads
// and writes, DumpSet.ini beside the test programs, and a pipe that hangs up.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "win/unique_any.h"

namespace dumptest {

// DumpSet.ini in the folder of the running program, which is also Vantor.exe's.
std::string SettingsFile();
// The user's own settings, %APPDATA%\uXfer Tools\DumpSet.ini.
std::string UserSettingsFile();
// Both settings files, made writable first.
void RemoveSettings();
// Writes the file as given, "[Dump]" line included.
void WriteSettings(const std::string& text);
std::string ReadText(const std::string& path);

bool Exists(const std::string& path);
std::vector<uint8_t> ReadAll(const std::string& path);
bool WriteAll(const std::string& path, const std::vector<uint8_t>& bytes);

// A fresh folder under the temporary folder, removed with its files.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "\\" + name; }
    // The names of the files in it.
    std::vector<std::string> Names() const;

private:
    std::string path_;
};

// A named pipe whose server hangs up as soon as a client has connected, so
// that the client's next read or write fails.
class HangUpPipe {
public:
    HangUpPipe();
    ~HangUpPipe();
    HangUpPipe(const HangUpPipe&) = delete;
    HangUpPipe& operator=(const HangUpPipe&) = delete;
    const std::string& Name() const { return name_; }

private:
    std::string name_;
    win::unique_file server_;
    std::thread waiter_;
};

}  // namespace dumptest
