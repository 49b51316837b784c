// The command line: one command and its options, checked before anything
// touches a file or the device.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace uxfer {

enum class Command { List, Read, Write, Verify, Status, Reset, Watch };

struct Options {
    Command command = Command::List;

    // Every command.
    uint32_t instance = 0;
    std::optional<uint32_t> loaderVersion;  // 272, 288 or 304
    std::optional<uint32_t> delay;          // milliseconds
    bool quiet = false;
    bool json = false;

    // read, write, verify.  Addresses and sizes count 16-bit device words.
    std::optional<uint32_t> addr;
    std::optional<uint32_t> size;
    std::optional<uint32_t> mode;

    // read, write.
    std::string settings;  // a Vantor settings file; empty: none
    std::optional<std::string> file;
    bool raw = false;
    bool noReset = false;
    bool progress = false;

    // write.
    bool pad = false;
    bool verify = false;

    // reset.
    uint32_t resetCode = 2;

    // read, write, verify: the longest wait for one transfer, 0: none; watch: how long it watches.
    std::optional<uint32_t> timeoutSeconds;
};

struct ParseResult {
    bool run = false;  // false: help, version or a usage error was printed
    int exitCode = 0;  // when not run
};

ParseResult ParseCommandLine(int argc, char** argv, Options& options);

// The seconds a transfer of `wireBytes` may take: --timeout, or a default
// that grows with the size; 0: no limit.
uint32_t TransferTimeout(const Options& options, uint32_t wireBytes);

}  // namespace uxfer
