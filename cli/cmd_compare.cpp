// compare: reads a range back and compares it with a file, writing nothing:
// the check after programming.  The file is taken as write takes it, and the
// range is read as write --verify reads it back.
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
DumpOptions options;
}  // namespace

void AddCompareOptions(CLI::App& command, NumberOptions& numbers)
{
    AddRangeOptions(command, numbers, options.range);
    AddDumpFileOptions(command, "the file to compare with (default: forRead of --settings)", options);
    AddTimeoutOption(command, numbers, options.range);
}

int RunCompare(const CommonOptions& common)
{
    ConsoleBreak consoleBreak;
    Plan plan;
    dump::DumpSettings settings;
    if (const int code = ResolvePlan("compare", options, kCheckSettings, plan, settings))
        return code;
    std::unique_ptr<ops::Source> source;
    if (const int code = OpenSource(plan.file, NeededBytes(plan, options.raw), source))
        return code;
    ops::Range range = RangeOf(plan);
    if (const int code = Exit(ops::FitSource("compare", range, *source, options.raw, false, kNames)))
        return code;
    plan.size = range.size;
    const uint32_t size = *plan.size;

    DeviceCall call(common, options.range.timeoutSeconds, options.raw, options.noReset, options.progress);
    if (const int code = call.Open(Opens::AllPipes))
        return code;
    const Clock::time_point start = Clock::now();
    if (const int code = Exit(call->Compare(range, *source)))
        return code;
    const double seconds = Seconds(start);
    if (common.json) {
        Json summary = TransferSummary("compare", common, options, plan, seconds);
        summary["equal"] = true;
        PrintJson(summary);
    } else if (!common.quiet) {
        const std::string file = plan.file == "-" ? "standard input" : plan.file;
        PrintLine("compared " + BytesText(options.raw ? size * 2 : size, size) + "of " + file + " with " +
                  DeviceText(common, plan) + ": equal");
    }
    return kExitOk;
}

}  // namespace cli
