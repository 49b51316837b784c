// A compiled client of the registered server: the object made by ProgID and
// by CLSID, the record methods called through the interface table and through
// IDispatch, with the same results and the same requests at the device.
#include <objbase.h>
#include <oleauto.h>

#include <cstring>
#include <string>
#include <vector>

#include "comserver/talvix_support.h"
#include "comserver_reg/registration_support.h"
#include "Talvix.h"

namespace {

constexpr ULONG kBytes = 32;

// The methods of a scenario, called one way or the other.
class Client {
public:
    virtual ~Client() = default;
    virtual HRESULT Create(const wchar_t* method, DeviceRecord& record, ULONG& status) = 0;
    virtual HRESULT GetDeviceStatus(DeviceRecord& record, ParamRecord& param, uint8_t (&block)[8], ULONG& returned,
                                    ULONG& status) = 0;
    virtual HRESULT BulkCmd(bool write, DeviceRecord& record, ParamRecord& param, ULONG& status) = 0;
    virtual HRESULT Transfer(bool write, DeviceRecord& record, void* buffer, ULONG count, ULONG& moved,
                             ULONG& status) = 0;
    virtual HRESULT Detect(bool generation, ULONG& result) = 0;
    virtual HRESULT DriverVersion(ULONG& version, ULONG& status) = 0;
};

class EarlyBound final : public Client {
public:
    explicit EarlyBound(ITVXDevice* device) : device_(device) {}

    HRESULT Create(const wchar_t* method, DeviceRecord& record, ULONG& status) override
    {
        VARIANT carrier = Carry(&record);
        if (std::wcscmp(method, L"CreateDevice") == 0)
            return device_->CreateDevice(&carrier, &status);
        if (std::wcscmp(method, L"CreateDeviceExR") == 0)
            return device_->CreateDeviceExR(&carrier, &status);
        return device_->CreateDeviceExW(&carrier, &status);
    }
    HRESULT GetDeviceStatus(DeviceRecord& record, ParamRecord& param, uint8_t (&block)[8], ULONG& returned,
                            ULONG& status) override
    {
        VARIANT device = Carry(&record), params = Carry(&param), buffer = Carry(block);
        return device_->GetDeviceStatus(&device, &params, &buffer, &returned, &status);
    }
    HRESULT BulkCmd(bool write, DeviceRecord& record, ParamRecord& param, ULONG& status) override
    {
        VARIANT device = Carry(&record), params = Carry(&param);
        return write ? device_->BulkWriteCmd(&device, &params, &status)
                     : device_->BulkReadCmd(&device, &params, &status);
    }
    HRESULT Transfer(bool write, DeviceRecord& record, void* buffer, ULONG count, ULONG& moved,
                     ULONG& status) override
    {
        VARIANT device = Carry(&record), data = Carry(buffer);
        return write ? device_->BulkWriteTransfer(&device, &data, count, &moved, &status)
                     : device_->BulkReadTransfer(&device, &data, count, &moved, &status);
    }
    HRESULT Detect(bool generation, ULONG& result) override
    {
        return generation ? device_->GetVersion(&result) : device_->DeviceDetect(&result);
    }
    HRESULT DriverVersion(ULONG& version, ULONG& status) override
    {
        return device_->GetDriverVersion(&version, &status);
    }

private:
    ITVXDevice* device_;
};

// What a late-bound call reports when its result carried no status: no
// method of the server reports it.
constexpr ULONG kNoStatus = 0xFFFFFFFF;

// Arguments as a script host passes them: records in VARIANTs by reference,
// out parameters by reference, the last out parameter as the call's result.
class LateBound final : public Client {
public:
    explicit LateBound(IDispatch* dispatch) : dispatch_(dispatch) {}

