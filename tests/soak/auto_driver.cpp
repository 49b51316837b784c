// uXfer.Device (uXferAuto.dll) under faults: the object made through COM
// from the registered server, its transfers called through its interface,
// a held read left to its Timeout or ended by Cancel from the helper thread.
// Judged by the HRESULT against what the device's log shows, and its files
// and arrays against device memory; a read that fails leaves the old file.
#include <algorithm>
#include <cstdio>
#include <map>

#include "common/com_ref.h"
#include "common/processes.h"
#include "dumptool/test_files.h"
#include "soak/soak.h"
#include "uXfer.h"
#include "usb_protocol.h"
#include "win/text.h"
#include "win/unique_any.h"
// The identifiers of the type library, defined here.
#include <initguid.h>
#include "uXferAuto.h"

namespace soak {

namespace {

using dumptest::ReadAll;
using dumptest::WriteAll;

// A VARIANT argument that owns what it holds.
struct Arg {
    Arg() { VariantInit(&v); }
    explicit Arg(LONG number) : Arg()
    {
        V_VT(&v) = VT_I4;
        V_I4(&v) = number;
    }
    ~Arg() { VariantClear(&v); }
    static Arg Missing()
    {
        Arg a;
        V_VT(&a.v) = VT_ERROR;
        V_ERROR(&a.v) = DISP_E_PARAMNOTFOUND;
        return a;
    }
    static Arg Bool(bool value)
    {
        Arg a;
        V_VT(&a.v) = VT_BOOL;
        V_BOOL(&a.v) = value ? VARIANT_TRUE : VARIANT_FALSE;
        return a;
    }
    static Arg Array(const std::vector<uint8_t>& bytes)
    {
        Arg a;
        SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
        void* data = nullptr;
        if (array && SUCCEEDED(SafeArrayAccessData(array, &data))) {
            std::copy(bytes.begin(), bytes.end(), static_cast<uint8_t*>(data));
            SafeArrayUnaccessData(array);
            V_VT(&a.v) = VT_ARRAY | VT_UI1;
            V_ARRAY(&a.v) = array;
        }
        return a;
    }
    Arg(Arg&& other) noexcept : v(other.v) { VariantInit(&other.v); }
    Arg(const Arg&) = delete;
    Arg& operator=(const Arg&) = delete;
    VARIANT v;
};

struct Bstr {
    explicit Bstr(const std::string& text) : b(SysAllocString(win::Widen(text, CP_ACP).c_str())) {}
    ~Bstr() { SysFreeString(b); }
    BSTR b;
};

// The elements of an array result as numbers 0 to 255 (bytes, Longs or Variants holding them).
std::vector<uint8_t> Elements(const VARIANT& value)
{
    std::vector<uint8_t> bytes;
    if (!(V_VT(&value) & VT_ARRAY) || !V_ARRAY(&value))
        return bytes;
    SAFEARRAY* array = V_ARRAY(&value);
    LONG low = 0, high = -1;
    SafeArrayGetLBound(array, 1, &low);
    SafeArrayGetUBound(array, 1, &high);
    VARTYPE type = VT_EMPTY;
    SafeArrayGetVartype(array, &type);
    for (LONG i = low; i <= high; ++i) {
        if (type == VT_UI1) {
            uint8_t b = 0;
            SafeArrayGetElement(array, &i, &b);
            bytes.push_back(b);
        } else if (type == VT_VARIANT) {
            VARIANT element;
            VariantInit(&element);
            SafeArrayGetElement(array, &i, &element);
            VariantChangeType(&element, &element, 0, VT_I4);
            bytes.push_back(V_VT(&element) == VT_I4 ? static_cast<uint8_t>(V_I4(&element)) : 0xA5);
            VariantClear(&element);
        } else {
            LONG n = 0;
            SafeArrayGetElement(array, &i, &n);
            bytes.push_back(static_cast<uint8_t>(n));
        }
    }
    return bytes;
}

class AutoDriver : public Driver {
public:
    explicit AutoDriver(Context& ctx) : dump_(ctx.folder + "auto_dump.bin"), image_(ctx.folder + "auto_image.bin")
    {
        apartment_.reset(SUCCEEDED(CoInitialize(nullptr)));
        module_.reset(LoadLibraryA((ProgramFolder() + "uXferAuto.dll").c_str()));
        if (!module_ || FAILED(Server("DllRegisterServer")) ||
            FAILED(CoCreateInstance(CLSID_XferDevice, nullptr, CLSCTX_INPROC_SERVER, IID_IXferDevice,
                                    device_.OutVoid())))
            ctx.Fail("uXfer.Device could not be registered and created");
    }
    ~AutoDriver() override
    {
        std::printf("soak: uXfer.Device results:");
        for (const auto& seen : results_)
            std::printf(" %08lX x %u", static_cast<unsigned long>(seen.first), seen.second);
        std::printf("\n");
        device_.Reset();
        Server("DllUnregisterServer");
    }
    const char* Name() const override { return "uXfer.Device"; }
    void Step(Context& ctx) override;
    void Settle(Context& ctx) override { ctx.Expect(SUCCEEDED(device_->Close()), "uXfer.Device Close"); }
    bool ResetDevice(Context& ctx) override
    {
        ctx.Note("uXfer.Device Reset");
        Arg code = Arg::Missing();
        if (!ctx.plugged)
            return false;
        ctx.Expect(device_->Reset(code.v) == S_OK, "uXfer.Device Reset with the device present");
        XferSelectedForReset();
        return true;
    }
    bool Cancel() { return SUCCEEDED(device_->Cancel()); }

private:
    HRESULT Server(const char* name)
    {
        auto entry = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
            reinterpret_cast<void*>(GetProcAddress(module_.get(), name)));
        return entry ? entry() : E_FAIL;
    }
    // The HRESULT a transfer of `request` gives, as the log since the mark
    // shows the reset command and the transfer; a held read ends as the helper
    // was told to.
    HRESULT Expected(Context& ctx, const OpLog& log, uint8_t request, uint16_t type, uint32_t bytes);
    HeldReadPlan ArmTransfer(Context& ctx, uint32_t kinds);
    void Check(Context& ctx, const char* what, HRESULT hr, HRESULT expected)
    {
        ctx.Note("-> %08lX", static_cast<unsigned long>(hr));
        ++results_[hr];
        ctx.Expect(hr == expected, "%s: %08lX, the log says %08lX", what, static_cast<unsigned long>(hr),
                   static_cast<unsigned long>(expected));
    }
    std::vector<uint8_t> MemoryWire(Context& ctx, uint32_t addr, uint32_t words)
    {
        std::vector<uint8_t> wire(2 * words);
        for (uint32_t i = 0; i < wire.size(); ++i)
            wire[i] = ctx.Before(2 * addr + i);
        return wire;
    }

