#include "transfer.h"

#include <CLI/CLI.hpp>

#include <cstring>
#include <functional>
#include <new>

#include "cancel.h"
#include "dump/compare.h"
#include "dump/connection.h"
#include "dump/file.h"
#include "dump/numbers.h"
#include "dump/settings.h"
#include "dump/wire.h"
#include "errors.h"
#include "files.h"
#include "session.h"
#include "win/text.h"

namespace cli {

namespace {


// `what` names the transfer in its errors: "the read of N wire bytes from instance I".
int Move(const CommonOptions& common, const DumpOptions& options, const TransferDesc& desc, const std::string& what,
         const std::function<uint32_t(uint32_t& count)>& call, ProgressLine::ChunkHandler onChunk)
{
    uint32_t count = 0;
    uint32_t result = RESULT_OK;
    if (const int code = RunCancellable([&] {
            ProgressLine progress(ProgressWanted(common, options.progress), desc.length, std::move(onChunk));
            result = call(count);
            return result == RESULT_OK && count == desc.length;
        }))
        return code;
    if (result != RESULT_OK)
        return Fail(kExitDevice, what + " failed after " + std::to_string(count) + " bytes: " + ResultText(result) +
                                     "; try 'uxfer status' and 'uxfer reset'");
    if (count != desc.length)
        return Fail(kExitDevice, what + " moved only " + std::to_string(count) + " bytes; try 'uxfer status'");
    return kExitOk;
}

}  // namespace

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

uint32_t TransferTimeout(const RangeOptions& range, uint64_t wireBytes)
{
    if (range.timeoutSeconds)
        return *range.timeoutSeconds;
    return dump::DefaultTimeoutSeconds(wireBytes);
}

int CheckRange(uint32_t addr, uint32_t size)
{
    const std::string problem = dump::RangeProblem(addr, size, "--addr", "--size");
    return problem.empty() ? kExitOk : Fail(kExitUsage, problem);
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
        const std::wstring path = FullPath(options.settings);
        if (!FileExists(path))
            return Fail(kExitFile, "can't read the settings file " + Shown(path) + ": there is no such file");
        settings = dump::LoadSettings(path);
        // The settings file is ANSI text; the tool holds names as UTF-8.
        plan = {win::Narrow(win::Widen(settings.*use.file, CP_ACP), CP_UTF8), settings.Addr, settings.Size,
                settings.*use.mode};
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
    const std::string problem = plan.file == "-" ? "" : dump::NameProblem(win::Widen(plan.file, CP_UTF8));
    if (!problem.empty())
        return Fail(kExitFile, "can't use " + plan.file + ": " + problem);
    return kExitOk;
}

int Allocate(uint32_t bytes, Buffer& buffer)
{
    buffer.reset(new (std::nothrow) uint8_t[bytes]);
    if (!buffer)
        return Fail(kExitNoMemory, "not enough memory for a transfer of " + std::to_string(bytes) +
                                       " bytes; use a smaller --size");
    return kExitOk;
}

int LoadWireImage(const char* command, const DumpOptions& options, std::optional<bool> pad, Plan& plan,
                  Buffer& wire)
{
    WriteSource source;
    uint64_t length = 0;
    if (const int code = source.Open(plan.file, length))
        return code;
    if (!plan.size) {
        uint32_t words = 0;
        const std::string problem = dump::SizeFromLength(plan.file, command, length, options.raw, "--size", words);
        if (!problem.empty())
            return Fail(kExitUsage, problem);
        plan.size = words;
    }
    if (const int code = CheckRange(plan.addr, *plan.size))
        return code;
    const uint32_t size = *plan.size;
    const uint32_t fileBytes = options.raw ? size * 2 : size;
    if (!pad.value_or(false)) {
        const std::string problem = dump::ShortSourceProblem(
            plan.file, command, length, fileBytes,
            std::string(pad ? "add --pad to fill the rest with zeros, or give" : "give") + " a smaller --size");
        if (!problem.empty())
            return Fail(kExitUsage, problem);
    }

    if (const int code = Allocate(size * 2, wire))
        return code;
    const uint32_t fromFile = length < fileBytes ? static_cast<uint32_t>(length) : fileBytes;
    if (const int code = source.ReadInto(wire.get(), fromFile))
        return code;
    std::memset(wire.get() + fromFile, 0, fileBytes - fromFile);
    if (!options.raw)
        dump::WireInPlace(wire.get(), size);
    return kExitOk;
}

int CompareRange(const char* finding, const Plan& plan, bool raw, const uint8_t* expected, const uint8_t* readBack)
{
    const uint32_t size = *plan.size;
    const dump::Difference difference = dump::CompareWire(expected, readBack, size, raw);
    if (difference.count == 0)
        return kExitOk;
    return Fail(kExitMismatch,
                dump::DifferenceText(finding, difference, size, plan.addr, raw, expected, readBack),
                {{"first_offset", dump::FileOffset(difference, raw)},
                 {"first_addr", plan.addr + difference.first},
                 {"differing_words", difference.count}});
}

int BeginTransfer(const DumpOptions& options, uint64_t wireBytes, DeviceSession& session, LARGE_INTEGER& start)
{
    if (const int code = BeginCall(TransferTimeout(options.range, wireBytes)))
        return code;
    if (const int code = session.Open(OPEN_ALL))
        return code;
    QueryPerformanceCounter(&start);
    return options.noReset ? kExitOk : session.SendReset();
}

double Seconds(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int ReadRange(const CommonOptions& common, const DumpOptions& options, const TransferDesc& desc, uint8_t* wire,
              ProgressLine::ChunkHandler onChunk)
{
    const std::string what = "the read of " + std::to_string(desc.length) + " wire bytes from instance " +
                             std::to_string(common.instance);
    return Move(
        common, options, desc, what, [&](uint32_t& count) { return uXferRead(&desc, wire, &count); },
        std::move(onChunk));
}

int WriteRange(const CommonOptions& common, const DumpOptions& options, const TransferDesc& desc,
               const uint8_t* wire)
{
    const std::string what = "the write of " + std::to_string(desc.length) + " wire bytes to instance " +
                             std::to_string(common.instance);
    return Move(
        common, options, desc, what, [&](uint32_t& count) { return uXferWrite(&desc, wire, &count); }, nullptr);
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
            {"wire_bytes", size * 2},
            {"raw", options.raw},
            {"seconds", static_cast<double>(static_cast<long long>(seconds * 1000 + 0.5)) / 1000}};
}

std::string BytesText(uint32_t fileBytes, uint32_t size)
{
    return std::to_string(fileBytes) + " bytes (" + std::to_string(size * 2) + " on the wire) ";
}

std::string DeviceText(const CommonOptions& common, const Plan& plan)
{
    return "instance " + std::to_string(common.instance) + ", address " + dump::HexText(plan.addr);
}

}  // namespace cli
