// Talvix under faults: the TVXDevice object made through COM from the
// registered server, its methods called at random through the interface table
// or late-bound through IDispatch as a script would, each result judged by
// the requests the device's log shows.  Its module heaps are checked by the
// main program.
#include <cstring>

#include "comserver/talvix_support.h"
#include "soak/soak.h"
#include "usb_protocol.h"

namespace soak {

namespace {

enum Method {
    kBulkReadCmd = 1, kBulkWriteCmd, kBulkReadTransfer, kBulkWriteTransfer, kCreateDevice, kCreateDeviceExR,
    kCreateDeviceExW, kResCmdToRead, kResCmdToWrite, kGetDeviceStatus, kResetOrCancel, kDeviceDetect, kGetVersion,
    kGetDriverVersion,
};

// A record a method reaches through a VARIANT, as a script variable holds it.
struct Carrier {
    explicit Carrier(void* record) : value(Carry(record, VT_I4)) {}
    VARIANT value;
};

// One of the client's three device records and whether its handle is open.
struct Record {
    DeviceRecord rec = MakeDeviceRecord();
    bool open = false;
    void Close()
    {
        if (open)
            CloseHandle(rec.handle);
        rec.handle = INVALID_HANDLE_VALUE;
        open = false;
    }
};

class TalvixDriver : public Driver {
public:
    explicit TalvixDriver(Context& ctx);
    ~TalvixDriver() override;
    const char* Name() const override { return "Talvix"; }
    void Step(Context& ctx) override;
    // Besides the records, the objects go and come back: each holds the
    // device path of its last enumeration, so only a module without objects
    // has a size to compare.
    void Settle(Context& ctx) override
    {
        for (Record* r : {&control_, &in_, &out_})
            r->Close();
        disp_.Reset();
        tvx_.Reset();
        helper_.Reset();
        settledBlocks_ = 0;
        for (HANDLE heap : server_.ModuleHeaps())
            settledBlocks_ += UseOf(heap).blocks;
        MakeObjects(ctx);
    }
    size_t SettledBlocks() const { return settledBlocks_; }
    // Through the helper's object, so that the cancelled flag of the object
    // under test changes only by its own calls.
    bool ResetDevice(Context& ctx) override
    {
        ParamRecord param = MakeParam(0, static_cast<uint16_t>(ctx.rng.Next()));
        Carrier d(&helperRecord_.rec), p(&param);
        ULONG status = 0xDEAD;
        ctx.Note("ResetOrCancel");
        ctx.Expect(helper_->ResetOrCancel(&d.value, &p.value, &status) == S_OK && status == 0, "ResetOrCancel: %08lX",
                   status);
        return true;
    }
    bool CancelFromHelper()
    {
        ParamRecord param = MakeParam(0, 2);
        Carrier d(&helperRecord_.rec), p(&param);
        ULONG status = 0xDEAD;
        return helper_->ResetOrCancel(&d.value, &p.value, &status) == S_OK && status == 0;
    }
    // A status request on the helper's own path, without faults: the device answers and is idle.
    void Probe(Context& ctx)
    {
        uint8_t reply[8];
        std::memset(reply, 0xA5, sizeof reply);
        ParamRecord param = MakeParam(0, 0, 1);
        Carrier d(&helperRecord_.rec), p(&param), r(reply);
        ULONG status = 0xDEAD, returned = 0;
        const uint32_t mark = ctx.Mark();
        ctx.Expect(helper_->GetDeviceStatus(&d.value, &p.value, &r.value, &returned, &status) == S_OK && status == 0,
                   "status request after a reset: %08lX", status);
        const auto polls = ctx.LogSince(mark).Vendor(REQ_STATUS);
        ctx.Expect(polls.size() == 1 && std::memcmp(reply, StageOf(*polls[0]), 8) == 0 &&
                       !(reply[0] & (STATUS_ERROR | STATUS_ACTIVE)),
                   "status after a reset: byte 0 %02X, not the device's answer or not idle", reply[0]);
    }

private:
    // Calls a method through the interface table or IDispatch; `a`, `b`, `c`
    // are the VARIANT parameters in order, `n` the count, `out` the counted
    // out parameter.  The status lands in `status`.
    HRESULT Call(Context& ctx, Method id, Carrier* a, Carrier* b, Carrier* c, ULONG n, ULONG* out, ULONG* status);
    void Open(Context& ctx, Record& record, Method create);
    // What a command returns, as its requests in the log show.
    uint32_t CommandVerdict(Context& ctx, const OpLog& log, uint8_t request, bool handle);
    void BulkTransfer(Context& ctx, bool read);
    void DebugCommand(Context& ctx, bool read);
    void MakeObjects(Context& ctx);

