// The module heaps: how many the server makes, that its objects live there,
// spread round-robin with their heap in the block header, and that no other
// heap of the process grows while objects are made and used.
#include "comserver/talvix_support.h"

namespace {

using TalvixHeaps = TalvixTest;

size_t ExpectedExtraHeaps()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    if (info.dwNumberOfProcessors <= 1)
        return 0;
    size_t count = 1;
    while (count * 2 <= 2 * info.dwNumberOfProcessors)
        count *= 2;
    return count;
}

HeapUse UseOfAll(const std::vector<HANDLE>& heaps)
{
    HeapUse total;
    for (HANDLE heap : heaps) {
        HeapUse use = UseOf(heap);
        total.blocks += use.blocks;
        total.bytes += use.bytes;
    }
    return total;
}

TEST_F(TalvixHeaps, BaseHeapPlusLargestPowerOfTwoNotAboveTwiceTheProcessors)
{
    EXPECT_EQ(server.ModuleHeaps().size(), 1 + ExpectedExtraHeaps());
}

TEST_F(TalvixHeaps, ObjectsLiveInTheHeapTheirHeaderNames)
{
    const std::vector<HANDLE>& heaps = server.ModuleHeaps();
    const bool extra = ExpectedExtraHeaps() > 0;
    Ref<ITVXDevice> more[3];
    for (auto& object : more) {
        object.Attach(server.NewDevice());
        ASSERT_TRUE(object);
    }

    std::vector<HANDLE> owners;
    for (auto& object : more) {
        const uint8_t* data = reinterpret_cast<const uint8_t*>(object.Get());
        if (!extra) {
            EXPECT_NE(HeapHolding(heaps, data), nullptr);
            continue;
        }
        // The 8-byte header in front of the object names the heap that owns it.
        HANDLE owner = HeapHolding(heaps, data - 8);
        ASSERT_NE(owner, nullptr);
        EXPECT_EQ(*reinterpret_cast<HANDLE const*>(data - 8), owner);
        owners.push_back(owner);
    }
    // Consecutive blocks go to consecutive heaps.
    if (ExpectedExtraHeaps() >= 3) {
        EXPECT_NE(owners[0], owners[1]);
        EXPECT_NE(owners[1], owners[2]);
        EXPECT_NE(owners[0], owners[2]);
    }
}

TEST_F(TalvixHeaps, NoOtherHeapGrowsWhileObjectsAreMadeAndUsed)
{
    constexpr int kObjects = 12;
    ITVXDevice* objects[kObjects] = {};
    DeviceRecord records[kObjects];
    VARIANT carriers[kObjects];
    ParamRecord param = MakeParam(0, 0, 1);
    VARIANT paramCarrier = Carry(&param);
    uint8_t status[8];
    VARIANT statusCarrier = Carry(status);
    ULONG result = 0, version = 0, returned = 0;

    // One round first: system DLLs settle their own first-use state.
    auto round = [&](int count) {
        Ref<IClassFactory> factory(server.Factory());
        for (int i = 0; i < count; ++i) {
            if (FAILED(factory->CreateInstance(nullptr, IID_ITVXDevice, reinterpret_cast<void**>(&objects[i]))))
                return false;
            records[i] = MakeDeviceRecord();
            carriers[i] = Carry(&records[i]);
            objects[i]->CreateDevice(&carriers[i], &result);
            objects[i]->GetDeviceStatus(&carriers[i], &paramCarrier, &statusCarrier, &returned, &result);
            objects[i]->DeviceDetect(&result);
            objects[i]->GetDriverVersion(&version, &result);
        }
        return true;
    };
    auto release = [&](int count) {
        for (int i = 0; i < count; ++i) {
            if (records[i].handle != INVALID_HANDLE_VALUE && records[i].handle != kUntouchedHandle)
                CloseHandle(records[i].handle);
            objects[i]->Release();
            objects[i] = nullptr;
        }
    };
    ASSERT_TRUE(round(1));
    release(1);

    const std::vector<HANDLE>& heaps = server.ModuleHeaps();
    const HeapUse othersBefore = UseOutside(heaps);
    const HeapUse moduleBefore = UseOfAll(heaps);
    ASSERT_TRUE(round(kObjects));
    const HeapUse othersDuring = UseOutside(heaps);
    const HeapUse moduleDuring = UseOfAll(heaps);
    release(kObjects);
    const HeapUse moduleAfter = UseOfAll(heaps);

    EXPECT_EQ(othersDuring.blocks, othersBefore.blocks);
    EXPECT_EQ(othersDuring.bytes, othersBefore.bytes);
    // Each object and its device path stay in the module heaps while it lives.
    EXPECT_GE(moduleDuring.blocks, moduleBefore.blocks + 2 * kObjects);
    EXPECT_EQ(moduleAfter.blocks, moduleBefore.blocks);
    EXPECT_EQ(moduleAfter.bytes, moduleBefore.bytes);
}

}  // namespace
