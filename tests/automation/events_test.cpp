// The Progress event and OnProgress as hosts with apartments meet them: called
// on the thread that connected them, whichever thread runs the transfer, and a
// handler that calls the object back during its transfer.
#include <objbase.h>
#include <ocidl.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <thread>

#include "automation/auto_support.h"
#include "common/com_ref.h"
#include "common/device_log.h"
#include "uXferAuto.h"
#include "win/text.h"
#include "win/unique_any.h"

namespace {

// A sink or handler: the thread of every call, and `act` run at call number `actAt`.
struct Recorder final : IDispatch {
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID_DXferDeviceEvents ? this : nullptr;
        return *out ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = InterlockedDecrement(&references);
        if (left == 0)
            delete this;
        return left;
    }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        std::function<void()> now;
        {
            std::lock_guard<std::mutex> lock(guard);
            threads.push_back(GetCurrentThreadId());
            if (threads.size() == actAt)
                now = std::exchange(act, nullptr);
        }
        if (now)
            now();
        return S_OK;
    }

    LONG references = 1;
    std::mutex guard;
    std::vector<DWORD> threads;
    std::function<void()> act;
    size_t actAt = 1;
};

// 256 KiB on the wire: four chunks, four events.
Outcome ReadBig(IDispatch* dev, const std::string& file)
{
    return Call(dev, L"ReadToFile", {Text(win::Widen(file, CP_ACP).c_str()), Number(0), Text(L"128K")});
}

class AutoEvents : public AutoTest {
protected:
    // In a new apartment of `model`, `dev` with `recorder` as its sink or its OnProgress.
    void Connect(DWORD model, bool sink)
    {
        joined.reset(SUCCEEDED(CoInitializeEx(nullptr, model)));
        for (Ref<IDispatch>* object : {&dev, &other})
            ASSERT_EQ(S_OK, CoCreateInstance(CLSID_XferDevice, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                             object->OutVoid()));
        Ref<IConnectionPointContainer> points;
        Ref<IConnectionPoint> point;
        Ref<IXferDevice> typed;
        DWORD cookie = 0;
        VARIANT handler;
        V_VT(&handler) = VT_DISPATCH;
        V_DISPATCH(&handler) = recorder.Get();
        ASSERT_EQ(S_OK, dev->QueryInterface(IID_IConnectionPointContainer, points.OutVoid()));
        ASSERT_EQ(S_OK, dev->QueryInterface(IID_IXferDevice, typed.OutVoid()));
        if (sink) {
            ASSERT_EQ(S_OK, points->FindConnectionPoint(DIID_DXferDeviceEvents, point.Out()));
            ASSERT_EQ(S_OK, point->Advise(recorder.Get(), &cookie));
        } else {
            ASSERT_EQ(S_OK, typed->putref_OnProgress(handler));
        }
    }
    void TearDown() override
    {
        dev.Reset();
        other.Reset();
    }

    win::unique_apartment joined;  // left last
    Ref<Recorder> recorder{new Recorder};
    Ref<IDispatch> dev, other;
};

enum class Runner { ConnectingThread, MtaWorker, WorkerOutsideCom, AfterConnectingThreadEnded };
struct ApartmentCase {
    const char* name;
    bool sink;
    Runner runner;
};

void PrintTo(const ApartmentCase& c, std::ostream* os)
{
    *os << c.name;
}

class AutoApartments : public AutoEvents, public testing::WithParamInterface<ApartmentCase> {};

