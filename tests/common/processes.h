// Child programs of the tests and benchmarks: started with their standard
// output and error captured, each in a file of its own or together, waited
// for with a limit, killed when late.
#pragma once

#include <windows.h>

#include <string>

#include "win/unique_any.h"

// Folder of the test program (the build's bin folder), ending in '\'.
std::string ProgramFolder();

// Why 32-bit programs can't run beside this one, as the test bed found out
// (UXFER_RUNS_32BIT=0 in its environment); empty when they run.
std::string Why32BitProgramsDontRun();

struct ChildResult {
    bool finished = false;        // false: it could not start or did not end in time (then killed)
    DWORD exitCode = 0xFFFFFFFF;  // only set once the program has ended
    std::string out;              // standard output, CR LF turned into LF (a lone CR stays)
    std::string err;              // standard error, likewise; empty when merged into `out`
};

struct ChildOptions {
    enum class Output {
        Separate,   // standard output and error each captured on its own
        Merged,     // both captured in one stream, in the order written
        Discarded,  // both to NUL
        Inherited,  // no standard handles given: the program finds its own
    };
    Output output = Output::Separate;
    std::string input;    // file for standard input; NUL when empty (not with Inherited)
    HANDLE inputPipe = nullptr;  // instead of `input`: the inheritable read end of a pipe
    std::wstring folder;  // current folder of the program; this process's when empty
    DWORD flags = 0;      // creation flags (CREATE_NO_WINDOW gives it a console of its own)
};

// One child process.  A program still running when its owner goes is killed.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Start(const std::wstring& commandLine, const ChildOptions& options = {});
    HANDLE Handle() const { return process_.get(); }
    DWORD Id() const { return id_; }
    // Standard error so far, while the program runs.
    std::string ErrorsSoFar() const;
    // Waits for the end; kills the program after the limit.
    ChildResult Wait(DWORD timeoutMs);

private:
    win::unique_handle process_;
    DWORD id_ = 0;
    std::string outFile_, errFile_;
};

struct CommandResult {
    bool finished = false;        // false: could not start or timed out (then killed)
    DWORD exitCode = 0xFFFFFFFF;  // only set once the program has ended
    std::string output;           // standard output and error, CR LF turned into LF
};
// Runs a command line with standard input from NUL, in `folder` (this
// process's current folder when empty).
CommandResult RunCommand(const std::string& commandLine, DWORD timeoutMs = 60000, const std::string& folder = "");
// Runs a program of the test program's folder, in that folder.
CommandResult RunProgram(const std::string& exeName, const std::string& arguments, DWORD timeoutMs = 60000);
