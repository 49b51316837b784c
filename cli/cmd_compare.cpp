// compare: reads a range back and compares it with a file, writing nothing:
// the check after programming.  The file is taken as write takes it, and the
// range is read as write --verify reads it back.
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
    ConsoleBreak consoleBreak(common.instance);
    Plan plan;
    dump::DumpSettings settings;
    if (const int code = ResolvePlan("compare", options, kCheckSettings, plan, settings))
        return code;
    Buffer expected;
    if (const int code = LoadWireImage("compare", options, std::nullopt, plan, expected))
        return code;
    const uint32_t size = *plan.size;
    Buffer readBack;
    if (const int code = Allocate(size * 2, readBack))
        return code;

    DeviceSession session(common.instance, common.loaderVersion.value_or(0));
    LARGE_INTEGER start;
    if (const int code = BeginTransfer(options, uint64_t{size} * 2, session, start))
        return code;
    if (const int code = ReadRange(common, options, dump::DeviceDesc(plan.addr, size, plan.mode), readBack.get()))
        return code;
    if (const int code = CompareRange("comparison found", plan, options.raw, expected.get(), readBack.get()))
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