TEST_P(AutoApartments, EventsArriveOnTheThreadThatConnectedThem)
{
    const ApartmentCase& c = GetParam();
    Outcome outcome{};
    const auto read = [&] { outcome = ReadBig(dev.Get(), scratch.File("dump.bin")); };
    if (c.runner == Runner::AfterConnectingThreadEnded) {
        std::thread([&] {
            Connect(COINIT_APARTMENTTHREADED, c.sink);
            joined.reset();
        }).join();
        joined.reset(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        read();
    } else if (Connect(COINIT_APARTMENTTHREADED, c.sink); c.runner == Runner::ConnectingThread) {
        read();
    } else {
        const win::unique_handle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        std::thread worker([&] {
            win::unique_apartment own(c.runner == Runner::MtaWorker &&
                                      SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
            read();
            own.reset();
            APTTYPE type;
            APTTYPEQUALIFIER qualifier;
            EXPECT_EQ(CO_E_NOTINITIALIZED, CoGetApartmentType(&type, &qualifier)) << "left in an apartment";
            SetEvent(done.get());
        });
        // Pumping: the events come to this thread as messages.
        HANDLE handles[] = {done.get()};
        DWORD index = 0;
        EXPECT_EQ(S_OK, CoWaitForMultipleHandles(0, 60000, 1, handles, &index));
        worker.join();
    }
    EXPECT_EQ(S_OK, outcome.result) << outcome.description;
    const std::vector<DWORD> expected(c.runner == Runner::AfterConnectingThreadEnded ? 0 : 4, GetCurrentThreadId());
    EXPECT_EQ(expected, recorder->threads);
}

INSTANTIATE_TEST_SUITE_P(Calls, AutoApartments,
                         testing::Values(ApartmentCase{"Sink", true, Runner::ConnectingThread},
                                         ApartmentCase{"SinkWorker", true, Runner::MtaWorker},
                                         ApartmentCase{"SinkWorkerOutsideCom", true, Runner::WorkerOutsideCom},
                                         ApartmentCase{"SinkThreadEnded", true, Runner::AfterConnectingThreadEnded},
                                         ApartmentCase{"Handler", false, Runner::ConnectingThread},
                                         ApartmentCase{"HandlerWorker", false, Runner::MtaWorker},
                                         ApartmentCase{"HandlerThreadEnded", false, Runner::AfterConnectingThreadEnded}),
                         [](const testing::TestParamInfo<ApartmentCase>& info) { return std::string(info.param.name); });

// What the handler does at an event (the first unless `at` says); the outcomes
// of the transfer and of that call.
struct ReentryCase {
    const char* name;
    Outcome (*inner)(Ref<IDispatch>& dev, const std::string& folder);
    HRESULT transfer, innerResult;
    size_t events;  // that the handler sees; 0: any number
    size_t at = 1;
};

void PrintTo(const ReentryCase& c, std::ostream* os)
{
    *os << c.name;
}

const ReentryCase kReentryCases[] = {
    {"Close", [](Ref<IDispatch>& dev, const std::string&) { return Call(dev.Get(), L"Close", {}); }, S_OK,
     UXA_E_NO_DEVICE, 4},
    {"ReadToFile",
     [](Ref<IDispatch>& dev, const std::string& folder) { return ReadBig(dev.Get(), folder + "inner.bin"); }, S_OK,
     UXA_E_NO_DEVICE, 4},
    {"Open", [](Ref<IDispatch>& dev, const std::string&) { return Call(dev.Get(), L"Open", {}); }, S_OK,
     UXA_E_NO_DEVICE, 4},
    {"OnProgressNothing",
     [](Ref<IDispatch>& dev, const std::string&) {
         Ref<IXferDevice> typed;
         dev->QueryInterface(IID_IXferDevice, typed.OutVoid());
         VARIANT nothing;
         VariantInit(&nothing);
         return Outcome{typed->put_OnProgress(nothing), VT_EMPTY, ""};
     },
     S_OK, S_OK, 1},
    {"Cancel", [](Ref<IDispatch>& dev, const std::string&) { return Call(dev.Get(), L"Cancel", {}); },
     UXA_E_CANCELLED, S_OK, 0},
    // The reset request stops the library's transfer: the call is cancelled, not failed.
    {"Reset", [](Ref<IDispatch>& dev, const std::string&) { return Call(dev.Get(), L"Reset", {}); },
     UXA_E_CANCELLED, S_OK, 0},
    // The last chunk has moved when its event comes: the transfer is done.
    {"CancelAtTheLastEvent", [](Ref<IDispatch>& dev, const std::string&) { return Call(dev.Get(), L"Cancel", {}); },
     S_OK, S_OK, 4, 4},
    {"ReleaseTheLastReference",
     [](Ref<IDispatch>& dev, const std::string&) {
         dev.Reset();
         return Outcome{S_OK, VT_EMPTY, ""};
     },
     S_OK, S_OK, 4},
};

class AutoReentry : public AutoEvents, public testing::WithParamInterface<ReentryCase> {};

TEST_P(AutoReentry, HandlerCallsTheObjectDuringItsTransfer)
{
    const ReentryCase& c = GetParam();
    Connect(COINIT_MULTITHREADED, false);
    Outcome inner{E_UNEXPECTED, VT_EMPTY, "not called"};
    recorder->act = [&] { inner = c.inner(dev, scratch.File("")); };
    recorder->actAt = c.at;
    IDispatch* const caller = dev.Get();  // the handler may let go of it
    const Outcome outcome = ReadBig(caller, scratch.File("dump.bin"));
    EXPECT_EQ(c.transfer, outcome.result) << std::hex << outcome.result << " " << outcome.description;
    EXPECT_EQ(c.innerResult, inner.result) << std::hex << inner.result << " " << inner.description;
    EXPECT_EQ(FAILED(c.innerResult) ? "a transfer of this object is running; wait for it to end, or Cancel it" : "",
              inner.description);
    EXPECT_TRUE(!c.events || c.events == recorder->threads.size()) << recorder->threads.size() << " events";
    // The connection goes with the object that held it.
    dev.Reset();
    EXPECT_EQ(S_OK, Call(other.Get(), L"Open", {}).result);
}

INSTANTIATE_TEST_SUITE_P(Calls, AutoReentry, testing::ValuesIn(kReentryCases),
                         [](const testing::TestParamInfo<ReentryCase>& info) { return std::string(info.param.name); });

// Write sends from the caller's array where it lies: a handler that would
// free it (a script's ReDim or Erase) finds it locked, and the write goes on
// from the array as it was.
TEST_F(AutoEvents, HandlerCantFreeTheArrayBeingWritten)
{
    Connect(COINIT_MULTITHREADED, false);
    const std::vector<uint8_t> data = Pattern(128 << 10, 23);  // four chunks on the wire
    VARIANT array;
    V_VT(&array) = VT_ARRAY | VT_UI1;
    V_ARRAY(&array) = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(data.size()));
    void* items = nullptr;
    ASSERT_EQ(S_OK, SafeArrayAccessData(V_ARRAY(&array), &items));
    std::copy(data.begin(), data.end(), static_cast<uint8_t*>(items));
    SafeArrayUnaccessData(V_ARRAY(&array));
    HRESULT freed = E_UNEXPECTED;
    recorder->act = [&] { freed = SafeArrayDestroyData(V_ARRAY(&array)); };
    const Outcome outcome = Call(dev.Get(), L"Write", {Number(0), array});
    EXPECT_EQ(S_OK, outcome.result) << outcome.description;
    EXPECT_EQ(DISP_E_ARRAYISLOCKED, freed);
    EXPECT_EQ(4u, recorder->threads.size());
    std::vector<uint8_t> wire(2 * data.size());
    ASSERT_TRUE(device.ReadMemory(0, wire.data(), wire.size()));
    for (size_t i = 0; i < data.size(); ++i)
        ASSERT_EQ(data[i], wire[2 * i]) << "at " << i;
}

}  // namespace
