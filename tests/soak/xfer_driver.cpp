// uXfer under faults: every export, called in random order with random
// arguments, judged by what the device's log shows it asked for and moved.
#include <cstring>

#include "soak/soak.h"
#include "uXfer.h"
#include "usb_protocol.h"

namespace soak {

namespace {

constexpr uint32_t kUntouched = 0xC0FFEE;
constexpr uint32_t kStatusCancelled = 0xC0000120;
// A window of this thread that counts progress messages.
class ProgressSink {
public:
    ProgressSink()
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = &Proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "SoakProgressSink";
        RegisterClassA(&wc);
        window_ = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    }
    ~ProgressSink() { DestroyWindow(window_); }
    HWND Handle() const { return window_; }
    static uint32_t received;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_COPYDATA && wParam == XFER_PROGRESS_ID) {
            ++received;
            return TRUE;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    HWND window_ = nullptr;
};
uint32_t ProgressSink::received = 0;

class XferDriver : public Driver {
public:
    explicit XferDriver(Context&)
    {
        uSetDelay(0);
        // The first registration opens the system's notification channel,
        // which stays for the life of the process: before the first settle point.
        uRegDevNotify(sink_.Handle());
        uUnRegDevNotify();
    }
    ~XferDriver() override
    {
        uUnRegDevNotify();
        uClose();
        uSetDelay(100);
    }
    const char* Name() const override { return "uXfer"; }
    void Step(Context& ctx) override;
    void Settle(Context& ctx) override
    {
        ctx.Note("uClose");
        ctx.Expect(uClose() == Close(), "uClose result");
        if (notifying_) {
            ctx.Expect(uUnRegDevNotify() == 1, "uUnRegDevNotify after a registration");
            notifying_ = false;
        }
    }
    bool ResetDevice(Context& ctx) override
    {
        if (!XferCancelReaches(ctx))
            return false;
        const uint32_t code = ctx.rng.Range(0, 0x1FFFF);
        ctx.Note("uSetCancel(%u)", code);
        ctx.Expect(uSetCancel(code) == RESULT_OK, "uSetCancel with the device present");
        return true;
    }
    // uXfer.Device's progress goes to a window of its own; after a transfer
    // it leaves no window and the flag 0, as it can't read what was set before.
    void Lent()
    {
        conn_ = XferConn{};
        msgToSink_ = false;
        msgFlag_ = 0;
    }
    void SelectedForReset()
    {
        conn_.defaultClass = true;
        conn_.instance = 0;
    }
    void InstanceSelectedElsewhere() { conn_.instance = 0; }
    uint32_t Create(const Context& ctx, uint32_t flags);
    uint32_t Close();
    bool CancelReaches(const Context& ctx) const { return ctx.plugged && conn_.instance == 0 && conn_.defaultClass; }

private:
    TransferDesc RandomDesc(Context& ctx, uint32_t maxLength);
    // Faults for a transfer: a held read only when the helper's cancel can reach the device.
    HeldReadPlan ArmFor(Context& ctx, uint32_t kinds);
    // A memory transfer: result, count, the requests, progress and the bytes delivered.
    void Transfer(Context& ctx, bool read);
    void Verify(Context& ctx);
    void Debug(Context& ctx, bool read);
    void CheckProgress(Context& ctx, const char* what, uint32_t expected);

