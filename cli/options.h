// The command line: one command and its options, checked before anything
// touches a file or the device.  Each command adds its own options to its
// subcommand (commands.h); the options every command takes are here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dump/numbers.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace cli {

struct Command;

// The options every command takes.
struct CommonOptions {
    uint32_t instance = 0;
    std::optional<uint32_t> loaderVersion;  // 272, 288 or 304
    std::optional<uint32_t> delay;          // milliseconds
    bool quiet = false;
    bool json = false;
    bool simulate = false;  // uXferSim.dll instead of uXfer.dll
    // Linux: ids used besides the configured ones (--usb), and the device by
    // its port path (--device) instead of --instance.
    std::vector<std::string> usb;
    std::optional<std::string> device;
};

// What a number reaching the device may hold, and why.
using dump::kLimit16;
using dump::kLimit32;
using dump::kLimitTimeout;
using dump::kLimitWords;
using dump::kMax16;
using dump::kMaxTimeoutSeconds;

// Number options are taken as text and converted after parsing, so that
// every bad value gets the same message and exit code.
class NumberOptions {
public:
    // Adds the option (or positional) `name` to `command`: at most `max`,
    // `limit` says why; `allowUnit`: K and M for KiB and MiB.
    CLI::Option* Add(CLI::App& command, const char* name, const char* help, const char* typeName, bool allowUnit,
                     uint32_t max, const char* limit, std::optional<uint32_t>& target);
    // Converts the values given, in the order their options were added.
    // Prints the first bad one and returns the exit code.
    int Convert();

private:
    struct Number {
        const char* name;
        std::optional<std::string> text;
        bool allowUnit;
        uint32_t max;
        const char* limit;
        std::optional<uint32_t>* target;
    };
    std::vector<Number> numbers_;
};

struct ParseResult {
    const Command* command = nullptr;  // null: help, version or a usage error was printed
    int exitCode = 0;                  // when there is no command to run
};

ParseResult ParseCommandLine(int argc, char** argv, CommonOptions& common);

}  // namespace cli
