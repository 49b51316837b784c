// Talvix under faults: the TVXDevice object made through COM from the
// registered server, its methods called at random through the interface table
// or late-bound through IDispatch as a script would, each result compared
// with the model.  Its module heaps are checked by the main program.
#include <cstring>

#include "comserver/talvix_support.h"
#include "soak/oracle.h"
#include "soak/soak.h"

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

// One of the client's three device records and whether the model holds its handle open.
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
        ctx.model.Vendor(REQ_RESET, 0, nullptr, 0);
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
        uint8_t reply[8], expected[8];
        std::memset(reply, 0xA5, sizeof reply);
        ctx.model.Vendor(REQ_STATUS, 0, expected, sizeof expected);
        ParamRecord param = MakeParam(0, 0, 1);
        Carrier d(&helperRecord_.rec), p(&param), r(reply);
        ULONG status = 0xDEAD, returned = 0;
        ctx.Expect(helper_->GetDeviceStatus(&d.value, &p.value, &r.value, &returned, &status) == S_OK && status == 0,
                   "status request after a reset: %08lX", status);
        ctx.Expect(std::memcmp(reply, expected, 8) == 0 && !(reply[0] & (STATUS_ERROR | STATUS_ACTIVE)),
                   "status after a reset: byte 0 %02X, expected %02X and idle", reply[0], expected[0]);
    }

private:
    // Calls a method through the interface table or IDispatch; `a`, `b`, `c`
    // are the VARIANT parameters in order, `n` the count, `out` the counted
    // out parameter.  The status lands in `status`.
    HRESULT Call(Context& ctx, Method id, Carrier* a, Carrier* b, Carrier* c, ULONG n, ULONG* out, ULONG* status);
    void Open(Context& ctx, Record& record, Method create);
    uint32_t ExpectCommand(Context& ctx, uint8_t request, bool handle, uint32_t byteCount);
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
    const bool found = ctx.model.plugged && !other;
    ctx.Note("-> %08lX", status);
    ctx.Expect(hr == (found ? S_OK : S_FALSE) && status == (found ? 0 : R_NOT_FOUND),
               "Create method %d: hr %08lX status %08lX", create, hr, status);
    record.open = found && record.rec.handle != INVALID_HANDLE_VALUE;
    ctx.Expect(found == record.open, "Create method %d: handle %p", create, record.rec.handle);
}

