// Exit codes of the tool and the one-line error messages that go with them.
#pragma once

#include <cstdint>
#include <string>

namespace uxfer {

enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 1,        // unknown command or option, bad value
    kExitNoDevice = 2,     // nothing at the instance, or it can't be opened
    kExitDevice = 3,       // a device request or transfer failed
    kExitFile = 4,         // a file can't be read or written
    kExitMismatch = 5,     // verification found a difference
    kExitNoMemory = 6,     // not enough memory for the transfer
    kExitCancelled = 130,  // Ctrl+C or Ctrl+Break
};

// "RESULT_IO_FAILED (0xC0000005)"; codes the library doesn't define are shown in hex only.
std::string ResultText(uint32_t result);

// The system's reason for the last failed call, as "error N: text".
std::string SystemErrorText(unsigned long error);

// Prints "uxfer: <message>" as one line on standard error and returns `code`.
// After FailAsJson, prints {"command", "error", "exit"} on standard output
// instead, so that a script reads every outcome in one format.
int Fail(int code, const std::string& message);
// `command`: the command's name, or null when the line names none.
void FailAsJson(const char* command);

}  // namespace uxfer