    TalvixServer server_;
    Ref<ITVXDevice> tvx_, helper_;
    Ref<IDispatch> disp_;
    Record control_, in_, out_, helperRecord_;
    bool cancelled_ = false;
    bool comInitialised_ = false;
    size_t settledBlocks_ = 0;
};

TalvixDriver* theDriver = nullptr;

TalvixDriver::TalvixDriver(Context& ctx)
{
    comInitialised_ = SUCCEEDED(CoInitialize(nullptr));
    auto reg = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(server_.Module(), "DllRegisterServer")));
    if (!server_.Loaded() || !reg || FAILED(reg()))
        ctx.Fail("Talvix.dll could not be loaded and registered");
    MakeObjects(ctx);
    Carrier d(&helperRecord_.rec);
    ULONG status = 0xDEAD;
    helperRecord_.open = helper_->CreateDevice(&d.value, &status) == S_OK && status == 0;
    if (!helperRecord_.open)
        ctx.Fail("the helper's control path could not be opened");
}

void TalvixDriver::MakeObjects(Context& ctx)
{
    cancelled_ = false;
    for (Ref<ITVXDevice>* object : {&tvx_, &helper_})
        if (FAILED(CoCreateInstance(CLSID_TVXDevice, nullptr, CLSCTX_INPROC_SERVER, IID_ITVXDevice,
                                    object->OutVoid())))
            ctx.Fail("CoCreateInstance of TVXDevice failed");
    if (FAILED(tvx_->QueryInterface(IID_IDispatch, disp_.OutVoid())))
        ctx.Fail("TVXDevice gives no IDispatch");
}

TalvixDriver::~TalvixDriver()
{
    for (Record* r : {&control_, &in_, &out_, &helperRecord_})
        r->Close();
    disp_.Reset();
    tvx_.Reset();
    helper_.Reset();
    auto unreg = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(server_.Module(), "DllUnregisterServer")));
    if (unreg)
        unreg();
    if (comInitialised_)
        CoUninitialize();
}

