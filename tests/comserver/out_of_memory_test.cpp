// The module heaps refusing blocks: each allocation of the server fails the
// way its caller documents, nothing half-made is left, and the next call
// with memory to spare works.
#include <memory>

#include "comserver/talvix_support.h"

namespace {

using TalvixOutOfMemory = TalvixTest;

TEST_F(TalvixOutOfMemory, CommandBlockGivesNoMemoryAndSendsNothing)
{
    DeviceRecord control = OpenControl();
    ParamRecord param = MakeParam(0, 0);
    VARIANT controlCarrier = Carry(&control), paramCarrier = Carry(&param);
    uint8_t reply[8] = {};
    VARIANT replyCarrier = Carry(reply);
    ULONG returned = 0xDEAD, status = 0xDEAD;
    const uint32_t mark = Mark();
    {
        HeapFailure failure(server.Module(), 1);
        ASSERT_TRUE(failure.Applied());
        EXPECT_EQ(tvx->GetDeviceStatus(&controlCarrier, &paramCarrier, &replyCarrier, &returned, &status), S_OK);
        EXPECT_EQ(status, R_NO_MEMORY);
        EXPECT_EQ(tvx->BulkReadCmd(&controlCarrier, &paramCarrier, &status), S_OK);
        EXPECT_EQ(status, R_DEVICE_ERROR) << "the ready wait's status request had no block";
        // A reset without its block leaves the cancelled flag down.
        EXPECT_EQ(tvx->ResetOrCancel(&controlCarrier, &paramCarrier, &status), S_OK);
        EXPECT_EQ(status, R_NO_MEMORY);
        EXPECT_GE(failure.Refused(), 3u);
    }
    EXPECT_EQ(ControlTrace(LogSince(mark)), "D") << "only the driver-state query needs no block";
    EXPECT_EQ(tvx->BulkReadCmd(&controlCarrier, &paramCarrier, &status), S_OK);
    EXPECT_EQ(status, 0u) << "not cancelled";
}

TEST_F(TalvixOutOfMemory, DevicePathGivesNotEnoughMemoryAndLeavesTheRecord)
{
    DeviceRecord record = MakeDeviceRecord();
    VARIANT carrier = Carry(&record);
    ULONG status = 0xDEAD;
    {
        HeapFailure failure(server.Module(), 1);
        ASSERT_TRUE(failure.Applied());
        EXPECT_EQ(tvx->CreateDevice(&carrier, &status), S_FALSE);
        EXPECT_EQ(status, static_cast<ULONG>(ERROR_NOT_ENOUGH_MEMORY));
        EXPECT_EQ(record.handle, kUntouchedHandle);
    }
    EXPECT_EQ(tvx->CreateDevice(&carrier, &status), S_OK);
    EXPECT_EQ(status, 0u);
    if (record.handle != INVALID_HANDLE_VALUE && record.handle != kUntouchedHandle)
        Adopt(record.handle);
}

// The device path is the first block of a detection, the descriptor buffer
// the second.
TEST_F(TalvixOutOfMemory, DetectionWithoutMemory)
{
    ULONG result = 0xDEAD;
    {
        HeapFailure failure(server.Module(), 1);
        ASSERT_TRUE(failure.Applied());
        EXPECT_EQ(tvx->DeviceDetect(&result), S_FALSE);
        EXPECT_EQ(result, R_DETECT_FAILED | ERROR_NOT_ENOUGH_MEMORY);
    }
    VdevInfo before{};
    ASSERT_TRUE(device.Info(before));
    {
        HeapFailure failure(server.Module(), 2);
        ASSERT_TRUE(failure.Applied());
        EXPECT_EQ(tvx->GetVersion(&result), S_FALSE);
        EXPECT_EQ(result, R_NO_MEMORY);
        EXPECT_EQ(failure.Refused(), 1u);
    }
    VdevInfo after{};
    ASSERT_TRUE(device.Info(after));
    EXPECT_EQ(after.openHandles, before.openHandles) << "the probe handle is closed";
    EXPECT_EQ(tvx->DeviceDetect(&result), S_OK);
    EXPECT_EQ(result, 0x0412u);
}

TEST_F(TalvixOutOfMemory, InstanceGivesOutOfMemoryAndHoldsNoLock)
{
    Ref<IClassFactory> factory(server.Factory());
    ASSERT_TRUE(factory);
    tvx.Reset();
    {
        HeapFailure failure(server.Module(), 1);
        ASSERT_TRUE(failure.Applied());
        void* object = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234));
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_ITVXDevice, &object), E_OUTOFMEMORY);
        EXPECT_EQ(object, nullptr);
    }
    factory.Reset();
    EXPECT_EQ(server.CanUnloadNow(), S_OK) << "a failed instance left a module lock";
    tvx.Attach(server.NewDevice());
    EXPECT_TRUE(tvx);
}

// A module of its own, whose class object is not made yet.
TEST(TalvixOutOfMemoryFresh, ClassObjectGivesOutOfMemoryAndTheNextRequestTriesAgain)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    {
        TalvixServer server(TalvixServer::kFreshCopy);
        ASSERT_TRUE(server.Loaded());
        void* object = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234));
        {
            HeapFailure failure(server.Module(), 1);
            ASSERT_TRUE(failure.Applied());
            EXPECT_EQ(server.GetClassObject(CLSID_TVXDevice, IID_IClassFactory, &object), E_OUTOFMEMORY);
            EXPECT_EQ(object, nullptr);
        }
        Ref<IClassFactory> factory(server.Factory());
        EXPECT_TRUE(factory);
    }
    CoUninitialize();
}

HANDLE WINAPI NoHeap(DWORD, SIZE_T, SIZE_T)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

// Without its heaps the module still loads; everything that needs memory
// says so, and nothing holds the module.
TEST(TalvixOutOfMemoryFresh, ModuleWithoutItsHeapsReportsOutOfMemory)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    {
        std::unique_ptr<TalvixServer> server;
        {
            ExportPatch noHeap("kernel32.dll", "HeapCreate", reinterpret_cast<void*>(&NoHeap));
            ASSERT_TRUE(noHeap.Applied());
            server = std::make_unique<TalvixServer>(TalvixServer::kFreshCopy);
        }
        ASSERT_TRUE(server->Loaded());
        EXPECT_TRUE(server->ModuleHeaps().empty());
        void* object = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234));
        EXPECT_EQ(server->GetClassObject(CLSID_TVXDevice, IID_IClassFactory, &object), E_OUTOFMEMORY);
        EXPECT_EQ(object, nullptr);
        EXPECT_EQ(server->CanUnloadNow(), S_OK);
    }
    CoUninitialize();
}

}  // namespace
