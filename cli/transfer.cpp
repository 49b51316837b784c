#include "transfer.h"

#include <CLI/CLI.hpp>

#include "dump/numbers.h"
#include "dump/settings.h"
#include "dump/wire.h"
#include "errors.h"
#include "files.h"
#include "ops/files.h"
#include "platform.h"

namespace cli {

void AddRangeOptions(CLI::App& command, NumberOptions& numbers, RangeOptions& range)
{
    numbers.Add(command, "--addr", "device word address (default 0); the range must end below word 0x80000000", "A",
                true, dump::kMaxDumpSize, kLimitWords, range.addr);
    numbers.Add(command, "--size", "number of device words (= file bytes in the default format); K, M: KiB, MiB",
                "S", true, dump::kMaxDumpSize, kLimitWords, range.size);
    numbers.Add(command, "--mode", "index word of the request, 0 to 0xFFFF", "M", false, kMax16, kLimit16,
                range.mode);
}

void AddTimeoutOption(CLI::App& command, NumberOptions& numbers, RangeOptions& range)
{
    numbers.Add(command, "--timeout",
                "give up, cancelling as Ctrl+C does, when the device hasn't finished a transfer after this many "
                "seconds (exit 3); 0: wait for ever; default: 60 plus 1 for every 128 KiB on the wire",
                "SECONDS", false, kMaxTimeoutSeconds, kLimitTimeout, range.timeoutSeconds);
}

void AddDumpFileOptions(CLI::App& command, const char* fileHelp, DumpOptions& options)
{
    command.add_option("FILE", options.file, fileHelp);
    command
        .add_option("--settings", options.settings,
                    "a Vantor DumpSet.ini: Addr, Size, readMode, writeMode, forRead, forWrite; options given here win")
        ->type_name("FILE");
    command.add_flag("--raw", options.raw, "the 16-bit wire words as they are, 2 file bytes per word");
    command.add_flag("--no-reset", options.noReset, "leave out the reset command before the transfer");
    command.add_flag("--progress", options.progress,
                     "show the progress line also when standard error is not a console");
}

const SettingsUse kReadSettings = {dump::kKeyForWrite, &dump::DumpSettings::forWrite, &dump::DumpSettings::readMode};
const SettingsUse kWriteSettings = {dump::kKeyForRead, &dump::DumpSettings::forRead, &dump::DumpSettings::writeMode};
const SettingsUse kCheckSettings = {dump::kKeyForRead, &dump::DumpSettings::forRead, &dump::DumpSettings::readMode};

int ResolvePlan(const char* command, const DumpOptions& options, const SettingsUse& use, Plan& plan,
                dump::DumpSettings& settings)
{
    if (!options.settings.empty()) {
        std::string shown;
        if (!LoadDumpSettings(options.settings, shown, settings))
            return Fail(kExitFile, "can't read the settings file " + shown + ": there is no such file");
        plan = {settings.*use.file, settings.Addr, settings.Size, settings.*use.mode};
    }
    if (options.file)
        plan.file = *options.file;
    if (options.range.addr)
        plan.addr = *options.range.addr;
    if (options.range.size)
        plan.size = options.range.size;
    if (options.range.mode)
        plan.mode = *options.range.mode;
    if (plan.file.empty())
        return Fail(kExitUsage, std::string(command) + " needs FILE, or --settings naming one in " + use.fileKey +
                                    "; run 'uxfer " + command + " --help'");
    return plan.file == "-" ? kExitOk : Exit(ops::CheckName(SystemPath(plan.file), plan.file));
}

ops::Range RangeOf(const Plan& plan)
{
    return {plan.addr, plan.size, plan.mode};
}

std::optional<uint64_t> NeededBytes(const Plan& plan, bool raw)
{
    if (!plan.size)
        return std::nullopt;
    return raw ? uint64_t{*plan.size} * 2 : *plan.size;
}

namespace {

// The requests count 2-word units: an odd size moves one word more.
uint64_t WireBytes(uint32_t size)
{
    return (uint64_t{size} + size % 2) * 2;
}

}  // namespace

double Seconds(const Clock::time_point& start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

Json TransferSummary(const char* command, const CommonOptions& common, const DumpOptions& options, const Plan& plan,
                     double seconds)
{
    const uint32_t size = *plan.size;
    return {{"command", command},
            {"file", plan.file},
            {"instance", common.instance},
            {"addr", plan.addr},
            {"size", size},
            {"wire_bytes", WireBytes(size)},
            {"raw", options.raw},
            {"seconds", static_cast<double>(static_cast<long long>(seconds * 1000 + 0.5)) / 1000}};
}

std::string BytesText(uint32_t fileBytes, uint32_t size)
{
    return std::to_string(fileBytes) + " bytes (" + std::to_string(WireBytes(size)) + " on the wire) ";
}

std::string DeviceText(const CommonOptions& common, const Plan& plan)
{
    return "instance " + std::to_string(common.instance) + ", address " + dump::HexText(plan.addr);
}

}  // namespace cli
