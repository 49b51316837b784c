// write: a file into device memory, as the dump tool's Write, from its format
// (one byte a device word) or raw; --verify reads the range back.

#include <CLI/CLI.hpp>

#include "cancel.h"
#include "commands.h"
#include "dump/dump_requests.h"
#include "dump/settings.h"
#include "errors.h"
#include "session.h"
#include "transfer.h"

namespace cli {

namespace {

struct WriteOptions : DumpOptions {
    bool pad = false;
    bool verify = false;
} options;

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
    dump::DumpSettings settings;  // its readMode goes with the read-back
    if (const int code = ResolvePlan("write", options, kWriteSettings, plan, settings))
        return code;
    Buffer wire;
    if (const int code = LoadWireImage("write", options, options.pad, plan, wire))
        return code;
    const uint32_t size = *plan.size;
    const uint32_t fileBytes = options.raw ? size * 2 : size;
    Buffer readBack;
    if (options.verify)
        if (const int code = Allocate(size * 2, readBack))
            return code;

    DeviceSession session(common.instance, common.loaderVersion.value_or(0));
    LARGE_INTEGER start;
    if (const int code = BeginTransfer(options, uint64_t{size} * (options.verify ? 4 : 2), session, start))
        return code;
    if (const int code = WriteRange(common, options, dump::DeviceDesc(plan.addr, size, plan.mode), wire.get()))
        return code;
    if (options.verify) {
        if (ConsoleBreak::Requested())
            return Fail(kExitCancelled,
                        "cancelled after the write, before its verification: the device holds the data unverified");
        // Read back the way a read does, with the read mode word.
        if (!options.noReset)
            if (const int code = session.SendReset())
                return code;
        const TransferDesc readBackDesc = dump::DeviceDesc(plan.addr, size, settings.readMode);
        if (const int code = ReadRange(common, options, readBackDesc, readBack.get()))
            return code;
        if (const int code = CompareRange("verification found", plan, options.raw, wire.get(), readBack.get()))
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
