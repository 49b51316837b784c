// read: device memory into a file, as the dump tool's Read, in its format
// (one byte a device word) or raw (the words as they are).

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
struct ReadOptions : DumpOptions {
    bool hex = false;
} options;
}  // namespace

void AddReadOptions(CLI::App& command, NumberOptions& numbers)
{
    AddRangeOptions(command, numbers, options.range);
    AddDumpFileOptions(command, "the dump file (default: forWrite of --settings)", options);
    command.add_flag("--hex", options.hex,
                     "with FILE '-': print a hex dump (word address, words, characters) instead of the bytes");
    AddTimeoutOption(command, numbers, options.range);
}

int RunRead(const CommonOptions& common)
{
    // First made, last gone: Ctrl+C is handled until the temporary file is removed.
    ConsoleBreak consoleBreak;
    Plan plan;
    dump::DumpSettings settings;
    if (const int code = ResolvePlan("read", options, kReadSettings, plan, settings))
        return code;
    if (!plan.size)
        return Fail(kExitUsage, "read needs --size (or --settings); run 'uxfer read --help'");
    if (const int code = Exit(ops::CheckRange(RangeOf(plan), kNames, true)))
        return code;
    if (options.hex && plan.file != "-")
        return Fail(kExitUsage, "--hex prints on standard output: give FILE '-'");
    // The hex dump is for people; a script reads the bytes themselves.
    if (options.hex && common.json)
        return Fail(kExitUsage, "--hex doesn't go with --json: read into a file, or leave out --json");
    const uint32_t size = *plan.size;
    const uint32_t fileBytes = options.raw ? size * 2 : size;

    DumpOutput output;
    if (const int code = output.Prepare(plan.file))
        return code;
    if (options.hex)
        output.AsHexDump(plan.addr, options.raw);
    DeviceCall call(common, options.range.timeoutSeconds, options.raw, options.noReset, options.progress);
    if (const int code = call.Open(Opens::AllPipes))
        return code;
    const Clock::time_point start = Clock::now();
    if (const int code = Exit(call->Read(RangeOf(plan), output)))
        return code;
    const double seconds = Seconds(start);
    // Standard output carries the dump itself.
    if (plan.file == "-")
        return kExitOk;
    if (common.json)
        PrintJson(TransferSummary("read", common, options, plan, seconds));
    else if (!common.quiet)
        PrintLine("read " + BytesText(fileBytes, size) + "from " + DeviceText(common, plan) + " into " + plan.file);
    return kExitOk;
}

}  // namespace cli