    HRESULT Create(const wchar_t* method, DeviceRecord& record, ULONG& status) override
    {
        VARIANT device = Carry(&record);
        return Call(method, {ByRef(&device)}, status);
    }
    HRESULT GetDeviceStatus(DeviceRecord& record, ParamRecord& param, uint8_t (&block)[8], ULONG& returned,
                            ULONG& status) override
    {
        VARIANT device = Carry(&record), params = Carry(&param), buffer = Carry(block);
        return Call(L"GetDeviceStatus", {ByRef(&device), ByRef(&params), ByRef(&buffer), ByRef(&returned)}, status);
    }
    HRESULT BulkCmd(bool write, DeviceRecord& record, ParamRecord& param, ULONG& status) override
    {
        VARIANT device = Carry(&record), params = Carry(&param);
        return Call(write ? L"BulkWriteCmd" : L"BulkReadCmd", {ByRef(&device), ByRef(&params)}, status);
    }
    HRESULT Transfer(bool write, DeviceRecord& record, void* buffer, ULONG count, ULONG& moved,
                     ULONG& status) override
    {
        VARIANT device = Carry(&record), data = Carry(buffer);
        VARIANT size;
        VariantInit(&size);
        size.vt = VT_UI4;
        size.ulVal = count;
        return Call(write ? L"BulkWriteTransfer" : L"BulkReadTransfer", {ByRef(&device), ByRef(&data), size, ByRef(&moved)},
                    status);
    }
    HRESULT Detect(bool generation, ULONG& result) override
    {
        return Call(generation ? L"GetVersion" : L"DeviceDetect", {}, result);
    }
    HRESULT DriverVersion(ULONG& version, ULONG& status) override
    {
        return Call(L"GetDriverVersion", {ByRef(&version)}, status);
    }

private:
    static VARIANT ByRef(VARIANT* inner)
    {
        VARIANT ref;
        VariantInit(&ref);
        ref.vt = VT_BYREF | VT_VARIANT;
        ref.pvarVal = inner;
        return ref;
    }
    static VARIANT ByRef(ULONG* number)
    {
        VARIANT ref;
        VariantInit(&ref);
        ref.vt = VT_BYREF | VT_UI4;
        ref.pulVal = number;
        return ref;
    }

    HRESULT Call(const wchar_t* method, std::vector<VARIANT> args, ULONG& status)
    {
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR name = const_cast<LPOLESTR>(method);
        HRESULT hr = dispatch_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr))
            return hr;
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        VARIANT result;
        VariantInit(&result);
        hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
        // A result that is not a status must not leave an earlier call's
        // value standing, or a lost status would compare equal.
        status = kNoStatus;
        if (SUCCEEDED(hr) && VariantChangeType(&result, &result, 0, VT_UI4) == S_OK)
            status = result.ulVal;
        VariantClear(&result);
        return hr;
    }

    IDispatch* dispatch_;
};

// What a client sees from one pass over the device.
struct Outcome {
    std::vector<ULONG> statuses;  // every method's status, in call order
    std::vector<HRESULT> results;
    bool handlesOpened = false;
    ULONG statusBytes = 0;
    std::vector<uint8_t> statusBlock;
    ULONG written = 0;
    ULONG read = 0;
    std::vector<uint8_t> data;
    ULONG detected = 0;
    ULONG generation = 0;
    ULONG driverVersion = 0;
    std::string trace;  // the device's view
};

class TalvixClient : public RegistrationTest {
protected:
    void SetUp() override
    {
        RegistrationTest::SetUp();
        ASSERT_EQ(0, Regsvr32(dll));
        ASSERT_EQ(S_OK, CoInitialize(nullptr));
        comInitialised_ = true;
        ASSERT_TRUE(device.Open(0));
    }
    void TearDown() override
    {
        if (comInitialised_)
            CoUninitialize();
        RegistrationTest::TearDown();
    }

