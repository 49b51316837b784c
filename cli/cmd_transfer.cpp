// read and write: the requests of the dump tool's Read and Write (reset
// command, then one transfer of the whole range), with the file in the dump
// tool's format (one byte a device word) or raw (the words as they are).
//
// Memory: only the wire image (2 bytes a word) is held.  A read converts it
// to the dump in place as it arrives (dump_stream.h); a write reads the file
// into its start and expands it in place.
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "cancel.h"
#include "commands.h"
#include "dump_stream.h"
#include "dump_requests.h"
#include "errors.h"
#include "files.h"
#include "numbers.h"
#include "output.h"
#include "progress.h"
#include "session.h"
#include "settings.h"
#include "uXfer.h"
#include "wire.h"

namespace uxfer {

namespace {

using Buffer = std::unique_ptr<uint8_t[]>;

// What a read or write moves, from --settings and the options (which win).
struct Plan {
    std::string file;
    uint32_t addr = 0;
    std::optional<uint32_t> size;
    uint32_t mode = 0;
    uint32_t readMode = 0;  // the read-back of write --verify
};

int ResolvePlan(const Options& options, bool read, Plan& plan)
{
    if (!options.settings.empty()) {
        const std::wstring path = FullPath(options.settings);
        if (!FileExists(path))
            return Fail(kExitFile, "can't read the settings file " + Shown(path) + ": there is no such file");
        const dump::DumpSettings s = dump::LoadSettings(path);
        // The dump tool's settings file is ANSI text.
        plan.file = Narrow(Widen(read ? s.forWrite : s.forRead, CP_ACP), CP_UTF8);
        plan.addr = s.Addr;
        plan.size = s.Size;
        plan.mode = read ? s.readMode : s.writeMode;
        plan.readMode = s.readMode;
    }
    if (options.file)
        plan.file = *options.file;
    if (options.addr)
        plan.addr = *options.addr;
    if (options.size)
        plan.size = options.size;
    if (options.mode)
        plan.mode = *options.mode;
    if (plan.file.empty())
        return Fail(kExitUsage, std::string(read ? "read" : "write") + " needs FILE, or --settings naming one in " +
                                    (read ? "forWrite" : "forRead") + "; run 'uxfer " + (read ? "read" : "write") +
                                    " --help'");
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

int SendResetCommand(const Options& options)
{
    if (options.noReset)
        return kExitOk;
    const TransferDesc desc = dump::ResetCommandDesc();
    uint32_t count = 0;
    const uint32_t result = uDebugWriteCmd(&desc, dump::kResetCommand, &count);
    if (result != RESULT_OK)
        return Fail(kExitDevice, "the reset command to instance " + std::to_string(options.instance) +
                                     " failed: " + ResultText(result) +
                                     "; try 'uxfer status' and 'uxfer reset', or --no-reset");
    return kExitOk;
}

// The steps before every read or write: the connection (unless Ctrl+C came
// first), the clock of the summary, the reset command.
int BeginTransfer(const Options& options, DeviceSession& session, LARGE_INTEGER& start)
{
    if (ConsoleBreak::Requested())
        return Cancelled();
    if (const int code = session.Open(OPEN_ALL))
        return code;
    QueryPerformanceCounter(&start);
    return SendResetCommand(options);
}

// One uXferRead or uXferWrite of the whole range, with the progress line;
// `onChunk` is told of each chunk moved.
int Transfer(const Options& options, bool read, const TransferDesc& desc, uint8_t* wire,
             ProgressLine::ChunkHandler onChunk = nullptr)
{
    uint32_t count = 0;
    uint32_t result = RESULT_OK;
    if (const int code = RunCancellable(TransferTimeout(options, desc.length), [&] {
            ProgressLine progress(ProgressWanted(options), desc.length, std::move(onChunk));
            result = read ? uXferRead(&desc, wire, &count) : uXferWrite(&desc, wire, &count);
        }))
        return code;
    const std::string what = std::string(read ? "the read of " : "the write of ") + std::to_string(desc.length) +
                             " wire bytes " + (read ? "from" : "to") + " instance " + std::to_string(options.instance);
    if (result != RESULT_OK)
        return Fail(kExitDevice, what + " failed after " + std::to_string(count) + " bytes: " + ResultText(result) +
                                     "; try 'uxfer status' and 'uxfer reset'");
    if (count != desc.length)
        return Fail(kExitDevice, what + " moved only " + std::to_string(count) + " bytes; try 'uxfer status'");
    return kExitOk;
}

double Seconds(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void PrintSummary(const Options& options, bool read, const Plan& plan, uint32_t fileBytes, double seconds,
                  bool verified)
{
    const uint32_t size = *plan.size;
    if (options.json) {
        Json summary = {{"command", read ? "read" : "write"},
                        {"file", plan.file},
                        {"instance", options.instance},
                        {"addr", plan.addr},
                        {"size", size},
                        {"wire_bytes", size * 2},
                        {"raw", options.raw},
                        {"seconds", static_cast<double>(static_cast<long long>(seconds * 1000 + 0.5)) / 1000}};
        if (verified)
            summary["verified"] = true;
        PrintJson(summary);
        return;
    }
    if (options.quiet)
        return;
    const std::string wire = std::to_string(fileBytes) + " bytes (" + std::to_string(size * 2) + " on the wire) ";
    const std::string device = "instance " + std::to_string(options.instance) + ", address " + HexText(plan.addr);
    const std::string file = plan.file == "-" ? "standard input" : plan.file;
    if (read)
        PrintLine("read " + wire + "from " + device + " into " + file);
    else
        PrintLine("wrote " + wire + "from " + file + " to " + device + (verified ? ", verified" : ""));
}

// The device words of the range as a read of them gives, against what was written.
int Compare(const Options& options, const Plan& plan, const uint8_t* written, const uint8_t* readBack)
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

int RunRead(const Options& options)
{
    // First made, last gone: Ctrl+C is handled until the temporary file is removed.
    ConsoleBreak consoleBreak(options.instance);
    Plan plan;
    if (const int code = ResolvePlan(options, true, plan))
        return code;
    if (!plan.size)
        return Fail(kExitUsage, "read needs --size (or --settings); run 'uxfer read --help'");
    if (const int code = CheckRange(plan.addr, *plan.size))
        return code;
    const uint32_t size = *plan.size;
    const uint32_t fileBytes = options.raw ? size * 2 : size;

    DumpOutput output;
    if (const int code = output.Prepare(plan.file))
        return code;
    Buffer wire;
    if (const int code = Allocate(size * 2, wire))
        return code;

    DeviceSession session(options.instance, options.loaderVersion.value_or(0));
    LARGE_INTEGER start;
    if (const int code = BeginTransfer(options, session, start))
        return code;
    DumpStream stream(output, wire.get(), size * 2, options.raw);
    if (const int code = Transfer(options, true, dump::DeviceDesc(plan.addr, size, plan.mode), wire.get(),
                                  [&stream](uint32_t bytes) { stream.Received(bytes); }))
        return code;
    const double seconds = Seconds(start);
    if (const int code = stream.Finish())
        return code;
    // Standard output carries the dump itself.
    if (plan.file != "-")
        PrintSummary(options, true, plan, fileBytes, seconds, false);
    return kExitOk;
}

int RunWrite(const Options& options)
{
    ConsoleBreak consoleBreak(options.instance);
    Plan plan;
    if (const int code = ResolvePlan(options, false, plan))
        return code;
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

    DeviceSession session(options.instance, options.loaderVersion.value_or(0));
    LARGE_INTEGER start;
    if (const int code = BeginTransfer(options, session, start))
        return code;
    if (const int code = Transfer(options, false, dump::DeviceDesc(plan.addr, size, plan.mode), wire.get()))
        return code;
    if (options.verify) {
        // Read back the way a read does, with the read mode word.
        if (const int code = SendResetCommand(options))
            return code;
        if (const int code = Transfer(options, true, dump::DeviceDesc(plan.addr, size, plan.readMode), readBack.get()))
            return code;
        if (const int code = Compare(options, plan, wire.get(), readBack.get()))
            return code;
    }
    PrintSummary(options, false, plan, fileBytes, Seconds(start), options.verify);
    return kExitOk;
}

}  // namespace uxfer
