// write: a file into device memory, as the dump tool's Write, from its format
// (one byte a device word) or raw; --verify reads the range back.
//
// Memory: the file is read into the start of the wire image and expanded in
// place.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>

#include "cancel.h"
#include "commands.h"
#include "dump/dump_requests.h"
#include "dump/settings.h"
#include "dump/wire.h"
#include "errors.h"
#include "files.h"
#include "numbers.h"
#include "session.h"
#include "transfer.h"

namespace cli {

namespace {

struct WriteOptions : DumpOptions {
    bool pad = false;
    bool verify = false;
} options;

// The device words of the range as a read of them gives, against what was written.
int Compare(const Plan& plan, const uint8_t* written, const uint8_t* readBack)
{
    const uint32_t size = *plan.size;
    uint32_t differing = 0, first = 0;
    for (uint32_t i = 0; i < size; ++i) {
        // The default format carries only the first byte of each word.
        const bool same = written[2 * i] == readBack[2 * i] && (!options.raw || written[2 * i + 1] == readBack[2 * i + 1]);
        if (!same && differing++ == 0)
            first = i;
    }
    if (differing == 0)
        return kExitOk;
    char detail[96];
    std::snprintf(detail, sizeof detail, " (wrote %02X %02X, read %02X %02X)", written[2 * first],
                  written[2 * first + 1], readBack[2 * first], readBack[2 * first + 1]);
    return Fail(kExitMismatch, "verification found " + std::to_string(differing) + " of " + std::to_string(size) +
                                   " words different, the first at word address " + HexText(plan.addr + first) + detail);
}

}  // namespace

void AddWriteOptions(CLI::App& command, NumberOptions& numbers)
{
    AddRangeOptions(command, numbers, options.range);
    AddDumpFileOptions(command, "the file to write (default: forRead of --settings)", options);
    command.add_flag("--pad", options.pad, "fill with zeros what a short FILE lacks");
    command.add_flag("--verify", options.verify, "read the range back and compare");
    AddTimeoutOption(command, numbers, options.range);
}

int RunWrite(const CommonOptions& common)
{
    ConsoleBreak consoleBreak(common.instance);
    Plan plan;
    uint32_t readMode = 0;  // of the read-back
    if (!options.settings.empty()) {
        dump::DumpSettings s;
        if (const int code = LoadSettingsFile(options.settings, s))
            return code;
        plan = {SettingsFilePath(s.forRead), s.Addr, s.Size, s.writeMode};
        readMode = s.readMode;
    }
    ApplyOptions(options, plan);
    if (plan.file.empty())
        return Fail(kExitUsage, "write needs FILE, or --settings naming one in forRead; run 'uxfer write --help'");
    WriteSource source;
    uint64_t length = 0;
    if (const int code = source.Open(plan.file, length))
        return code;
    if (!plan.size) {
        if (options.raw && length % 2)
            return Fail(kExitUsage, plan.file + " has " + std::to_string(length) +
                                        " bytes, an odd number: a raw file holds 2 bytes a word");
        const uint64_t words = options.raw ? length / 2 : length;
        if (words == 0)
            return Fail(kExitUsage, plan.file + " is empty: there is nothing to write");
        if (words > dump::kMaxDumpSize)
            return Fail(kExitUsage, plan.file + " has " + std::to_string(length) +
                                        " bytes, more than one transfer carries (" + HexText(dump::kMaxDumpSize) +
                                        " words); give a --size");
        plan.size = static_cast<uint32_t>(words);
    }
    if (const int code = CheckRange(plan.addr, *plan.size))
        return code;
    const uint32_t size = *plan.size;
    const uint32_t fileBytes = options.raw ? size * 2 : size;
    if (length < fileBytes && !options.pad)
        return Fail(kExitUsage, plan.file + " has " + std::to_string(length) + " bytes, fewer than the " +
                                    std::to_string(fileBytes) + " bytes the write needs; add --pad to fill the rest "
                                                                "with zeros, or give a smaller --size");

    Buffer wire;
    if (const int code = Allocate(size * 2, wire))
        return code;
    const uint32_t fromFile = length < fileBytes ? static_cast<uint32_t>(length) : fileBytes;
    if (const int code = source.ReadInto(wire.get(), fromFile))
        return code;
    std::memset(wire.get() + fromFile, 0, fileBytes - fromFile);
    if (!options.raw)
        dump::WireInPlace(wire.get(), size);
    Buffer readBack;
    if (options.verify)
        if (const int code = Allocate(size * 2, readBack))
            return code;

    DeviceSession session(common.instance, common.loaderVersion.value_or(0));
    LARGE_INTEGER start;
    if (const int code = BeginTransfer(options, session, start))
        return code;
    if (const int code = WriteRange(common, options, dump::DeviceDesc(plan.addr, size, plan.mode), wire.get()))
        return code;
    if (options.verify) {
        // Read back the way a read does, with the read mode word.
        if (!options.noReset)
            if (const int code = session.SendReset())
                return code;
        if (const int code = ReadRange(common, options, dump::DeviceDesc(plan.addr, size, readMode), readBack.get()))
            return code;
        if (const int code = Compare(plan, wire.get(), readBack.get()))
            return code;
    }
    const double seconds = Seconds(start);
    if (common.json) {
        Json summary = TransferSummary("write", common, options, plan, seconds);
        if (options.verify)
            summary["verified"] = true;
        PrintJson(summary);
    } else if (!common.quiet) {
        const std::string file = plan.file == "-" ? "standard input" : plan.file;
        PrintLine("wrote " + BytesText(fileBytes, size) + "from " + file + " to " + DeviceText(common, plan) +
                  (options.verify ? ", verified" : ""));
    }
    return kExitOk;
}

}  // namespace cli