HRESULT TalvixDriver::Call(Context& ctx, Method id, Carrier* a, Carrier* b, Carrier* c, ULONG n, ULONG* out,
                           ULONG* status)
{
    VARIANT* va = a ? &a->value : nullptr;
    VARIANT* vb = b ? &b->value : nullptr;
    VARIANT* vc = c ? &c->value : nullptr;
    if (ctx.rng.Percent(50)) {
        ctx.Note("[vtable]");
        ITVXDevice* t = tvx_.Get();
        switch (id) {
        case kBulkReadCmd: return t->BulkReadCmd(va, vb, status);
        case kBulkWriteCmd: return t->BulkWriteCmd(va, vb, status);
        case kBulkReadTransfer: return t->BulkReadTransfer(va, vb, n, out, status);
        case kBulkWriteTransfer: return t->BulkWriteTransfer(va, vb, n, out, status);
        case kCreateDevice: return t->CreateDevice(va, status);
        case kCreateDeviceExR: return t->CreateDeviceExR(va, status);
        case kCreateDeviceExW: return t->CreateDeviceExW(va, status);
        case kResCmdToRead: return t->ResCmdToRead(va, vb, out, status);
        case kResCmdToWrite: return t->ResCmdToWrite(va, vb, out, status);
        case kGetDeviceStatus: return t->GetDeviceStatus(va, vb, vc, out, status);
        case kResetOrCancel: return t->ResetOrCancel(va, vb, status);
        case kDeviceDetect: return t->DeviceDetect(status);
        case kGetVersion: return t->GetVersion(status);
        case kGetDriverVersion: return t->GetDriverVersion(out, status);
        }
        return E_NOTIMPL;
    }
    // Late-bound, as a script passes its variables: by reference, the counts as unsigned longs.
    ctx.Note("[IDispatch]");
    std::vector<VARIANT> args;
    for (Carrier* carrier : {a, b, c}) {
        if (!carrier)
            continue;
        VARIANT ref;
        VariantInit(&ref);
        ref.vt = VT_BYREF | VT_VARIANT;
        ref.pvarVal = &carrier->value;
        args.push_back(ref);
    }
    if (id == kBulkReadTransfer || id == kBulkWriteTransfer) {
        VARIANT count;
        VariantInit(&count);
        count.vt = VT_UI4;
        count.ulVal = n;
        args.push_back(count);
    }
    if (out) {
        VARIANT ref;
        VariantInit(&ref);
        ref.vt = VT_BYREF | VT_UI4;
        ref.pulVal = out;
        args.push_back(ref);
    }
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    UINT argError = 0;
    HRESULT hr = disp_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &exception,
                               &argError);
    if (SUCCEEDED(hr)) {
        ctx.Expect(result.vt == VT_UI4 || result.vt == VT_I4, "method %d: retval of type %u", id, result.vt);
        *status = result.ulVal;
    }
    VariantClear(&result);
    // The script's variables still carry their records.
    for (Carrier* carrier : {a, b, c})
        if (carrier)
            ctx.Expect(carrier->value.vt == VT_I4, "method %d changed a script variable's type to %u", id,
                       carrier->value.vt);
    // A script sees S_FALSE as success; the status tells the failed opens and detections.
    const bool opens = id == kCreateDevice || id == kCreateDeviceExR || id == kCreateDeviceExW;
    const bool detects = id == kDeviceDetect || id == kGetVersion;
    if (hr == S_OK && ((opens && *status) || (detects && (*status & R_DETECT_FAILED))))
        return S_FALSE;
    return hr;
}

void TalvixDriver::Open(Context& ctx, Record& record, Method create)
{
    record.Close();
    const bool other = ctx.rng.Percent(10);
    record.rec = MakeDeviceRecord(vdev::kDefaultClass, other ? 1 : 0);
    record.rec.handle = INVALID_HANDLE_VALUE;
    ctx.Note("Create method %d instance %u", create, record.rec.instance);
    Carrier d(&record.rec);
    ULONG status = 0xDEAD;
    const HRESULT hr = Call(ctx, create, &d, nullptr, nullptr, 0, nullptr, &status);
    const bool found = ctx.plugged && !other;
    ctx.Note("-> %08lX", status);
    ctx.Expect(hr == (found ? S_OK : S_FALSE) && status == (found ? 0 : R_NOT_FOUND),
               "Create method %d: hr %08lX status %08lX", create, hr, status);
    record.open = found && record.rec.handle != INVALID_HANDLE_VALUE;
    ctx.Expect(found == record.open, "Create method %d: handle %p", create, record.rec.handle);
}

