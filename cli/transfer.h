// What read, write, compare and verify share: the range of device words and
// the timeout of the call; and what read, write and compare share: the dump
// file options, the plan of a dump and its summary.  The transfers themselves
// are the dump operations' (ops/operation.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "options.h"
#include "ops/operation.h"
#include "output.h"

namespace dump {
struct DumpSettings;
}

namespace cli {

class DeviceSession;

// --addr, --size and --mode count 16-bit device words; --timeout of a transfer.
struct RangeOptions {
    std::optional<uint32_t> addr;
    std::optional<uint32_t> size;
    std::optional<uint32_t> mode;
    std::optional<uint32_t> timeoutSeconds;  // 0: no limit
};

void AddRangeOptions(CLI::App& command, NumberOptions& numbers, RangeOptions& range);
void AddTimeoutOption(CLI::App& command, NumberOptions& numbers, RangeOptions& range);

// The options of read and write.
struct DumpOptions {
    RangeOptions range;
    std::string settings;  // a Vantor settings file; empty: none
    std::optional<std::string> file;
    bool raw = false;
    bool noReset = false;
    bool progress = false;
};

// FILE and the options of the dump file, with `fileHelp` for FILE.
void AddDumpFileOptions(CLI::App& command, const char* fileHelp, DumpOptions& options);

// What a read or write moves, from --settings and the options (which win).
struct Plan {
    std::string file;
    uint32_t addr = 0;
    std::optional<uint32_t> size;
    uint32_t mode = 0;
};

// What a command takes from a settings file: the path under one key
// (forRead or forWrite) and one of its mode words.
struct SettingsUse {
    const char* fileKey;
    std::string dump::DumpSettings::*file;
    uint32_t dump::DumpSettings::*mode;
};
extern const SettingsUse kReadSettings;   // forWrite, readMode
extern const SettingsUse kWriteSettings;  // forRead, writeMode
extern const SettingsUse kCheckSettings;  // forRead, readMode: what a read-back compares with

// The plan of `command`: what --settings gives as `use` says, then the file
// and range of the options, which win.  `settings` receives what the file
// held (defaults without --settings).  Prints the error and returns the exit
// code, also when no file is named.
int ResolvePlan(const char* command, const DumpOptions& options, const SettingsUse& use, Plan& plan,
                dump::DumpSettings& settings);

// The range of the plan, for the dump operations.
ops::Range RangeOf(const Plan& plan);
// The file bytes the plan's size takes from a source; none without a size.
std::optional<uint64_t> NeededBytes(const Plan& plan, bool raw);

// The clock of a summary's seconds.
using Clock = std::chrono::steady_clock;
double Seconds(const Clock::time_point& start);

// The JSON summary of a read or write.
Json TransferSummary(const char* command, const CommonOptions& common, const DumpOptions& options, const Plan& plan,
                     double seconds);
// "N bytes (M on the wire) " and "instance I, address A" of the text summary.
std::string BytesText(uint32_t fileBytes, uint32_t size);
std::string DeviceText(const CommonOptions& common, const Plan& plan);

}  // namespace cli
