// Exit codes of the tool and the one-line error messages that go with them.
#pragma once

#include <cstdint>
#include <string>

#include "dump/results.h"
#include "ops/error.h"
#include "ops/files.h"
#include "output.h"

namespace cli {

using dump::ResultText;
using ops::SystemErrorText;

// What exit codes 2 and 130 cover on this system.
#ifdef _WIN32
#define CLI_NO_DEVICE_MEANING                                                        \
    "no device at the instance, or it can't be opened; uXfer.dll (with --simulate,\n" \
    "       uXferSim.dll) can't be loaded from uxfer's folder"
#define CLI_CANCELLED_MEANING "cancelled (Ctrl+C, Ctrl+Break, the console closed, logoff or shutdown)"
#else
#define CLI_NO_DEVICE_MEANING \
    "no device at the instance, or it can't be opened (no permission, in use by another program)"
#define CLI_CANCELLED_MEANING "cancelled (Ctrl+C, SIGTERM or SIGHUP)"
#endif

// The one table of the exit codes: name, value and what it means, as the
// help text says it.
#define CLI_EXIT_CODES(X)                                                                                    \
    X(kExitOk, 0, "success")                                                                                 \
    X(kExitUsage, 1,                                                                                         \
      "bad usage (unknown command or option, missing or bad value, a range beyond the device's address\n"    \
      "       space, short write file without --pad, short compare file, --hex without FILE '-')")          \
    X(kExitNoDevice, 2, CLI_NO_DEVICE_MEANING)                                                               \
    X(kExitDevice, 3, "a device request or transfer failed, or the device gave no answer within --timeout")  \
    X(kExitFile, 4, "a file can't be read or written")                                                       \
    X(kExitMismatch, 5, "verification or compare found a difference")                                        \
    X(kExitNoMemory, 6, "not enough memory for the transfer")                                                \
    X(kExitBusy, 7, "another program kept the device in use for longer than --timeout")                      \
    X(kExitCancelled, 130, CLI_CANCELLED_MEANING)

enum ExitCode : int {
#define CLI_EXIT_CODE_NAME(name, value, meaning) name = value,
    CLI_EXIT_CODES(CLI_EXIT_CODE_NAME)
#undef CLI_EXIT_CODE_NAME
};

// The exit codes and the --json outcome, for the foot of every help text.
std::string ExitCodeHelp();

// Prints "uxfer: <message>" as one line on standard error and returns `code`.
// After FailAsJson, prints {"command", "error", "exit"} on standard output
// instead, so that a script reads every outcome in one format.
int Fail(int code, const std::string& message);
// The same; with --json, the members of `details` follow "error" in the object.
int Fail(int code, const std::string& message, const Json& details);
// `command`: the command's name, or null when the line names none.
void FailAsJson(const char* command);

struct CommonOptions;

// How uxfer names what the dump operations' sentences mention.
extern const ops::Names kNames;
// The same with the options that chose the device, which advice repeats.
ops::Names NamesOf(const CommonOptions& common);
// Prints `error` (kExitOk when it holds none) and returns the exit code of its
// kind; with --json a difference adds first_offset, first_addr and
// differing_words.
int Exit(const ops::Error& error);

}  // namespace cli