// The ready wait (driver-state queries until one is not pending, then status
// polls until one is idle), the command (unless the object was cancelled),
// the complete wait (status polls until one says the command was taken).  A
// failed request or the error bit ends it; nothing may come out of order.
uint32_t TalvixDriver::CommandVerdict(Context& ctx, const OpLog& log, uint8_t request, bool handle)
{
    // A command sends no reset request: one in the log is the helper's, ending a held read.
    OpLog command;
    for (const VdevLogRecord& r : log.records)
        if (r.type != VDEV_LOG_CONTROL || r.inLen < 12 || RequestOf(r) != REQ_RESET)
            command.records.push_back(r);
    const auto controls = command.Controls();
    if (!handle) {
        ctx.Expect(controls.empty(), "a command on a closed handle reached the device");
        return R_DEVICE_ERROR;
    }
    enum { kState, kReady, kCommand, kComplete } stage = kState;
    for (const VdevLogRecord* r : controls) {
        const bool last = r == controls.back();
        const bool query = r->a == IOCTL_DRIVER_STATE, poll = !query && RequestOf(*r) == REQ_STATUS;
        const uint8_t status = poll && Ok(*r) ? StageOf(*r)[0] : 0;
        if (stage == kState) {
            ctx.Expect(query, "request %u before the driver state said ready", RequestOf(*r));
            DriverState state;
            std::memcpy(&state, StageOf(*r), sizeof state);
            if (!Ok(*r)) {
                ctx.Expect(last, "requests after a failed driver-state query");
                return R_DEVICE_ERROR;
            }
            stage = state.pending ? kState : kReady;
        } else if (stage == kReady || stage == kComplete) {
            ctx.Expect(poll, "request %u in a wait for the status", RequestOf(*r));
            if (!Ok(*r) || (status & STATUS_ERROR)) {
                ctx.Expect(last, "requests after a failed status or the error bit");
                return R_DEVICE_ERROR;
            }
            const bool active = (status & STATUS_ACTIVE) != 0;
            if (stage == kComplete && active) {
                ctx.Expect(last, "requests after the command was seen taken");
                return 0;
            }
            if (stage == kReady && !active)
                stage = kCommand;
        } else {
            ctx.Expect(!query && RequestOf(*r) == request, "request %u instead of %u", RequestOf(*r), request);
            if (!Ok(*r)) {
                ctx.Expect(last, "requests after a failed command");
                return R_IOCTL_FAILED;
            }
            stage = kComplete;
        }
    }
    ctx.Expect(stage == kCommand && cancelled_ && request != REQ_DEBUG, "the command's requests stop short");
    return R_CANCELLED;
}

void TalvixDriver::BulkTransfer(Context& ctx, bool read)
{
    Rng& rng = ctx.rng;
    const uint32_t byteCount = rng.Percent(10) ? rng.Below(8) : rng.Range(1, 3 * 65536);
    const uint32_t n = rng.Percent(70) ? byteCount : rng.Below(byteCount + 64);
    ctx.Note("%s byteCount=%u n=%u", read ? "BulkRead" : "BulkWrite", byteCount, n);
    std::vector<HeldRead> cancels = {HeldRead::CancelTalvix};
    if (XferCancelReaches(ctx))
        cancels.push_back(HeldRead::CancelXfer);
    const uint32_t common = kFailControl | kActivePolls | kErrorAtPoll | kPendingPolls | kFailDriverState;
    ctx.ArmFaults(common | (read ? kFailRead | kShortRead | kPendRead : kFailWrite), 2, cancels);

    ParamRecord param = MakeParam(byteCount, static_cast<uint16_t>(rng.Next()));
    Carrier d(&control_.rec), p(&param);
    ULONG status = 0xDEAD;
    uint32_t mark = ctx.Mark();
    HRESULT hr = Call(ctx, read ? kBulkReadCmd : kBulkWriteCmd, &d, &p, nullptr, 0, nullptr, &status);
    ctx.Note("-> %08lX", status);
    const uint32_t expected = CommandVerdict(ctx, ctx.LogSince(mark), read ? REQ_READ : REQ_WRITE, control_.open);
    ctx.Expect(hr == S_OK && status == expected, "Bulk%sCmd: hr %08lX status %08lX, the log says %08X",
               read ? "Read" : "Write", hr, status, expected);
    if (status != 0 && rng.Percent(80))
        return;

    Record& pipe = read ? in_ : out_;
    std::vector<uint8_t> buffer = read ? std::vector<uint8_t>(n, 0xA5) : Bytes(n, rng.Next());
    if (!read)
        ctx.Sent(buffer);
    Carrier pd(&pipe.rec), buf(buffer.data());
    ULONG count = 0xC0FFEE;
    status = 0xDEAD;
    mark = ctx.Mark();
    hr = Call(ctx, read ? kBulkReadTransfer : kBulkWriteTransfer, &pd, &buf, nullptr, n, &count, &status);
    ctx.Note("transfer -> %08lX count=%lu", status, count);
    const auto transfers = ctx.LogSince(mark).Pipe(read ? VDEV_LOG_READ : VDEV_LOG_WRITE);
    ctx.Expect(transfers.size() == (pipe.open ? 1u : 0u), "Bulk%sTransfer: %u transfers", read ? "Read" : "Write",
               static_cast<unsigned>(transfers.size()));
    const bool ok = !transfers.empty() && Ok(*transfers[0]);
    ctx.Expect(hr == S_OK && status == (ok ? 0 : R_IO_FAILED), "Bulk%sTransfer: hr %08lX status %08lX",
               read ? "Read" : "Write", hr, status);
    if (pipe.open)
        ctx.Expect(count == transfers[0]->b, "Bulk%sTransfer: count %lu, the device moved %u", read ? "Read" : "Write",
                   count, transfers[0]->b);
    if (read)
        ctx.CheckDelivered("BulkReadTransfer", buffer, 0xA5, ctx.OpMark());
}

