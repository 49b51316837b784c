// The dump tool's Read and Write flows, run in this process on real files:
// the outcome each flow reports against what the device's log shows, device
// memory after a Write, and the dump file after a Read against device memory
// (a Read that did not succeed leaves the previous dump exactly as it was, or
// no file where there was none).  No flow leaves a temporary file behind.
#include <fstream>
#include <iterator>

#include "flows.h"
#include "soak/soak.h"
#include "usb_protocol.h"
#include "win/unique_any.h"

namespace soak {

namespace {

class Reported : public dump::Reporter {
public:
    void Show(dump::Outcome outcome) override
    {
        ++shown;
        last = outcome;
    }
    int shown = 0;
    dump::Outcome last = dump::Outcome::OpenFileFailed;
};

// A file's bytes, or nothing when it does not exist.
struct FileState {
    bool exists = false;
    std::vector<uint8_t> bytes;
};

FileState Snapshot(const std::string& path)
{
    FileState state;
    std::ifstream file(path, std::ios::binary);
    state.exists = file.good();
    if (state.exists)
        state.bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return state;
}

// The name of a temporary file of the dump tool's in `folder`, or "".
std::string LeftoverTemporary(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    const win::unique_find search(FindFirstFileA((folder + "vnt*.tmp").c_str(), &found));
    return search ? found.cFileName : "";
}

void StoreFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class VantorDriver : public Driver {
public:
    // A dump left by an earlier run would make a replay start elsewhere.
    explicit VantorDriver(Context& ctx) : dumpPath_(ctx.folder + "dump.bin"), sourcePath_(ctx.folder + "source.bin")
    {
        DeleteFileA(dumpPath_.c_str());
    }
    const char* Name() const override { return "Vantor"; }
    void Step(Context& ctx) override;
    void Settle(Context&) override {}
    bool ResetDevice(Context&) override { return false; }

private:
    // uCreate(7) and the reset command (a debug write), as both flows begin;
    // the outcome when they stop the flow.
    bool ExpectOpening(Context& ctx, const OpLog& log, dump::Outcome& outcome);
    // The transfer after the opening: whether all of it moved.
    static bool Whole(const OpLog& log, uint8_t request, uint16_t type, uint32_t length);
    void Read(Context& ctx, dump::DumpSettings& settings);
    void Write(Context& ctx, dump::DumpSettings& settings);

    std::string dumpPath_, sourcePath_;
};

bool VantorDriver::ExpectOpening(Context& ctx, const OpLog& log, dump::Outcome& outcome)
{
    if (ExpectXferCreate(ctx, OPEN_ALL) != RESULT_OK) {
        outcome = dump::Outcome::OpenUsbFailed;
        return false;
    }
    const auto debug = log.Vendor(REQ_DEBUG);
    const auto writes = log.Pipe(VDEV_LOG_WRITE);
    ctx.Expect(!debug.empty(), "the flow sent no reset command");
    if (!Ok(*debug[0]) || writes.empty() || !Ok(*writes[0]) || writes[0]->a != 12) {
        outcome = dump::Outcome::ResetFailed;  // the connection stays open
        return false;
    }
    return true;
}

bool VantorDriver::Whole(const OpLog& log, uint8_t request, uint16_t type, uint32_t length)
{
    const auto commands = log.Vendor(request);
    if (commands.size() != 1 || !Ok(*commands[0]))
        return false;
    const OpLog transfer = log.After(*commands[0]);
    return !transfer.AnyFailed(type) && transfer.MovedBeforeReset(type) == length;
}

void VantorDriver::Read(Context& ctx, dump::DumpSettings& s)
{
    const bool creatable = ctx.rng.Percent(95);
    s.forWrite = creatable ? dumpPath_ : ctx.folder + "missing\\dump.bin";
    if (creatable && ctx.rng.Percent(20))
        DeleteFileA(dumpPath_.c_str());
    const FileState before = Snapshot(s.forWrite);
    std::vector<HeldRead> cancels = {HeldRead::CancelTalvix};
    if (XferCancelReaches(ctx))
        cancels.push_back(HeldRead::CancelXfer);
    ctx.ArmFaults(kFailControl | kFailRead | kFailWrite | kShortRead | kPendRead, 2, cancels);

    const uint32_t mark = ctx.Mark();
    Reported reported;
    dump::ReadFlow(s, reported);
    ctx.Note("-> \"%s\"", dump::OutcomeText(reported.last));
    const OpLog log = ctx.LogSince(mark);
    dump::Outcome expected = dump::Outcome::OpenFileFailed;
    if (creatable && ExpectOpening(ctx, log, expected)) {
        // A read that moved fewer bytes than asked, a cancelled one included, fails.
        expected = Whole(log, REQ_READ, VDEV_LOG_READ, 2 * s.Size) ? dump::Outcome::ReadSuccess
                                                                    : dump::Outcome::ReadFailed;
        ExpectXferClose();
    }
    ctx.Expect(reported.shown == 1, "Read flow showed %d outcomes", reported.shown);
    ctx.Expect(reported.last == expected, "Read flow: \"%s\", the log says \"%s\"", dump::OutcomeText(reported.last),
               dump::OutcomeText(expected));
    const FileState after = Snapshot(s.forWrite);
    if (expected == dump::Outcome::ReadSuccess) {
        std::vector<uint8_t> dump(s.Size);
        for (uint32_t i = 0; i < s.Size; ++i)
            dump[i] = ctx.Before(2 * (s.Addr + i));
        ctx.Expect(after.exists && after.bytes == dump, "Read flow: the dump file (%u bytes) differs from device memory",
                   static_cast<unsigned>(after.bytes.size()));
    } else if (before.exists) {
        ctx.Expect(after.exists && after.bytes == before.bytes, "Read flow failed and changed the previous dump");
    } else {
        ctx.Expect(!after.exists, "Read flow failed and left a dump of %u bytes where there was none",
                   static_cast<unsigned>(after.bytes.size()));
    }
}

void VantorDriver::Write(Context& ctx, dump::DumpSettings& s)
{
    const bool present = ctx.rng.Percent(95);
    s.forRead = present ? sourcePath_ : ctx.folder + "absent.bin";
    std::vector<uint8_t> file = Bytes(ctx.rng.Percent(70) ? s.Size : ctx.rng.Below(s.Size + 100), ctx.rng.Next());
    if (present)
        StoreFile(sourcePath_, file);
    ctx.ArmFaults(kFailControl | kFailWrite, 2);
    // A short file leaves the rest of the dump zero; each byte goes out as (byte, 0xFF).
    file.resize(s.Size, 0);
    ctx.Sent(WireOf(file));

    const uint32_t mark = ctx.Mark();
    Reported reported;
    dump::WriteFlow(s, reported);
    ctx.Note("-> \"%s\"", dump::OutcomeText(reported.last));
    const OpLog log = ctx.LogSince(mark);
    dump::Outcome expected = dump::Outcome::OpenFileFailed;
    if (present && ExpectOpening(ctx, log, expected)) {
        expected = Whole(log, REQ_WRITE, VDEV_LOG_WRITE, 2 * s.Size) ? dump::Outcome::WriteSuccess
                                                                      : dump::Outcome::WriteFailed;
        ExpectXferClose();
    }
    ctx.Expect(reported.shown == 1, "Write flow showed %d outcomes", reported.shown);
    ctx.Expect(reported.last == expected, "Write flow: \"%s\", the log says \"%s\"", dump::OutcomeText(reported.last),
               dump::OutcomeText(expected));
}

void VantorDriver::Step(Context& ctx)
{
    dump::DumpSettings s;
    s.Size = ctx.rng.Percent(10) ? ctx.rng.Below(8) : ctx.rng.Range(1, 100 * 1024);
    s.Addr = ctx.rng.Below(ctx.MemoryBytes() / 2 + 1024);
    s.readMode = ctx.rng.Next();
    s.writeMode = ctx.rng.Next();
    const bool read = ctx.rng.Percent(50);
    ctx.Note("%s flow Size=%u Addr=%u", read ? "Read" : "Write", s.Size, s.Addr);
    if (read)
        Read(ctx, s);
    else
        Write(ctx, s);
    const std::string left = LeftoverTemporary(ctx.folder);
    ctx.Expect(left.empty(), "%s flow left the temporary file %s", read ? "Read" : "Write", left.c_str());
}

}  // namespace

Driver* NewVantorDriver(Context& ctx)
{
    return new VantorDriver(ctx);
}

}  // namespace soak
