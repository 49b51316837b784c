// uxfer.exe under faults: read, write (with --verify), compare, verify,
// status and reset, each a process of the soak's own edition or, for the
// 32-bit soak where it runs, the x64 edition, started through the launcher of
// its bitness so that the pipe shim is in it.  Judged by its exit code
// against what the device's log shows, and its files against device memory;
// a command that fails leaves the old file.
#include <cstdio>
#include <map>

#include "common/processes.h"
#include "dumptool/test_files.h"
#include "soak/soak.h"
#include "usb_protocol.h"
#include "win/text.h"
#include "win/unique_any.h"

namespace soak {

namespace {

enum Exit { kOk = 0, kUsage = 1, kNoDevice = 2, kDevice = 3, kFile = 4, kMismatch = 5 };

using dumptest::ReadAll;
using dumptest::WriteAll;

using dumptest::Exists;

class CliDriver : public Driver {
public:
    explicit CliDriver(Context& ctx)
        : dump_(ctx.folder + "cli_dump.bin"), image_(ctx.folder + "cli_image.bin")
    {
        const std::string bin = ProgramFolder();
        editions_.push_back({bin + "vdevrun.exe", bin + "uxfer.exe", sizeof(void*) == 8 ? "x64" : "x86"});
        if (Exists(bin + "x64\\uxfer.exe") && Exists(bin + "x64\\vdevrun.exe") && Runs64())
            editions_.push_back({bin + "x64\\vdevrun.exe", bin + "x64\\uxfer.exe", "x64"});
        // A reset may come before any step has picked one: the soak's own edition.
        edition_ = &editions_.front();
        DeleteFileA(dump_.c_str());
    }
    ~CliDriver() override
    {
        std::printf("soak: uxfer exit codes:");
        for (const auto& seen : exits_)
            std::printf(" %lu x %u", seen.first, seen.second);
        std::printf("\n");
    }
    const char* Name() const override { return "uxfer"; }
    void Step(Context& ctx) override;
    void Settle(Context&) override {}
    bool ResetDevice(Context& ctx) override
    {
        if (!ctx.plugged)
            return false;
        ChildResult run = Run(ctx, "reset");
        ctx.Expect(run.finished && run.exitCode == kOk, "uxfer reset: exit %lu %s", run.exitCode, run.err.c_str());
        return true;
    }

private:
    struct Edition {
        std::string launcher, program;
        const char* name;
    };
    static bool Runs64()
    {
        BOOL wow = FALSE;
        return IsWow64Process(GetCurrentProcess(), &wow) && wow;
    }
    ChildResult Run(Context& ctx, const std::string& arguments);
    // The reset command (a debug write) as every transfer begins; false when it failed.
    static bool Opened(const OpLog& log);
    // The transfer of `request` after the opening: all of `bytes` moved.
    static bool Whole(const OpLog& log, uint8_t request, uint16_t type, uint32_t bytes);
    void Read(Context& ctx, const std::string& range, uint32_t addr, uint32_t words, bool raw);
    void Write(Context& ctx, uint32_t addr, uint32_t words, bool raw);
    void Compare(Context& ctx, const std::string& range, uint32_t addr, uint32_t words, bool raw);
    void Verify(Context& ctx, uint32_t addr, uint32_t words);
    // A held read is left to --timeout or cancelled by another program's reset.
    std::string ArmTransfer(Context& ctx, uint32_t kinds);