void TalvixDriver::DebugCommand(Context& ctx, bool read)
{
    Rng& rng = ctx.rng;
    const uint32_t byteCount = rng.Below(600);
    ctx.Note("%s byteCount=%u", read ? "ResCmdToRead" : "ResCmdToWrite", byteCount);
    const uint32_t common = kFailControl | kActivePolls | kErrorAtPoll | kPendingPolls | kFailDriverState;
    ctx.ArmFaults(common | (read ? kFailRead | kShortRead | kPendRead : kFailWrite), 2, {HeldRead::CancelTalvix});

    Record& pipe = read ? in_ : out_;
    std::vector<uint8_t> buffer = read ? std::vector<uint8_t>(byteCount, 0xA5) : Bytes(byteCount, rng.Next());
    if (!read)
        cancelled_ = false;
    CmdRecord cmd = MakeCmd(byteCount, buffer.data(), static_cast<uint16_t>(rng.Next()));
    Carrier d(&pipe.rec), c(&cmd);
    ULONG count = 0xC0FFEE, status = 0xDEAD;
    const uint32_t mark = ctx.Mark();
    HRESULT hr = Call(ctx, read ? kResCmdToRead : kResCmdToWrite, &d, &c, nullptr, 0, &count, &status);
    ctx.Note("-> %08lX count=%lu", status, count);
    const OpLog log = ctx.LogSince(mark);
    uint32_t expected = CommandVerdict(ctx, log, REQ_DEBUG, pipe.open);
    const auto transfers = log.Pipe(read ? VDEV_LOG_READ : VDEV_LOG_WRITE);
    ctx.Expect(transfers.size() == (expected == 0 ? 1u : 0u), "%s: %u transfers after status %08X",
               read ? "ResCmdToRead" : "ResCmdToWrite", static_cast<unsigned>(transfers.size()), expected);
    if (!transfers.empty())
        expected = Ok(*transfers[0]) ? 0 : R_IO_FAILED;
    ctx.Expect(hr == S_OK && status == expected, "%s: hr %08lX status %08lX, the log says %08X",
               read ? "ResCmdToRead" : "ResCmdToWrite", hr, status, expected);
    if (!transfers.empty())
        ctx.Expect(count == transfers[0]->b, "ResCmd: count %lu, the device moved %u", count, transfers[0]->b);
    else
        ctx.Expect(count == 0xC0FFEE, "ResCmd: count written although no data phase ran");
    if (read)
        ctx.CheckEcho("ResCmdToRead", buffer, 0xA5, transfers.empty() ? nullptr : transfers[0]);
}