uint32_t TalvixDriver::ExpectCommand(Context& ctx, uint8_t request, bool handle, uint32_t byteCount)
{
    uint32_t status = ExpectWaitReady(ctx.model, handle);
    if (status == kWaitNeverEnds)
        ctx.Fail("the model's ready wait never ends: the soak left a data phase open");
    if (status)
        return status;
    if (cancelled_ && request != REQ_DEBUG)
        return R_CANCELLED;
    uint8_t stage[16] = {};
    const uint32_t size = request == REQ_READ ? 12 : request == REQ_WRITE ? 16 : 4;
    StagePutWord(stage, size / 4 - 1, request == REQ_DEBUG ? byteCount : byteCount >> 2);
    if (!ctx.model.Vendor(request, 0, stage, size))
        return R_IOCTL_FAILED;
    return ExpectWaitComplete(ctx.model);
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
    uint32_t expected = ExpectCommand(ctx, read ? REQ_READ : REQ_WRITE, control_.open, byteCount);
    HRESULT hr = Call(ctx, read ? kBulkReadCmd : kBulkWriteCmd, &d, &p, nullptr, 0, nullptr, &status);
    ctx.Note("-> %08lX", status);
    ctx.Expect(hr == S_OK && status == expected, "Bulk%sCmd: hr %08lX status %08lX, expected %08X",
               read ? "Read" : "Write", hr, status, expected);
    if (status != 0 && rng.Percent(80))
        return;

    Record& pipe = read ? in_ : out_;
    std::vector<uint8_t> buffer = read ? std::vector<uint8_t>(n, 0xA5) : Bytes(n, rng.Next());
    std::vector<uint8_t> expectedBuffer = buffer;
    PipeResult moved;
    if (pipe.open)
        moved = read ? ctx.model.PipeRead(n) : ctx.model.PipeWrite(buffer.data(), n);
    if (read)
        std::copy(moved.data.begin(), moved.data.end(), expectedBuffer.begin());
    Carrier pd(&pipe.rec), buf(buffer.data());
    ULONG count = 0xC0FFEE;
    status = 0xDEAD;
    hr = Call(ctx, read ? kBulkReadTransfer : kBulkWriteTransfer, &pd, &buf, nullptr, n, &count, &status);
    ctx.Note("transfer -> %08lX count=%lu", status, count);
    ctx.Expect(hr == S_OK && status == (moved.ok ? 0 : R_IO_FAILED), "Bulk%sTransfer: hr %08lX status %08lX",
               read ? "Read" : "Write", hr, status);
    if (pipe.open)
        ctx.Expect(count == moved.moved, "Bulk%sTransfer: count %lu, expected %u", read ? "Read" : "Write", count,
                   moved.moved);
    ctx.Expect(buffer == expectedBuffer, "BulkReadTransfer: the bytes differ from the model");
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
    std::vector<uint8_t> expectedBuffer = buffer;
    if (!read)
        cancelled_ = false;
    uint32_t expected = ExpectCommand(ctx, REQ_DEBUG, pipe.open, byteCount);
    PipeResult moved;
    if (expected == 0) {
        moved = read ? ctx.model.PipeRead(byteCount) : ctx.model.PipeWrite(buffer.data(), byteCount);
        expected = moved.ok ? 0 : R_IO_FAILED;
        if (read)
            std::copy(moved.data.begin(), moved.data.end(), expectedBuffer.begin());
    }
    CmdRecord cmd = MakeCmd(byteCount, buffer.data(), static_cast<uint16_t>(rng.Next()));
    Carrier d(&pipe.rec), c(&cmd);
    ULONG count = 0xC0FFEE, status = 0xDEAD;
    HRESULT hr = Call(ctx, read ? kResCmdToRead : kResCmdToWrite, &d, &c, nullptr, 0, &count, &status);
    ctx.Note("-> %08lX count=%lu", status, count);
    ctx.Expect(hr == S_OK && status == expected, "%s: hr %08lX status %08lX, expected %08X",
               read ? "ResCmdToRead" : "ResCmdToWrite", hr, status, expected);
    const bool pipeCalled = moved.ok || expected == R_IO_FAILED;
    if (pipeCalled)
        ctx.Expect(count == moved.moved, "ResCmd: count %lu, expected %u", count, moved.moved);
    else
        ctx.Expect(count == 0xC0FFEE, "ResCmd: count written although no data phase ran");
    ctx.Expect(buffer == expectedBuffer, "ResCmdToRead: the bytes differ from the model");
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
        uint8_t expected[8];
        std::memset(expected, 0xA5, sizeof expected);
        const bool ok = control_.open && ctx.model.Vendor(REQ_STATUS, 0, expected, sizeof expected);
        ParamRecord param = MakeParam(0, 0, static_cast<uint16_t>(rng.Next()));
        Carrier d(&control_.rec), p(&param), r(reply);
        HRESULT hr = Call(ctx, kGetDeviceStatus, &d, &p, &r, 0, &value, &status);
        ctx.Note("-> %08lX status %02X", status, reply[0]);
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
        const bool ok = control_.open && ctx.model.Vendor(REQ_RESET, 0, nullptr, 0);
        ParamRecord param = MakeParam(0, static_cast<uint16_t>(rng.Next()));
        Carrier d(&control_.rec), p(&param);
        HRESULT hr = Call(ctx, kResetOrCancel, &d, &p, nullptr, 0, nullptr, &status);
        ctx.Note("-> %08lX", status);
        ctx.Expect(hr == S_OK && status == (ok ? 0 : R_IOCTL_FAILED), "ResetOrCancel: hr %08lX status %08lX", hr,
                   status);
        cancelled_ = true;
        break;
    }
    default: {
        const Method id = static_cast<Method>(kDeviceDetect + rng.Below(3));
        ctx.Note("method %d", id);
        const bool present = ctx.model.plugged;
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
