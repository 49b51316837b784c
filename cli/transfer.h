// What read, write, compare and verify share: the range of device words and
// the timeout of a transfer; and what read, write and compare share: the dump
// file options, the plan of a dump, the file a write sends, the steps before a
// transfer, the transfer itself with its progress line and the comparison of
// a range read back.  A read or write sends the requests of the dump tool's
// Read and Write (reset command, then one transfer of the whole range).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "options.h"
#include "output.h"
#include "progress.h"
#include "uXfer.h"

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

// Prints why `size` words from word `addr` can't be one transfer and
// returns the exit code; kExitOk when they can.
int CheckRange(uint32_t addr, uint32_t size);

// The seconds a command whose transfers move `wireBytes` may take:
// --timeout, or a default that grows with the size; 0: no limit.
uint32_t TransferTimeout(const RangeOptions& range, uint64_t wireBytes);

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

using Buffer = std::unique_ptr<uint8_t[]>;
// Prints the error and returns the exit code when the memory can't be had.
int Allocate(uint32_t bytes, Buffer& buffer);

// The wire image of plan.file for `command` (write, compare), checked before
// the device is touched: without a size in the plan the file's length gives
// it.  A file shorter than the range is refused unless `pad` holds true
// (then zeros fill the rest); no `pad`: the command has no --pad.  The file
// is read into the start of the image and expanded in place.  Prints the
// error and returns the exit code.
int LoadWireImage(const char* command, const DumpOptions& options, std::optional<bool> pad, Plan& plan,
                  Buffer& wire);

// Compares the wire image `readBack` of the plan's range with `expected`:
// whole words when raw, else the first byte of each, all the default format
// carries.  On a difference prints "<finding> N of M words different, the
// first ..." (with --json the first file offset, word address and the count
// in the error object) and returns kExitMismatch.
int CompareRange(const char* finding, const Plan& plan, bool raw, const uint8_t* expected, const uint8_t* readBack);

// The steps before every read or write: the call of the device, whose
// transfers move `wireBytes` (unless Ctrl+C came first), the connection, the
// clock of the summary, the reset command (unless --no-reset).
int BeginTransfer(const DumpOptions& options, uint64_t wireBytes, DeviceSession& session, LARGE_INTEGER& start);
double Seconds(const LARGE_INTEGER& start);

// One uXferRead or uXferWrite of the whole range on `instance`, with the
// progress line; a read's `onChunk` is told of each chunk moved.
int ReadRange(const CommonOptions& common, const DumpOptions& options, const TransferDesc& desc, uint8_t* wire,
              ProgressLine::ChunkHandler onChunk = nullptr);
int WriteRange(const CommonOptions& common, const DumpOptions& options, const TransferDesc& desc,
               const uint8_t* wire);

// The JSON summary of a read or write.
Json TransferSummary(const char* command, const CommonOptions& common, const DumpOptions& options, const Plan& plan,
                     double seconds);
// "N bytes (M on the wire) " and "instance I, address A" of the text summary.
std::string BytesText(uint32_t fileBytes, uint32_t size);
std::string DeviceText(const CommonOptions& common, const Plan& plan);

}  // namespace cli
