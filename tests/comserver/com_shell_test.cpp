// The COM shell: the class object and its cache, standalone and aggregated
// instances, their reference counts and interfaces, and when the module may
// be unloaded.
#include <algorithm>

#include "common/processes.h"
#include "comserver/talvix_support.h"

namespace {

const CLSID kUnknownClsid = {0x0BADF00D, 0x1234, 0x5678, {0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78}};
void* const kStale = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234));

// A module of its own, as in a fresh process: nothing made yet.
class TalvixShell : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        ASSERT_TRUE(server.Loaded());
    }
    void TearDown() override { CoUninitialize(); }

    TalvixServer server{TalvixServer::kFreshCopy};
};

// A controlling unknown on the stack.  With `delegate` it hands every other
// interface to the inner object, as an aggregating object does; without it,
// it offers IUnknown alone.
class Outer : public IUnknown {
public:
    explicit Outer(bool delegate) : delegate_(delegate) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        ++foreignQueries;
        return delegate_ && inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }

    ULONG refs = 1;
    unsigned foreignQueries = 0;
    IUnknown* inner = nullptr;

private:
    bool delegate_;
};

TEST_F(TalvixShell, UnknownClassGivesClassNotAvailableAndClearsTheOutPointer)
{
    void* object = kStale;
    EXPECT_EQ(server.GetClassObject(kUnknownClsid, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(server.GetClassObject(CLSID_TVXDevice, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(server.CanUnloadNow(), S_OK);
}

TEST_F(TalvixShell, ClassObjectIsMadeOnceAndHandedOutAgain)
{
    Ref<IUnknown> unknown;
    Ref<IClassFactory> first, second;
    ASSERT_EQ(server.GetClassObject(CLSID_TVXDevice, IID_IUnknown, unknown.OutVoid()), S_OK);
    ASSERT_EQ(server.GetClassObject(CLSID_TVXDevice, IID_IClassFactory, first.OutVoid()), S_OK);
    ASSERT_EQ(server.GetClassObject(CLSID_TVXDevice, IID_IClassFactory, second.OutVoid()), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(first.Get()), unknown.Get());
    EXPECT_EQ(first.Get(), second.Get());

    Ref<IUnknown> viaQuery;
    ASSERT_EQ(first->QueryInterface(IID_IUnknown, viaQuery.OutVoid()), S_OK);
    EXPECT_EQ(viaQuery.Get(), unknown.Get());
    void* none = kStale;
    EXPECT_EQ(first->QueryInterface(IID_IDispatch, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(first->QueryInterface(IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(TalvixShell, ClassObjectWithoutTheAskedInterfaceIsStillMadeAndKept)
{
    const std::vector<HANDLE>& heaps = server.ModuleHeaps();
    size_t blocks = 0;
    for (HANDLE heap : heaps)
        blocks += UseOf(heap).blocks;

    void* object = kStale;
    EXPECT_EQ(server.GetClassObject(CLSID_TVXDevice, IID_IDispatch, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    size_t afterMiss = 0;
    for (HANDLE heap : heaps)
        afterMiss += UseOf(heap).blocks;
    EXPECT_EQ(afterMiss, blocks + 1) << "the class object stays in the map";

    Ref<IClassFactory> factory(server.Factory());
    ASSERT_TRUE(factory);
    size_t afterHit = 0;
    for (HANDLE heap : heaps)
        afterHit += UseOf(heap).blocks;
    EXPECT_EQ(afterHit, afterMiss) << "no second class object";
}

// The map's own reference never keeps the module; client references beyond
// it hold one lock together.
TEST_F(TalvixShell, ClassObjectReferencesAndLockServerDecideUnloading)
{
    EXPECT_EQ(server.CanUnloadNow(), S_OK);
    IClassFactory* factory = server.Factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(server.CanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->AddRef(), 3u);  // the map's, the client's, this one
    EXPECT_EQ(server.CanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->Release(), 2u);
    EXPECT_EQ(server.CanUnloadNow(), S_FALSE);

    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->Release(), 1u);  // the class object lives on in the map
    EXPECT_EQ(server.CanUnloadNow(), S_FALSE) << "LockServer(TRUE) still holds the module";
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(server.CanUnloadNow(), S_OK);

    // Taken again from the map: the same object, the same rule.
    Ref<IClassFactory> again(server.Factory());
    EXPECT_EQ(again.Get(), factory);
    EXPECT_EQ(server.CanUnloadNow(), S_FALSE);
    again.Reset();
    EXPECT_EQ(server.CanUnloadNow(), S_OK);
}

TEST_F(TalvixShell, StandaloneInstanceCountsAndHoldsTheModule)
{
    Ref<IClassFactory> factory(server.Factory());
    ASSERT_TRUE(factory);
    ITVXDevice* device = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITVXDevice, reinterpret_cast<void**>(&device)), S_OK);
    factory.Reset();
    EXPECT_EQ(server.CanUnloadNow(), S_FALSE);
    EXPECT_EQ(device->AddRef(), 2u);
    EXPECT_EQ(device->Release(), 1u);

    IUnknown* unknown = nullptr;
    IDispatch* dispatch = nullptr;
    ITVXDevice* same = nullptr;
    ASSERT_EQ(device->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    ASSERT_EQ(device->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    ASSERT_EQ(device->QueryInterface(IID_ITVXDevice, reinterpret_cast<void**>(&same)), S_OK);
    EXPECT_EQ(unknown, static_cast<IUnknown*>(device));
    EXPECT_EQ(dispatch, static_cast<IDispatch*>(device));
    EXPECT_EQ(same, device);
    EXPECT_EQ(device->Release(), 3u);
    EXPECT_EQ(device->Release(), 2u);
    EXPECT_EQ(device->Release(), 1u);

    void* none = kStale;
    EXPECT_EQ(device->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(device->QueryInterface(IID_IConnectionPointContainer, &none), E_NOINTERFACE);
    EXPECT_EQ(device->QueryInterface(IID_ISupportErrorInfo, &none), E_NOINTERFACE);
    EXPECT_EQ(device->QueryInterface(IID_IDispatch, nullptr), E_POINTER);

    EXPECT_EQ(device->Release(), 0u);
    EXPECT_EQ(server.CanUnloadNow(), S_OK);
}

TEST_F(TalvixShell, CreateInstanceRefusalsLeaveNothingBehind)
{
    Ref<IClassFactory> factory(server.Factory());
    ASSERT_TRUE(factory);
    void* object = kStale;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_ITVXDevice, nullptr), E_POINTER);

    Outer outer(true);
    object = kStale;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_ITVXDevice, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(outer.refs, 1u);

    factory.Reset();
    EXPECT_EQ(server.CanUnloadNow(), S_OK) << "an instance was left alive";
}

TEST_F(TalvixShell, RefusedInstancesLeaveNoBlockBehind)
{
    Ref<IClassFactory> factory(server.Factory());
    ASSERT_TRUE(factory);
    const std::vector<HANDLE>& heaps = server.ModuleHeaps();
    ASSERT_FALSE(heaps.empty());
    auto blocks = [&] {
        size_t count = 0;
        for (HANDLE heap : heaps)
            count += UseOf(heap).blocks;
        return count;
    };
    const size_t before = blocks();
    void* object = kStale;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
    Outer outer(true);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(blocks(), before);

    // One instance made and released gives its blocks back as well.
    ITVXDevice* device = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITVXDevice, reinterpret_cast<void**>(&device)), S_OK);
    EXPECT_GT(blocks(), before);
    device->Release();
    EXPECT_EQ(blocks(), before);
}

// FreeLibrary runs the whole tear-down: the cached class object goes and the
// module's heaps are destroyed.
TEST_F(TalvixShell, UnloadDestroysTheModuleHeaps)
{
    const std::vector<HANDLE> heaps = server.ModuleHeaps();
    ASSERT_FALSE(heaps.empty());
    {
        Ref<IClassFactory> factory(server.Factory());
        ASSERT_TRUE(factory);
    }
    ASSERT_EQ(server.CanUnloadNow(), S_OK);
    ASSERT_TRUE(server.Unload());
    const std::vector<HANDLE> left = ProcessHeaps();
    for (HANDLE heap : heaps)
        EXPECT_EQ(std::find(left.begin(), left.end(), heap), left.end()) << heap;
}

// At process exit the server leaves everything to the system; unloaded with
// FreeLibrary it tears down in full.  A child program reports the calls the
// server makes on the way out.
TEST(TalvixExit, ProcessExitSkipsTheTearDownThatFreeLibraryRuns)
{
    const CommandResult exited = RunProgram("talvix_exit_probe.exe", "exit");
    ASSERT_TRUE(exited.finished);
    EXPECT_EQ(exited.exitCode, 0u) << exited.output;
    EXPECT_EQ(exited.output, "ready\n");

    const CommandResult unloaded = RunProgram("talvix_exit_probe.exe", "unload");
    ASSERT_TRUE(unloaded.finished);
    EXPECT_EQ(unloaded.exitCode, 0u) << unloaded.output;
    EXPECT_EQ(unloaded.output, "ready\nDeleteCriticalSection\nHeapDestroy\nunloaded\n");
}

TEST_F(TalvixShell, AggregatedInstanceDelegatesToItsControllingUnknown)
{
    Outer outer(true);
    Ref<IClassFactory> factory(server.Factory());
    ASSERT_TRUE(factory);
    IUnknown* inner = nullptr;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
    ASSERT_NE(inner, nullptr);
    EXPECT_NE(inner, static_cast<IUnknown*>(&outer));
    outer.inner = inner;
    factory.Reset();
    EXPECT_EQ(server.CanUnloadNow(), S_FALSE);
    EXPECT_EQ(outer.refs, 1u) << "creation takes no reference on the outer object";

    // The outer-facing unknown answers IUnknown itself, with its own count.
    IUnknown* innerAgain = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&innerAgain)), S_OK);
    EXPECT_EQ(innerAgain, inner);
    EXPECT_EQ(inner->Release(), 1u);

    // The device's interfaces take their references on the outer object.
    ITVXDevice* device = nullptr;
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_ITVXDevice, reinterpret_cast<void**>(&device)), S_OK);
    EXPECT_EQ(outer.refs, 2u);
    ASSERT_EQ(inner->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    EXPECT_EQ(static_cast<IDispatch*>(device), dispatch);
    EXPECT_EQ(outer.refs, 3u);
    EXPECT_EQ(device->AddRef(), 4u);
    EXPECT_EQ(device->Release(), 3u);

    // Asked through the device, IUnknown is the controlling unknown.
    IUnknown* controlling = nullptr;
    ASSERT_EQ(device->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&controlling)), S_OK);
    EXPECT_EQ(controlling, static_cast<IUnknown*>(&outer));
    controlling->Release();
    void* none = kStale;
    EXPECT_EQ(device->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);

    dispatch->Release();
    device->Release();
    EXPECT_EQ(outer.refs, 1u);
    EXPECT_EQ(server.CanUnloadNow(), S_FALSE);
    EXPECT_EQ(inner->Release(), 0u);
    EXPECT_EQ(server.CanUnloadNow(), S_OK);
}

// When the outer object does not pass the request on, the contained object
// answers from its own interface map.
TEST_F(TalvixShell, AggregatedDeviceFallsBackToItsOwnInterfaceMap)
{
    Outer outer(false);
    Ref<IClassFactory> factory(server.Factory());
    ASSERT_TRUE(factory);
    IUnknown* inner = nullptr;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
    factory.Reset();

    ITVXDevice* device = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_ITVXDevice, reinterpret_cast<void**>(&device)), S_OK);
    EXPECT_EQ(outer.foreignQueries, 0u) << "the outer-facing unknown walks the map itself";
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(device->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    EXPECT_EQ(outer.foreignQueries, 1u) << "the outer object was asked first";
    EXPECT_EQ(static_cast<IDispatch*>(device), dispatch);
    EXPECT_EQ(outer.refs, 3u);

    dispatch->Release();
    device->Release();
    EXPECT_EQ(inner->Release(), 0u);
    EXPECT_EQ(server.CanUnloadNow(), S_OK);
}

}  // namespace