    win::unique_apartment apartment_;
    win::unique_hmodule module_;
    Ref<IXferDevice> device_;
    HeldReadPlan plan_;
    std::string dump_, image_;
    std::map<HRESULT, unsigned> results_;
};

AutoDriver* theDriver = nullptr;

HeldReadPlan AutoDriver::ArmTransfer(Context& ctx, uint32_t kinds)
{
    plan_ = ctx.ArmFaults(kinds, 2, {HeldRead::Leave, HeldRead::CancelAuto});
    device_->put_Timeout(plan_.armed && plan_.action == HeldRead::Leave ? 1 : -1);
    return plan_;
}

HRESULT AutoDriver::Expected(Context& ctx, const OpLog& log, uint8_t request, uint16_t type, uint32_t bytes)
{
    if (!ctx.plugged)
        return UXA_E_NO_DEVICE;
    const bool held = plan_.armed && std::any_of(log.records.begin(), log.records.end(), [](const VdevLogRecord& r) {
                          return r.type == VDEV_LOG_READ && r.c == 0xC0000120;
                      });
    if (held && plan_.action == HeldRead::Leave)
        return UXA_E_TIMEOUT;
    if (held && plan_.action == HeldRead::CancelAuto)
        return UXA_E_CANCELLED;
    const auto debug = log.Vendor(REQ_DEBUG);
    const auto writes = log.Pipe(VDEV_LOG_WRITE);
    if (debug.empty() || !Ok(*debug[0]) || writes.empty() || !Ok(*writes[0]))
        return UXA_E_DEVICE;
    const auto commands = log.Vendor(request);
    if (commands.empty() || !Ok(*commands[0]))
        return UXA_E_DEVICE;
    const OpLog transfer = log.After(*commands[0]);
    return !transfer.AnyFailed(type) && transfer.MovedBeforeReset(type) == bytes ? S_OK : UXA_E_DEVICE;
}

void AutoDriver::Step(Context& ctx)
{
    Rng& rng = ctx.rng;
    // The object opens uXfer's one connection of the process: the other
    // drivers' is closed first, and the object's after the operation.
    ctx.Expect(uClose() == ExpectXferClose(), "uClose before uXfer.Device");
    const uint32_t addr = rng.Below(ctx.MemoryBytes() / 2 + 256);
    const uint32_t words = 2 * rng.Range(1, rng.Percent(20) ? 40000 : 600);
    Arg address(static_cast<LONG>(addr)), size(static_cast<LONG>(words)), missing = Arg::Missing();
    VARIANT result;
    VariantInit(&result);
    const uint32_t readFaults = kFailControl | kFailRead | kShortRead | kPendRead | kFailWrite;
    switch (rng.Below(7)) {
    case 0: {
        const std::vector<uint8_t> old = Bytes(rng.Below(64), rng.Next());
        WriteAll(dump_, old);
        win::unique_file held;
        if (rng.Percent(8)) {
            held.reset(CreateFileA(dump_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            ctx.Note("[dump held open]");
        }
        ArmTransfer(ctx, readFaults);
        ctx.Note("ReadToFile addr=%u size=%u", addr, words);
        const uint32_t mark = ctx.Mark();
        const HRESULT hr = device_->ReadToFile(Bstr(dump_).b, address.v, size.v, missing.v, &result);
        const bool locked = held.valid();
        held.reset();
        // A file that can't be replaced is found before the transfer starts.
        const HRESULT expected = ctx.plugged && locked ? UXA_E_FILE
                                                       : Expected(ctx, ctx.LogSince(mark), REQ_READ, VDEV_LOG_READ, 2 * words);
        Check(ctx, "ReadToFile", hr, expected);
        const std::vector<uint8_t> now = ReadAll(dump_);
        ctx.Expect(now == (hr == S_OK ? DumpOf(MemoryWire(ctx, addr, words)) : old),
                   hr == S_OK ? "ReadToFile: the file differs from device memory" : "a failed ReadToFile changed the file");
        break;
    }
    case 1: {
        const bool verify = rng.Percent(50);
        const std::vector<uint8_t> file = Bytes(words, rng.Next());
        WriteAll(image_, file);
        const std::vector<uint8_t> wire = WireOf(file);
        ctx.Sent(wire);
        ArmTransfer(ctx, kFailControl | kFailWrite | (verify ? kFailRead | kShortRead | kPendRead : 0));
        ctx.Note("WriteFromFile addr=%u size=%u%s", addr, words, verify ? " verify" : "");
        Arg check = Arg::Bool(verify);
        const uint32_t mark = ctx.Mark();
        const HRESULT hr = device_->WriteFromFile(Bstr(image_).b, address.v, missing.v, missing.v, check.v, &result);
        const OpLog log = ctx.LogSince(mark);
        HRESULT expected = Expected(ctx, log, REQ_WRITE, VDEV_LOG_WRITE, 2 * words);
        if (expected == S_OK && verify) {
            // The read-back: writes past the end of memory are lost, reads there give 0xFF.
            const auto reads = log.Vendor(REQ_READ);
            const OpLog back = reads.empty() ? OpLog{} : log.After(*reads[0]);
            expected = !reads.empty() && Ok(*reads[0]) && !back.AnyFailed(VDEV_LOG_READ) &&
                               back.MovedBeforeReset(VDEV_LOG_READ) == 2 * words
                           ? S_OK
                           : UXA_E_DEVICE;
            for (uint32_t i = 0; expected == S_OK && i < words; ++i)
                if (2 * (addr + i) >= ctx.MemoryBytes() && file[i] != 0xFF)
                    expected = UXA_E_MISMATCH;
        }
        Check(ctx, "WriteFromFile", hr, expected);
        break;
    }
    case 2: {
        std::vector<uint8_t> file = DumpOf(MemoryWire(ctx, addr, words));
        const uint32_t differ = rng.Percent(40) ? rng.Below(words) : words;
        if (differ < words)
            file[differ] ^= 0x5A;
        WriteAll(image_, file);
        ArmTransfer(ctx, readFaults);
        ctx.Note("CompareWithFile addr=%u size=%u", addr, words);
        const uint32_t mark = ctx.Mark();
        const HRESULT hr = device_->CompareWithFile(Bstr(image_).b, address.v, missing.v, missing.v, &result);
        Check(ctx, "CompareWithFile", hr, Expected(ctx, ctx.LogSince(mark), REQ_READ, VDEV_LOG_READ, 2 * words));
        if (hr == S_OK)
            ctx.Expect(V_VT(&result) == VT_I4 && V_I4(&result) == (differ < words ? static_cast<LONG>(differ) : -1),
                       "CompareWithFile: %ld, the difference is at %u", static_cast<long>(V_I4(&result)), differ);
        break;
    }
    case 3: {
        ArmTransfer(ctx, readFaults);
        ctx.Note("Read addr=%u size=%u", addr, words);
        const uint32_t mark = ctx.Mark();
        const HRESULT hr = device_->Read(address.v, size.v, missing.v, &result);
        Check(ctx, "Read", hr, Expected(ctx, ctx.LogSince(mark), REQ_READ, VDEV_LOG_READ, 2 * words));
        if (hr == S_OK)
            ctx.Expect(Elements(result) == DumpOf(MemoryWire(ctx, addr, words)), "Read: the array differs from device memory");
        break;
    }
    case 4: {
        const std::vector<uint8_t> data = Bytes(words, rng.Next());
        ctx.Sent(WireOf(data));
        ArmTransfer(ctx, kFailControl | kFailWrite);
        ctx.Note("Write addr=%u size=%u", addr, words);
        Arg array = Arg::Array(data);
        const uint32_t mark = ctx.Mark();
        const HRESULT hr = device_->Write(address.v, array.v, missing.v, &result);
        Check(ctx, "Write", hr, Expected(ctx, ctx.LogSince(mark), REQ_WRITE, VDEV_LOG_WRITE, 2 * words));
        break;
    }
    case 5: {
        ctx.ArmFaults(kFailControl | kFailRead | kShortRead, 2);
        device_->put_Timeout(-1);
        ctx.Note("Verify addr=%u size=%u", addr, words);
        const uint32_t mark = ctx.Mark();
        const HRESULT hr = device_->Verify(address.v, size.v, missing.v, &result);
        const auto reads = ctx.LogSince(mark).Pipe(VDEV_LOG_READ);
        const bool whole = reads.size() == 1 && Ok(*reads[0]) && reads[0]->b == 4;
        Check(ctx, "Verify", hr, !ctx.plugged ? UXA_E_NO_DEVICE : whole ? S_OK : UXA_E_DEVICE);
        if (hr != S_OK)
            break;
        uint32_t sum = 0;
        for (uint32_t i = 0; i < words; ++i)
            sum += ctx.Before(2 * (addr + i)) | (ctx.Before(2 * (addr + i) + 1) << 8);
        wchar_t text[32];
        swprintf(text, 32, L"%02X %02X %02X %02X", sum & 0xFF, (sum >> 8) & 0xFF, (sum >> 16) & 0xFF, sum >> 24);
        ctx.Expect(V_VT(&result) == VT_BSTR && _wcsicmp(V_BSTR(&result), text) == 0,
                   "Verify: not the sum of device memory, %08X", sum);
        break;
    }
    default: {
        ctx.ArmFaults(kFailControl | kActivePolls | kErrorAtPoll, 2);
        ctx.Note("Status");
        const uint32_t mark = ctx.Mark();
        const HRESULT hr = device_->Status(&result);
        const auto polls = ctx.LogSince(mark).Vendor(REQ_STATUS);
        const bool ok = !polls.empty() && Ok(*polls.back());
        Check(ctx, "Status", hr, !ctx.plugged ? UXA_E_NO_DEVICE : ok ? S_OK : UXA_E_DEVICE);
        if (ok)
            ctx.Expect(Elements(result) == std::vector<uint8_t>(StageOf(*polls.back()), StageOf(*polls.back()) + 8),
                       "Status: not the device's answer");
        break;
    }
    }
    VariantClear(&result);
    ctx.Expect(SUCCEEDED(device_->Close()), "uXfer.Device Close");
    XferConnectionLent();
}

}  // namespace

Driver* NewAutoDriver(Context& ctx)
{
    theDriver = new AutoDriver(ctx);
    return theDriver;
}

bool AutoCancelFromHelper()
{
    return theDriver->Cancel();
}

}  // namespace soak