    XferConn conn_;
    ProgressSink sink_;
    bool msgToSink_ = false;
    uint32_t msgFlag_ = 0;
    bool notifying_ = false;
    bool progressSeen_ = false;
};

// Only instance 0 of the default class is present (when plugged).
uint32_t XferDriver::Create(const Context& ctx, uint32_t flags)
{
    if (!ctx.plugged || !conn_.defaultClass || conn_.instance != 0)
        return RESULT_OPEN_FAILED;
    conn_.control = (flags & OPEN_CONTROL) != 0;
    conn_.writePipe = (flags & OPEN_WRITE) != 0;
    conn_.readPipe = (flags & OPEN_READ) != 0;
    return RESULT_OK;
}

uint32_t XferDriver::Close()
{
    const uint32_t result = conn_.writePipe ? 1 : 0xFFFFFFFF;
    conn_ = XferConn{false, false, false, conn_.defaultClass, conn_.instance};
    return result;
}

TransferDesc XferDriver::RandomDesc(Context& ctx, uint32_t maxLength)
{
    TransferDesc desc = {};
    desc.param0 = ctx.rng.Next();
    desc.param1 = ctx.rng.Next();
    // Mostly inside memory, sometimes across its end.
    desc.address = ctx.rng.Below(ctx.MemoryBytes() + 4096) & ~1u;
    const uint32_t lengths[] = {0, 2, 64, 100, 4096, XFER_CHUNK, XFER_CHUNK + 1, ctx.rng.Range(1, maxLength)};
    desc.length = lengths[ctx.rng.Below(8)];
    const uint32_t units[] = {4, 4, 4, 2, 8, 1, 0};
    desc.unitSize = units[ctx.rng.Below(ctx.rng.Percent(3) ? 7 : 6)];
    desc.cmdValue = static_cast<uint16_t>(ctx.rng.Next());
    desc.cmdIndex = static_cast<uint16_t>(ctx.rng.Next());
    ctx.Note("addr=%u len=%u unit=%u", desc.address, desc.length, desc.unitSize);
    return desc;
}

HeldReadPlan XferDriver::ArmFor(Context& ctx, uint32_t kinds)
{
    std::vector<HeldRead> cancels = {HeldRead::CancelTalvix};
    if (XferCancelReaches(ctx))
        cancels.push_back(HeldRead::CancelXfer);
    return ctx.ArmFaults(kinds, 2, cancels);
}

void XferDriver::CheckProgress(Context& ctx, const char* what, uint32_t expected)
{
    if (progressSeen_ && msgFlag_)
        ctx.Expect(ProgressSink::received == expected, "%s: %u progress messages, %u chunks moved", what,
                   ProgressSink::received, expected);
}

// The command, then chunks of at most XFER_CHUNK until the length is moved
// or one fails; a failure ends with the reset request.  A read the helper's
// uSetCancel ended is a cancel, which succeeds.
void XferDriver::Transfer(Context& ctx, bool read)
{
    const char* what = read ? "uXferRead" : "uXferWrite";
    ctx.Note(what);
    TransferDesc desc = RandomDesc(ctx, 3 * XFER_CHUNK);
    std::vector<uint8_t> buffer = read ? std::vector<uint8_t>(desc.length, 0xA5) : Bytes(desc.length, ctx.rng.Next());
    const HeldReadPlan plan = ArmFor(ctx, kFailControl | (read ? kFailRead | kShortRead | kPendRead : kFailWrite));
    if (!read)
        ctx.Sent(buffer);
    uint32_t count = kUntouched;
    const uint32_t mark = ctx.Mark();
    const uint32_t result = read ? uXferRead(&desc, buffer.data(), &count) : uXferWrite(&desc, buffer.data(), &count);
    ctx.Note("-> %08X count=%u", result, count);
    const OpLog log = ctx.LogSince(mark);
    const uint16_t type = read ? VDEV_LOG_READ : VDEV_LOG_WRITE;
    const auto commands = log.Vendor(read ? REQ_READ : REQ_WRITE);
    const bool sendable = conn_.control && desc.unitSize != 0;
    ctx.Expect(commands.size() == (sendable ? 1u : 0u), "%s: %u commands in the log", what,
               static_cast<unsigned>(commands.size()));
    if (!sendable || !Ok(*commands[0])) {
        ctx.Expect(result == RESULT_IO_FAILED && count == kUntouched && log.Pipe(type).empty(),
                   "%s without its command: result %08X, count %u", what, result, count);
    } else {
        const auto transfers = log.Pipe(type);
        bool cancelled = false, failed = desc.length > 0 && transfers.empty();
        for (size_t i = 0; i < transfers.size(); ++i) {
            const VdevLogRecord& t = *transfers[i];
            cancelled |= plan.action == HeldRead::CancelXfer && t.c == kStatusCancelled;
            failed |= !Ok(t);
            if (t.a && !failed)
                ctx.Expect(t.a == std::min<uint32_t>(desc.length - i * XFER_CHUNK, XFER_CHUNK),
                           "%s: chunk %u asks for %u bytes", what, static_cast<unsigned>(i), t.a);
        }
        if (failed)
            ctx.Expect(!log.Vendor(REQ_RESET).empty(), "%s: no reset request after a failed chunk", what);
        const uint32_t expected = failed && !cancelled ? RESULT_IO_FAILED : RESULT_OK;
        ctx.Expect(result == expected, "%s: result %08X, expected %08X", what, result, expected);
        ctx.Expect(count == log.MovedBeforeReset(type), "%s: count %u, the log moved %u", what, count,
                   log.MovedBeforeReset(type));
        CheckProgress(ctx, what, log.TransfersBeforeReset(type));
    }
    if (read)
        ctx.CheckDelivered(what, buffer, 0xA5, mark);
}

// The verification request, then one read of the 4-byte value: the 32-bit sum
// of the range's 16-bit words as device memory holds them.
void XferDriver::Verify(Context& ctx)
{
    ctx.Note("uXferVerify");
    TransferDesc desc = RandomDesc(ctx, 8192);
    std::vector<uint8_t> result4(4, 0xA5);
    ArmFor(ctx, kFailControl | kFailRead | kShortRead | kPendRead);
    const uint32_t mark = ctx.Mark();
    const uint32_t result = uXferVerify(&desc, result4.data());
    ctx.Note("-> %08X", result);
    const OpLog log = ctx.LogSince(mark);
    const auto commands = log.Vendor(REQ_DEBUG);
    const auto reads = log.Pipe(VDEV_LOG_READ);
    const bool sent = !commands.empty() && Ok(*commands[0]);
    ctx.Expect(commands.size() == (conn_.control && desc.unitSize ? 1u : 0u), "uXferVerify: %u requests",
               static_cast<unsigned>(commands.size()));
    ctx.Expect(reads.size() == (sent && conn_.readPipe ? 1u : 0u), "uXferVerify: %u reads",
               static_cast<unsigned>(reads.size()));
    const VdevLogRecord* value = reads.empty() ? nullptr : reads[0];
    const bool whole = value && Ok(*value) && value->b == 4;
    ctx.Expect(result == (whole ? RESULT_OK : RESULT_IO_FAILED), "uXferVerify: result %08X", result);
    std::vector<uint8_t> expected(4, 0xA5);
    if (value && Ok(*value))
        std::copy(value->data, value->data + value->b, expected.begin());
    ctx.Expect(result4 == expected, "uXferVerify: the value differs from what the device sent");
    if (whole) {
        uint32_t sum = 0;
        const uint32_t words = desc.length / desc.unitSize * 2;
        for (uint32_t i = 0; i < words; ++i)
            sum += ctx.Before(desc.address + 2 * i) | (ctx.Before(desc.address + 2 * i + 1) << 8);
        ctx.Expect(StageGetWord(result4.data(), 0) == sum, "uXferVerify: value %08X, device memory sums to %08X",
                   StageGetWord(result4.data(), 0), sum);
    }
    if (progressSeen_)
        ctx.Expect(ProgressSink::received == (whole ? 1u : 0u), "uXferVerify: %u progress messages",
                   ProgressSink::received);
}

// The debug request, then one transfer of the length on the pipe.
void XferDriver::Debug(Context& ctx, bool read)
{
    const char* what = read ? "uDebugReadCmd" : "uDebugWriteCmd";
    ctx.Note(what);
    TransferDesc desc = RandomDesc(ctx, 600);
    std::vector<uint8_t> buffer = read ? std::vector<uint8_t>(desc.length, 0xA5) : Bytes(desc.length, ctx.rng.Next());
    ArmFor(ctx, kFailControl | (read ? kFailRead | kShortRead | kPendRead : kFailWrite));
    uint32_t count = kUntouched;
    const uint32_t mark = ctx.Mark();
    const uint32_t result =
        read ? uDebugReadCmd(&desc, buffer.data(), &count) : uDebugWriteCmd(&desc, buffer.data(), &count);
    ctx.Note("-> %08X count=%u", result, count);
    const OpLog log = ctx.LogSince(mark);
    const auto commands = log.Vendor(REQ_DEBUG);
    const auto transfers = log.Pipe(read ? VDEV_LOG_READ : VDEV_LOG_WRITE);
    ctx.Expect(commands.size() == (conn_.control ? 1u : 0u) && transfers.size() <= 1, "%s: %u requests, %u transfers",
               what, static_cast<unsigned>(commands.size()), static_cast<unsigned>(transfers.size()));
    if (transfers.empty()) {
        ctx.Expect(result == RESULT_IO_FAILED && count == kUntouched, "%s without a transfer: %08X count %u", what,
                   result, count);
    } else {
        const VdevLogRecord& t = *transfers[0];
        ctx.Expect(result == (Ok(t) ? RESULT_OK : RESULT_IO_FAILED) && count == t.b,
                   "%s: result %08X count %u, the device moved %u", what, result, count, t.b);
    }
    if (read)
        ctx.CheckEcho(what, buffer, 0xA5, transfers.empty() ? nullptr : transfers[0]);
}

void XferDriver::Step(Context& ctx)
{
    Rng& rng = ctx.rng;
    uint32_t count = kUntouched;
    ProgressSink::received = 0;
    progressSeen_ = msgToSink_;
    // The dump tool's flows close the connection after each run: open it
    // again more often than not, so that transfers meet the device.
    const uint32_t op = !conn_.control && rng.Percent(60) ? 0 : rng.Below(16);
    switch (op) {
    case 0:
    case 1: {
        const uint32_t flags = rng.Percent(70) ? OPEN_ALL : rng.Percent(10) ? 0xFF : rng.Below(8);
        ctx.Note("uCreate(%u)", flags);
        const uint32_t result = uCreate(flags);
        ctx.Expect(result == Create(ctx, flags & OPEN_ALL), "uCreate: result %08X", result);
        break;
    }
    case 2: {
        ctx.Note("uClose");
        const uint32_t result = uClose();
        ctx.Expect(result == Close(), "uClose: result %08X", result);
        break;
    }
    case 3:
    case 4:
    case 5:
        Transfer(ctx, true);
        break;
    case 6:
    case 7:
    case 8:
        Transfer(ctx, false);
        break;
    case 9:
        Verify(ctx);
        break;
    case 10:
        Debug(ctx, rng.Percent(50));
        break;
    case 11: {
        ctx.Note("uGetStatus");
        ctx.ArmFaults(kFailControl | kActivePolls | kErrorAtPoll, 2);
        uint8_t status[8];
        std::memset(status, 0xA5, sizeof status);
        const uint32_t mark = ctx.Mark();
        const uint32_t result = uGetStatus(status, &count);
        ctx.Note("-> %08X status %02X", result, status[0]);
        const auto polls = ctx.LogSince(mark).Vendor(REQ_STATUS);
        ctx.Expect(polls.size() == (conn_.control ? 1u : 0u), "uGetStatus: %u requests", static_cast<unsigned>(polls.size()));
        const bool ok = !polls.empty() && Ok(*polls[0]);
        ctx.Expect(result == (ok ? RESULT_OK : RESULT_IO_FAILED), "uGetStatus: result %08X", result);
        if (ok)
            ctx.Expect(count == 8 && std::memcmp(status, StageOf(*polls[0]), 8) == 0,
                       "uGetStatus: count %u, byte 0 %02X, the device answered %02X", count, status[0],
                       StageOf(*polls[0])[0]);
        break;
    }
    case 12: {
        const uint32_t expected = ctx.plugged && conn_.defaultClass ? 1 : 0;
        const uint32_t found = uEnumeInstances();
        ctx.Note("uEnumeInstances -> %u", found);
        ctx.Expect(found == expected, "uEnumeInstances: %u, expected %u", found, expected);
        break;
    }
    case 13: {
        if (notifying_) {
            ctx.Note("uUnRegDevNotify");
            ctx.Expect(uUnRegDevNotify() == 1, "uUnRegDevNotify after a registration");
            ctx.Expect(uUnRegDevNotify() == 0, "uUnRegDevNotify with nothing registered");
        } else {
            ctx.Note("uRegDevNotify");
            ctx.Expect(uRegDevNotify(sink_.Handle()) == 1, "uRegDevNotify of a window");
        }
        notifying_ = !notifying_;
        break;
    }
    case 14: {
        ctx.Note("uSetCancel");
        const uint32_t code = rng.Range(0, 0x1FFFF);
        ctx.ArmFaults(kFailControl, 1);
        const bool present = XferCancelReaches(ctx);
        const uint32_t mark = ctx.Mark();
        const uint32_t result = uSetCancel(code);
        ctx.Note("(%u) -> %08X", code, result);
        const auto resets = ctx.LogSince(mark).Vendor(REQ_RESET);
        ctx.Expect(resets.size() == (present ? 1u : 0u) && (resets.empty() || IndexOf(*resets[0]) == (code & 0xFFFF)),
                   "uSetCancel(%u): %u reset requests", code, static_cast<unsigned>(resets.size()));
        ctx.Expect(result == (!present ? RESULT_OPEN_FAILED : Ok(*resets[0]) ? RESULT_OK : RESULT_IO_FAILED),
                   "uSetCancel: result %08X", result);
        break;
    }
    default: {
        // The setters: each returns its argument, uSetKVVersion 0 or the distance from 304.
        switch (rng.Below(5)) {
        case 0: {
            const uint32_t ms = rng.Below(3);
            ctx.Note("uSetDelay(%u)", ms);
            ctx.Expect(uSetDelay(ms) == ms, "uSetDelay");
            break;
        }
        case 1: {
            conn_.instance = rng.Percent(85) ? 0 : 1;
            ctx.Note("uSetInstance(%u)", conn_.instance);
            ctx.Expect(uSetInstance(conn_.instance) == conn_.instance, "uSetInstance");
            break;
        }
        case 2:
            msgFlag_ = rng.Percent(50) ? rng.Range(1, 9) : 0;
            ctx.Note("uSetMsgFlag(%u)", msgFlag_);
            ctx.Expect(uSetMsgFlag(msgFlag_) == msgFlag_, "uSetMsgFlag");
            break;
        case 3: {
            msgToSink_ = rng.Percent(70);
            HWND window = msgToSink_ ? sink_.Handle() : nullptr;
            ctx.Note("uSetMsgWnd(%s)", msgToSink_ ? "sink" : "null");
            ctx.Expect(uSetMsgWnd(window) == window, "uSetMsgWnd");
            break;
        }
        default: {
            const uint32_t versions[] = {0x0110, 0x0120, 0x0130, 0x0130, 0x0130, 300, 0, rng.Next()};
            const uint32_t version = versions[rng.Below(8)];
            const bool known = version == 0x0110 || version == 0x0120 || version == 0x0130;
            if (known)
                conn_.defaultClass = version != 0x0110;
            ctx.Note("uSetKVVersion(%u)", version);
            ctx.Expect(uSetKVVersion(version) == (known ? 0 : version - 0x0130), "uSetKVVersion");
            break;
        }
        }
        break;
    }
    }
}

XferDriver* theDriver = nullptr;

}  // namespace

Driver* NewXferDriver(Context& ctx)
{
    theDriver = new XferDriver(ctx);
    return theDriver;
}

uint32_t ExpectXferCreate(const Context& ctx, uint32_t flags)
{
    return theDriver->Create(ctx, flags);
}

uint32_t ExpectXferClose()
{
    return theDriver->Close();
}

void XferConnectionLent()
{
    theDriver->Lent();
}

void XferSelectedForReset()
{
    theDriver->SelectedForReset();
}

void XferInstanceSelectedElsewhere()
{
    theDriver->InstanceSelectedElsewhere();
}

bool XferCancelReaches(const Context& ctx)
{
    return theDriver->CancelReaches(ctx);
}

}  // namespace soak
