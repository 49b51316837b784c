// write: a file into device memory, as the dump tool's Write, from its format
// (one byte a device word) or raw; --verify reads the range back.

#include <CLI/CLI.hpp>

#include "cancel.h"
#include "commands.h"
#include "dump/settings.h"
#include "errors.h"
#include "files.h"
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
    ConsoleBreak consoleBreak;
    Plan plan;
    dump::DumpSettings settings;  // its readMode goes with the read-back
    if (const int code = ResolvePlan("write", options, kWriteSettings, plan, settings))
        return code;
    std::unique_ptr<ops::Source> source;
    if (const int code = OpenSource(plan.file, NeededBytes(plan, options.raw), source))
        return code;
    ops::Range range = RangeOf(plan);
    if (const int code = Exit(ops::FitSource("write", range, *source, options.raw, options.pad, kNames)))
        return code;
    plan.size = range.size;
    const uint32_t size = *plan.size;
    const uint32_t fileBytes = options.raw ? size * 2 : size;

    DeviceCall call(common, options.range.timeoutSeconds, options.raw, options.noReset, options.progress);
    if (const int code = call.Open(Opens::AllPipes))
        return code;
    const Clock::time_point start = Clock::now();
    // Read back the way a read does, with the read mode word.
    const std::optional<uint32_t> readBackMode =
        options.verify ? std::optional<uint32_t>(settings.readMode) : std::nullopt;
    if (const int code = Exit(call->Write(range, *source, options.pad, readBackMode)))
        return code;
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
