// Child programs of the tests: started with their output captured, waited
// for with a limit.
#pragma once

#include <windows.h>

#include <string>

// Folder of the test program (the build's bin folder), ending in '\'.
std::string ProgramFolder();

struct CommandResult {
    bool finished = false;         // false: could not start or timed out (then killed)
    DWORD exitCode = 0xFFFFFFFF;   // only set once the program has ended
    std::string output;            // standard output and error, CR LF turned into LF
};
// Runs a command line with standard input from NUL, in `folder` (this
// process's current folder when empty).
CommandResult RunCommand(const std::string& commandLine, DWORD timeoutMs = 60000, const std::string& folder = "");
// Runs a program of the test program's folder, in that folder.
CommandResult RunProgram(const std::string& exeName, const std::string& arguments, DWORD timeoutMs = 60000);
