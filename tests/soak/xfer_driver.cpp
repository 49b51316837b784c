// uXfer under faults: every export, called in random order with random
// arguments, compared with what the model says the documented algorithm gives.
#include <cstring>

#include "soak/oracle.h"
#include "soak/soak.h"
#include "usb_protocol.h"

namespace soak {

namespace {

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
        ctx.Expect(uClose() == ExpectClose(conn_), "uClose result");
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
        ctx.model.Vendor(REQ_RESET, 0, nullptr, 0);
        return true;
    }
    // The connection as the dump tool's flows leave it.
    XferConn& Conn() { return conn_; }

private:
    TransferDesc RandomDesc(Context& ctx, uint32_t maxLength);
    // Faults for a transfer: a held read only when the helper's cancel can reach the device.
    HeldReadPlan ArmFor(Context& ctx, uint32_t kinds);
    void Check(Context& ctx, const char* what, uint32_t result, const XferOutcome& expect, uint32_t count,
               const std::vector<uint8_t>* buffer);

    XferConn conn_;
    ProgressSink sink_;
    bool msgToSink_ = false;
    uint32_t msgFlag_ = 0;
    bool notifying_ = false;
};

TransferDesc XferDriver::RandomDesc(Context& ctx, uint32_t maxLength)
{
    TransferDesc desc = {};
    desc.param0 = ctx.rng.Next();
    desc.param1 = ctx.rng.Next();
    // Mostly inside memory, sometimes across its end.
    desc.address = ctx.rng.Below(ctx.model.MemoryBytes() + 4096) & ~1u;
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

void XferDriver::Check(Context& ctx, const char* what, uint32_t result, const XferOutcome& expect, uint32_t count,
                       const std::vector<uint8_t>* buffer)
{
    ctx.Note("-> %08X count=%u", result, count);
    ctx.Expect(result == expect.result, "%s: result %08X, expected %08X", what, result, expect.result);
    if (expect.countSet)
        ctx.Expect(count == expect.count, "%s: count %u, expected %u", what, count, expect.count);
    else
        ctx.Expect(count == 0xC0FFEE, "%s: count written although nothing moved", what);
    if (buffer && *buffer != expect.buffer) {
        size_t at = 0;
        while ((*buffer)[at] == expect.buffer[at])
            ++at;
        ctx.Fail("%s: buffer differs from the model at byte %u (0x%02X, expected 0x%02X)", what,
                 static_cast<unsigned>(at), (*buffer)[at], expect.buffer[at]);
    }
}

void XferDriver::Step(Context& ctx)
{
    Rng& rng = ctx.rng;
    uint32_t count = 0xC0FFEE;
    ProgressSink::received = 0;
    const bool progressSeen = msgToSink_;
    // The dump tool's flows close the connection after each run: open it
    // again more often than not, so that transfers meet the device.
    const uint32_t op = !conn_.control && rng.Percent(60) ? 0 : rng.Below(16);
    switch (op) {
    case 0:
    case 1: {
        const uint32_t flags = rng.Percent(70) ? OPEN_ALL : rng.Percent(10) ? 0xFF : rng.Below(8);
        ctx.Note("uCreate(%u)", flags);
        const uint32_t result = uCreate(flags);
        ctx.Expect(result == ExpectCreate(ctx.model, conn_, flags), "uCreate: result %08X", result);
        break;
    }
    case 2: {
        ctx.Note("uClose");
        const uint32_t result = uClose();
        ctx.Expect(result == ExpectClose(conn_), "uClose: result %08X", result);
        break;
    }
    case 3:
    case 4:
    case 5: {
        ctx.Note("uXferRead");
        TransferDesc desc = RandomDesc(ctx, 3 * XFER_CHUNK);
        std::vector<uint8_t> buffer(desc.length, 0xA5);
        ArmFor(ctx, kFailControl | kFailRead | kShortRead | kPendRead);
        XferOutcome expect = ExpectRead(ctx.model, conn_, desc, buffer);
        const uint32_t result = uXferRead(&desc, buffer.data(), &count);
        Check(ctx, "uXferRead", result, expect, count, &buffer);
        if (progressSeen && msgFlag_)
            ctx.Expect(ProgressSink::received == expect.progress, "uXferRead: %u progress messages, expected %u",
                       ProgressSink::received, expect.progress);
        break;
    }
    case 6:
    case 7:
    case 8: {
        ctx.Note("uXferWrite");
        TransferDesc desc = RandomDesc(ctx, 3 * XFER_CHUNK);
        std::vector<uint8_t> data = Bytes(desc.length, rng.Next());
        ArmFor(ctx, kFailControl | kFailWrite);
        XferOutcome expect = ExpectWrite(ctx.model, conn_, desc, data.data());
        const uint32_t result = uXferWrite(&desc, data.data(), &count);
        Check(ctx, "uXferWrite", result, expect, count, nullptr);
        if (progressSeen && msgFlag_)
            ctx.Expect(ProgressSink::received == expect.progress, "uXferWrite: %u progress messages, expected %u",
                       ProgressSink::received, expect.progress);
        break;
    }
    case 9: {
        ctx.Note("uXferVerify");
        TransferDesc desc = RandomDesc(ctx, 8192);
        std::vector<uint8_t> result4(4, 0xA5);
        ArmFor(ctx, kFailControl | kFailRead | kShortRead | kPendRead);
        XferOutcome expect = ExpectVerify(ctx.model, conn_, desc, result4);
        const uint32_t result = uXferVerify(&desc, result4.data());
        ctx.Note("-> %08X", result);
        ctx.Expect(result == expect.result, "uXferVerify: result %08X, expected %08X", result, expect.result);
        ctx.Expect(result4 == expect.buffer, "uXferVerify: the verification value differs from the model");
        if (progressSeen)
            ctx.Expect(ProgressSink::received == expect.progress, "uXferVerify: %u progress messages, expected %u",
                       ProgressSink::received, expect.progress);
        break;
    }
    case 10: {
        const bool read = rng.Percent(50);
        ctx.Note(read ? "uDebugReadCmd" : "uDebugWriteCmd");
        TransferDesc desc = RandomDesc(ctx, 600);
        std::vector<uint8_t> buffer = read ? std::vector<uint8_t>(desc.length, 0xA5) : Bytes(desc.length, rng.Next());
        ArmFor(ctx, kFailControl | (read ? kFailRead | kShortRead | kPendRead : kFailWrite));
        XferOutcome expect = ExpectDebug(ctx.model, conn_, desc, read, buffer);
        const uint32_t result = read ? uDebugReadCmd(&desc, buffer.data(), &count)
                                     : uDebugWriteCmd(&desc, buffer.data(), &count);
        Check(ctx, read ? "uDebugReadCmd" : "uDebugWriteCmd", result, expect, count, read ? &buffer : nullptr);
        break;
    }
    case 11: {
        ctx.Note("uGetStatus");
        ctx.ArmFaults(kFailControl | kActivePolls | kErrorAtPoll, 2);
        uint8_t status[8];
        std::memset(status, 0xA5, sizeof status);
        uint8_t expected[8] = {};
        const bool ok = conn_.control && ctx.model.Vendor(REQ_STATUS, 0, expected, sizeof expected);
        const uint32_t result = uGetStatus(status, &count);
        ctx.Note("-> %08X status %02X", result, status[0]);
        ctx.Expect(result == (ok ? RESULT_OK : RESULT_IO_FAILED), "uGetStatus: result %08X", result);
        if (ok)
            ctx.Expect(count == 8 && std::memcmp(status, expected, 8) == 0,
                       "uGetStatus: count %u, byte 0 %02X, expected 8 and %02X", count, status[0], expected[0]);
        break;
    }
    case 12: {
        const uint32_t expected = ctx.model.plugged && conn_.defaultClass ? 1 : 0;
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
        const bool sent = present && ctx.model.Vendor(REQ_RESET, static_cast<uint16_t>(code), nullptr, 0);
        const uint32_t result = uSetCancel(code);
        ctx.Note("(%u) -> %08X", code, result);
        ctx.Expect(result == (!present ? RESULT_OPEN_FAILED : sent ? RESULT_OK : RESULT_IO_FAILED),
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

XferConn& SharedXferConn()
{
    return theDriver->Conn();
}

bool XferCancelReaches(const Context& ctx)
{
    const XferConn& conn = SharedXferConn();
    return ctx.model.plugged && conn.instance == 0 && conn.defaultClass;
}

}  // namespace soak