    std::vector<Edition> editions_;  // not changed after construction: edition_ points into it
    const Edition* edition_;
    std::string dump_, image_;
    uint32_t mark_ = 0;
    std::map<DWORD, unsigned> exits_;
};

ChildResult CliDriver::Run(Context& ctx, const std::string& arguments)
{
    const std::string line = "\"" + edition_->launcher + "\" \"" + edition_->program + "\" " + arguments + " --delay 0";
    ctx.Note("[%s] uxfer %s", edition_->name, arguments.c_str());
    ChildProcess child;
    ChildOptions options;
    options.folder = win::Widen(ProgramFolder(), CP_ACP);
    mark_ = ctx.Mark();
    if (!child.Start(win::Widen(line, CP_ACP), options))
        ctx.Fail("uxfer could not be started");
    ChildResult run = child.Wait(60000);
    // uxfer of the soak's own bitness shares the library's instance index
    // with it: unless it refused its arguments, it selected instance 0.
    if (edition_ == &editions_.front() && run.exitCode != kUsage)
        XferInstanceSelectedElsewhere();
    ctx.Note("-> exit %lu", run.exitCode);
    ++exits_[run.exitCode];
    ctx.Expect(run.finished, "uxfer did not end within 60 s");
    return run;
}

bool CliDriver::Opened(const OpLog& log)
{
    const auto debug = log.Vendor(REQ_DEBUG);
    const auto writes = log.Pipe(VDEV_LOG_WRITE);
    return !debug.empty() && Ok(*debug[0]) && !writes.empty() && Ok(*writes[0]);
}

bool CliDriver::Whole(const OpLog& log, uint8_t request, uint16_t type, uint32_t bytes)
{
    const auto commands = log.Vendor(request);
    if (commands.empty() || !Ok(*commands[0]))
        return false;
    const OpLog transfer = log.After(*commands[0]);
    return !transfer.AnyFailed(type) && transfer.MovedBeforeReset(type) == bytes;
}

std::string CliDriver::ArmTransfer(Context& ctx, uint32_t kinds)
{
    const HeldReadPlan plan = ctx.ArmFaults(kinds, 2, {HeldRead::Leave, HeldRead::CancelTalvix});
    return plan.armed && plan.action != HeldRead::Release ? " --timeout 1" : ctx.rng.Percent(30) ? " --timeout 30" : "";
}

void CliDriver::Read(Context& ctx, const std::string& range, uint32_t addr, uint32_t words, bool raw)
{
    const std::vector<uint8_t> old = Bytes(ctx.rng.Below(64), ctx.rng.Next());
    if (ctx.rng.Percent(30))
        DeleteFileA(dump_.c_str());
    else
        WriteAll(dump_, old);
    const bool existed = Exists(dump_);
    // An old dump open without sharing can't be replaced.
    win::unique_file held;
    if (existed && ctx.rng.Percent(8)) {
        held.reset(CreateFileA(dump_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ctx.Note("[dump held open]");
    }
    const std::string timeout = ArmTransfer(ctx, kFailControl | kFailRead | kShortRead | kPendRead | kFailWrite);
    const ChildResult run = Run(ctx, "read \"" + dump_ + "\"" + range + (raw ? " --raw" : "") + timeout);
    const bool locked = held.valid();
    held.reset();
    const OpLog log = ctx.LogSince(mark_);
    const bool moved = Opened(log) && Whole(log, REQ_READ, VDEV_LOG_READ, 2 * words);
    // A file that can't be replaced is found before the device is looked for.
    const int want = locked ? kFile : !ctx.plugged ? kNoDevice : !moved ? kDevice : kOk;
    ctx.Expect(static_cast<int>(run.exitCode) == want, "uxfer read: exit %lu, the log says %d: %s", run.exitCode,
               want, run.err.c_str());
    if (run.exitCode == kOk) {
        std::vector<uint8_t> wire(2 * words);
        for (uint32_t i = 0; i < wire.size(); ++i)
            wire[i] = ctx.Before(2 * addr + i);
        ctx.Expect(ReadAll(dump_) == (raw ? wire : DumpOf(wire)), "uxfer read: the file differs from device memory");
    } else {
        ctx.Expect(Exists(dump_) == existed && (!existed || ReadAll(dump_) == old),
                   "uxfer read failed and changed the old dump");
    }
}

void CliDriver::Write(Context& ctx, uint32_t addr, uint32_t words, bool raw)
{
    const bool verify = ctx.rng.Percent(50);
    const std::vector<uint8_t> file = Bytes(raw ? 2 * words : words, ctx.rng.Next());
    WriteAll(image_, file);
    const std::vector<uint8_t> wire = raw ? file : WireOf(file);
    ctx.Sent(wire);
    const std::string timeout =
        ArmTransfer(ctx, kFailControl | kFailWrite | (verify ? kFailRead | kShortRead | kPendRead : 0));
    const ChildResult run = Run(ctx, "write \"" + image_ + "\" --addr " + std::to_string(addr) + (raw ? " --raw" : "") +
                                         (verify ? " --verify" : "") + timeout);
    const OpLog log = ctx.LogSince(mark_);
    int want = !ctx.plugged ? kNoDevice : Opened(log) && Whole(log, REQ_WRITE, VDEV_LOG_WRITE, 2 * words) ? kOk : kDevice;
    if (want == kOk && verify) {
        // The read-back: writes past the end of memory are lost, reads there give 0xFF.
        want = Whole(log, REQ_READ, VDEV_LOG_READ, 2 * words) ? kOk : kDevice;
        for (uint32_t i = 0; want == kOk && i < wire.size(); i += raw ? 1 : 2)
            if (2 * addr + i >= ctx.MemoryBytes() && wire[i] != 0xFF)
                want = kMismatch;
    }
    ctx.Expect(static_cast<int>(run.exitCode) == want, "uxfer write: exit %lu, the log says %d: %s", run.exitCode,
               want, run.err.c_str());
}

void CliDriver::Compare(Context& ctx, const std::string& range, uint32_t addr, uint32_t words, bool raw)
{
    std::vector<uint8_t> wire(2 * words);
    for (uint32_t i = 0; i < wire.size(); ++i)
        wire[i] = ctx.Before(2 * addr + i);
    std::vector<uint8_t> file = raw ? wire : DumpOf(wire);
    const bool differs = !file.empty() && ctx.rng.Percent(40);
    if (differs)
        file[ctx.rng.Below(static_cast<uint32_t>(file.size()))] ^= 0x5A;
    WriteAll(image_, file);
    const std::string timeout = ArmTransfer(ctx, kFailControl | kFailRead | kShortRead | kPendRead | kFailWrite);
    const ChildResult run = Run(ctx, "compare \"" + image_ + "\"" + range + (raw ? " --raw" : "") + timeout);
    const OpLog log = ctx.LogSince(mark_);
    const int want = !ctx.plugged                                                    ? kNoDevice
                     : !(Opened(log) && Whole(log, REQ_READ, VDEV_LOG_READ, 2 * words)) ? kDevice
                     : differs                                                       ? kMismatch
                                                                                     : kOk;
    ctx.Expect(static_cast<int>(run.exitCode) == want, "uxfer compare: exit %lu, the log says %d: %s", run.exitCode,
               want, run.err.c_str());
}

void CliDriver::Verify(Context& ctx, uint32_t addr, uint32_t words)
{
    ctx.ArmFaults(kFailControl | kFailRead | kShortRead, 2);
    const ChildResult run = Run(ctx, "verify --addr " + std::to_string(addr) + " --size " + std::to_string(words));
    const auto reads = ctx.LogSince(mark_).Pipe(VDEV_LOG_READ);
    const bool whole = reads.size() == 1 && Ok(*reads[0]) && reads[0]->b == 4;
    ctx.Expect(static_cast<int>(run.exitCode) == (!ctx.plugged ? kNoDevice : whole ? kOk : kDevice),
               "uxfer verify: exit %lu: %s", run.exitCode, run.err.c_str());
    if (!whole || run.exitCode != kOk)
        return;
    uint32_t sum = 0;
    for (uint32_t i = 0; i < words; ++i)
        sum += ctx.Before(2 * (addr + i)) | (ctx.Before(2 * (addr + i) + 1) << 8);
    char line[64];
    std::snprintf(line, sizeof line, "verify: %02X %02X %02X %02X\n", sum & 0xFF, (sum >> 8) & 0xFF,
                  (sum >> 16) & 0xFF, sum >> 24);
    ctx.Expect(_stricmp(run.out.c_str(), line) == 0, "uxfer verify printed \"%s\", device memory sums to %08X",
               run.out.c_str(), sum);
}

void CliDriver::Step(Context& ctx)
{
    Rng& rng = ctx.rng;
    edition_ = &editions_[rng.Below(static_cast<uint32_t>(editions_.size()))];
    // Mostly inside memory, sometimes across its end; sizes are even.
    const uint32_t addr = rng.Below(ctx.MemoryBytes() / 2 + 256);
    const uint32_t words = 2 * rng.Range(1, rng.Percent(20) ? 40000 : 600);
    const std::string range = " --addr " + std::to_string(addr) + " --size " + std::to_string(words);
    const bool raw = rng.Percent(30);
    switch (rng.Below(8)) {
    case 0:
    case 1:
        Read(ctx, range, addr, words, raw);
        break;
    case 2:
    case 3:
        Write(ctx, addr, words, raw);
        break;
    case 4:
        Compare(ctx, range, addr, words, raw);
        break;
    case 5:
        // An odd size is refused for verify and write before anything reaches the device.
        if (rng.Percent(20)) {
            WriteAll(image_, Bytes(words + 1, rng.Next()));
            const std::string odd = " --addr 0 --size " + std::to_string(words + 1);
            const ChildResult run = Run(ctx, rng.Percent(50) ? "verify" + odd : "write \"" + image_ + "\"" + odd);
            ctx.Expect(run.exitCode == kUsage && ctx.LogSince(mark_).records.empty(),
                       "uxfer of an odd size: exit %lu: %s", run.exitCode, run.err.c_str());
        } else {
            Verify(ctx, addr, words);
        }
        break;
    case 6: {
        ctx.ArmFaults(kFailControl | kActivePolls | kErrorAtPoll, 2);
        const ChildResult run = Run(ctx, "status");
        const auto polls = ctx.LogSince(mark_).Vendor(REQ_STATUS);
        const bool ok = !polls.empty() && Ok(*polls.back());
        ctx.Expect(static_cast<int>(run.exitCode) == (!ctx.plugged ? kNoDevice : ok ? kOk : kDevice),
                   "uxfer status: exit %lu: %s", run.exitCode, run.err.c_str());
        break;
    }
    default: {
        const uint32_t code = rng.Below(0x10000);
        ctx.ArmFaults(kFailControl, 1);
        const ChildResult run = Run(ctx, "reset " + std::to_string(code));
        const auto resets = ctx.LogSince(mark_).Vendor(REQ_RESET);
        const bool ok = resets.size() == 1 && Ok(*resets[0]) && IndexOf(*resets[0]) == code;
        ctx.Expect(static_cast<int>(run.exitCode) == (!ctx.plugged ? kNoDevice : ok ? kOk : kDevice),
                   "uxfer reset %u: exit %lu: %s", code, run.exitCode, run.err.c_str());
        break;
    }
    }
    WIN32_FIND_DATAA found;
    const win::unique_find left(FindFirstFileA((ctx.folder + "uxf*.tmp").c_str(), &found));
    ctx.Expect(!left, "uxfer left the temporary file %s", left ? found.cFileName : "");
}

}  // namespace

Driver* NewCliDriver(Context& ctx)
{
    return new CliDriver(ctx);
}

}  // namespace soak