    // Opens the control path and both pipes, asks the status, writes a
    // pattern, reads it back, identifies the device and checks the driver.
    Outcome RunScenario(Client& client)
    {
        Outcome out;
        EXPECT_TRUE(device.Reset());
        DeviceRecord control = MakeDeviceRecord(), in = MakeDeviceRecord(), outPipe = MakeDeviceRecord();
        ULONG status = 0;
        out.results.push_back(client.Create(L"CreateDevice", control, status));
        out.statuses.push_back(status);
        out.results.push_back(client.Create(L"CreateDeviceExR", in, status));
        out.statuses.push_back(status);
        out.results.push_back(client.Create(L"CreateDeviceExW", outPipe, status));
        out.statuses.push_back(status);
        out.handlesOpened = control.handle != INVALID_HANDLE_VALUE && in.handle != INVALID_HANDLE_VALUE &&
                            outPipe.handle != INVALID_HANDLE_VALUE && control.handle != kUntouchedHandle;

        ParamRecord param = MakeParam(kBytes, 0);
        uint8_t block[8] = {};
        out.results.push_back(client.GetDeviceStatus(control, param, block, out.statusBytes, status));
        out.statuses.push_back(status);
        out.statusBlock.assign(block, block + 8);

        std::vector<uint8_t> pattern = Pattern(kBytes, 7);
        out.results.push_back(client.BulkCmd(true, control, param, status));
        out.statuses.push_back(status);
        out.results.push_back(client.Transfer(true, outPipe, pattern.data(), kBytes, out.written, status));
        out.statuses.push_back(status);
        out.data.assign(kBytes, 0);
        out.results.push_back(client.BulkCmd(false, control, param, status));
        out.statuses.push_back(status);
        out.results.push_back(client.Transfer(false, in, out.data.data(), kBytes, out.read, status));
        out.statuses.push_back(status);

        out.results.push_back(client.Detect(false, out.detected));
        out.results.push_back(client.Detect(true, out.generation));
        out.results.push_back(client.DriverVersion(out.driverVersion, status));
        out.statuses.push_back(status);

        out.trace = ControlTrace(device.Log());
        std::vector<uint8_t> memory(kBytes);
        EXPECT_TRUE(device.ReadMemory(0, memory.data(), kBytes));
        EXPECT_EQ(pattern, memory) << "the device holds what was written";
        for (HANDLE handle : {control.handle, in.handle, outPipe.handle})
            if (handle != INVALID_HANDLE_VALUE && handle != kUntouchedHandle)
                CloseHandle(handle);
        return out;
    }

    vdev::Device device;

private:
    bool comInitialised_ = false;
};

TEST_F(TalvixClient, ProgIdsNameTheClass)
{
    for (const wchar_t* progId : {L"Talvix.TVXDevice", L"Talvix.TVXDevice.1"}) {
        CLSID clsid{};
        EXPECT_EQ(S_OK, CLSIDFromProgID(progId, &clsid));
        EXPECT_TRUE(IsEqualCLSID(CLSID_TVXDevice, clsid));
    }
    LPOLESTR progId = nullptr;
    ASSERT_EQ(S_OK, ProgIDFromCLSID(CLSID_TVXDevice, &progId));
    EXPECT_EQ(std::wstring(L"Talvix.TVXDevice.1"), progId);
    CoTaskMemFree(progId);
}

TEST_F(TalvixClient, EarlyAndLateBoundCallsAgree)
{
    CLSID byProgId{};
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"Talvix.TVXDevice", &byProgId));
    Ref<ITVXDevice> early;
    ASSERT_EQ(S_OK, CoCreateInstance(byProgId, nullptr, CLSCTX_INPROC_SERVER, IID_ITVXDevice, early.OutVoid()));
    Ref<IDispatch> late;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_TVXDevice, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, late.OutVoid()));

    EarlyBound earlyClient(early.Get());
    const Outcome a = RunScenario(earlyClient);
    LateBound lateClient(late.Get());
    const Outcome b = RunScenario(lateClient);

    EXPECT_EQ(std::vector<HRESULT>(a.results.size(), S_OK), a.results);
    EXPECT_EQ(a.results, b.results);
    EXPECT_EQ(std::vector<ULONG>(a.statuses.size(), 0), a.statuses);
    EXPECT_EQ(a.statuses, b.statuses);
    EXPECT_TRUE(a.handlesOpened);
    EXPECT_TRUE(b.handlesOpened);
    EXPECT_EQ(8u, a.statusBytes);
    EXPECT_EQ(a.statusBytes, b.statusBytes);
    EXPECT_EQ(a.statusBlock, b.statusBlock);
    EXPECT_EQ(kBytes, a.written);
    EXPECT_EQ(a.written, b.written);
    EXPECT_EQ(kBytes, a.read);
    EXPECT_EQ(a.read, b.read);
    EXPECT_EQ(Pattern(kBytes, 7), a.data);
    EXPECT_EQ(a.data, b.data);
    EXPECT_EQ(0x0412u, a.detected);
    EXPECT_EQ(a.detected, b.detected);
    EXPECT_EQ(0x01000000u, a.generation);
    EXPECT_EQ(a.generation, b.generation);
    EXPECT_EQ(0x05000102u, a.driverVersion);
    EXPECT_EQ(a.driverVersion, b.driverVersion);
    EXPECT_FALSE(a.trace.empty());
    EXPECT_EQ(a.trace, b.trace);
}

}  // namespace