void TalvixDriver::Step(Context& ctx)
{
    Rng& rng = ctx.rng;
    ULONG status = 0xDEAD, value = 0xC0FFEE;
    switch (rng.Below(12)) {
    case 0:
    case 1: {
        const Method create = static_cast<Method>(kCreateDevice + rng.Below(3));
        Open(ctx, create == kCreateDevice ? control_ : create == kCreateDeviceExR ? in_ : out_, create);
        break;
    }
    case 2: {
        Record* records[] = {&control_, &in_, &out_};
        ctx.Note("CloseHandle of a record");
        records[rng.Below(3)]->Close();
        break;
    }
    case 3:
    case 4:
        BulkTransfer(ctx, false);
        break;
    case 5:
    case 6:
        BulkTransfer(ctx, true);
        break;
    case 7:
        DebugCommand(ctx, rng.Percent(50));
        break;
    case 8: {
        ctx.Note("GetDeviceStatus");
        ctx.ArmFaults(kFailControl | kActivePolls | kErrorAtPoll, 2);
        uint8_t reply[8];
        std::memset(reply, 0xA5, sizeof reply);
        ParamRecord param = MakeParam(0, 0, static_cast<uint16_t>(rng.Next()));
        Carrier d(&control_.rec), p(&param), r(reply);
        const uint32_t mark = ctx.Mark();
        HRESULT hr = Call(ctx, kGetDeviceStatus, &d, &p, &r, 0, &value, &status);
        ctx.Note("-> %08lX status %02X", status, reply[0]);
        const auto polls = ctx.LogSince(mark).Vendor(REQ_STATUS);
        ctx.Expect(polls.size() == (control_.open ? 1u : 0u), "GetDeviceStatus: %u requests",
                   static_cast<unsigned>(polls.size()));
        const bool ok = !polls.empty() && Ok(*polls[0]);
        const uint8_t* expected = ok ? StageOf(*polls[0]) : reply;
        ctx.Expect(hr == S_OK && status == (ok ? 0 : R_IOCTL_FAILED), "GetDeviceStatus: hr %08lX status %08lX", hr,
                   status);
        if (ok)
            ctx.Expect(value == 8 && std::memcmp(reply, expected, 8) == 0,
                       "GetDeviceStatus: %lu bytes, byte 0 %02X, expected 8 and %02X", value, reply[0], expected[0]);
        break;
    }
    case 9: {
        ctx.Note("ResetOrCancel");
        ctx.ArmFaults(kFailControl, 1);
        ParamRecord param = MakeParam(0, static_cast<uint16_t>(rng.Next()));
        Carrier d(&control_.rec), p(&param);
        const uint32_t mark = ctx.Mark();
        HRESULT hr = Call(ctx, kResetOrCancel, &d, &p, nullptr, 0, nullptr, &status);
        ctx.Note("-> %08lX", status);
        const auto resets = ctx.LogSince(mark).Vendor(REQ_RESET);
        ctx.Expect(resets.size() == (control_.open ? 1u : 0u), "ResetOrCancel: %u requests",
                   static_cast<unsigned>(resets.size()));
        const bool ok = !resets.empty() && Ok(*resets[0]);
        ctx.Expect(hr == S_OK && status == (ok ? 0 : R_IOCTL_FAILED), "ResetOrCancel: hr %08lX status %08lX", hr,
                   status);
        cancelled_ = true;
        break;
    }
    default: {
        const Method id = static_cast<Method>(kDeviceDetect + rng.Below(3));
        ctx.Note("method %d", id);
        const bool present = ctx.plugged;
        HRESULT hr = Call(ctx, id, nullptr, nullptr, nullptr, 0, id == kGetDriverVersion ? &value : nullptr, &status);
        ctx.Note("-> %08lX", status);
        if (id == kGetDriverVersion) {
            ctx.Expect(hr == S_OK && status == 0 && value == 0x05000102u,
                       "GetDriverVersion: hr %08lX status %08lX version %08lX", hr, status, value);
        } else {
            const ULONG found = id == kDeviceDetect ? 0x0412u : 0x01000000u;
            ctx.Expect(hr == (present ? S_OK : S_FALSE) && status == (present ? found : R_NOT_FOUND),
                       "method %d: hr %08lX result %08lX", id, hr, status);
        }
        break;
    }
    }
}

}  // namespace

Driver* NewTalvixDriver(Context& ctx)
{
    theDriver = new TalvixDriver(ctx);
    return theDriver;
}

bool TalvixCancelFromHelper()
{
    return theDriver->CancelFromHelper();
}

size_t TalvixSettledBlocks()
{
    return theDriver->SettledBlocks();
}

void TalvixProbe(Context& ctx)
{
    theDriver->Probe(ctx);
}

}  // namespace soak
