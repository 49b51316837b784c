// DeviceDetect and GetVersion: the descriptor of instance 0 of the default
// class, the generation table, and every failure marked by bit 31.
#include "comserver/talvix_support.h"

namespace {

using TalvixDetection = TalvixTest;

struct Outcome {
    HRESULT hr;
    ULONG result;
};

Outcome Detect(ITVXDevice* object)
{
    Outcome outcome{E_FAIL, 0xDEAD};
    outcome.hr = object->DeviceDetect(&outcome.result);
    return outcome;
}

Outcome Generation(ITVXDevice* object)
{
    Outcome outcome{E_FAIL, 0xDEAD};
    outcome.hr = object->GetVersion(&outcome.result);
    return outcome;
}

TEST_F(TalvixDetection, DefaultDeviceIsTheFirstGeneration)
{
    VdevInfo before{};
    ASSERT_TRUE(device.Info(before));
    const uint32_t mark = Mark();
    Outcome detect = Detect(tvx.Get());
    EXPECT_EQ(detect.hr, S_OK);
    EXPECT_EQ(detect.result, 0x0412u);
    Outcome generation = Generation(tvx.Get());
    EXPECT_EQ(generation.hr, S_OK);
    EXPECT_EQ(generation.result, 0x01000000u);

    // One descriptor request each, on a handle opened and closed again.
    std::vector<VdevLogRecord> log = LogSince(mark);
    EXPECT_EQ(ControlTrace(log), "dd");
    for (const auto& record : Controls(log)) {
        EXPECT_EQ(record.inLen, 0u);
        EXPECT_EQ(record.b, 18u);
    }
    int opens = 0, closes = 0;
    for (const auto& record : log) {
        opens += record.type == VDEV_LOG_OPEN;
        closes += record.type == VDEV_LOG_CLOSE;
    }
    EXPECT_EQ(opens, 2);
    EXPECT_EQ(closes, 2);
    VdevInfo after{};
    ASSERT_TRUE(device.Info(after));
    EXPECT_EQ(after.openHandles, before.openHandles);
}

TEST_F(TalvixDetection, GenerationTableRows)
{
    struct Row {
        uint16_t product;
        uint16_t release;
        ULONG generation;
    } rows[] = {
        {0xCD03, 0x0412, 0x01000000}, {0xCD02, 0x0412, 0x01200000}, {0xCD03, 0x0502, 0x01300000},
        {0xDD03, 0x0506, 0x01400000}, {0xCD02, 0x0502, 0},          {0xDD03, 0x0412, 0},
        {0x1234, 0x0506, 0},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(device.SetDescriptor(0xABCD, row.product, row.release));
        Outcome generation = Generation(tvx.Get());
        EXPECT_EQ(generation.hr, S_OK);
        EXPECT_EQ(generation.result, row.generation) << std::hex << row.product << "/" << row.release;
        Outcome detect = Detect(tvx.Get());
        EXPECT_EQ(detect.hr, S_OK);
        EXPECT_EQ(detect.result, row.release);
    }
}

TEST_F(TalvixDetection, NoDeviceIsNotFound)
{
    ASSERT_TRUE(device.SetPlugged(false));
    ASSERT_TRUE(vdev::WaitInterfaces(vdev::kDefaultClass, 0, 2000));
    EXPECT_EQ(Detect(tvx.Get()).hr, S_FALSE);
    EXPECT_EQ(Detect(tvx.Get()).result, 0x80030000u);
    EXPECT_EQ(Generation(tvx.Get()).hr, S_FALSE);
    EXPECT_EQ(Generation(tvx.Get()).result, 0x80030000u);
    ASSERT_TRUE(device.SetPlugged(true));
    ASSERT_TRUE(vdev::WaitInterfaces(vdev::kDefaultClass, 1, 2000));
}

TEST_F(TalvixDetection, OnlyTheDefaultClassIsLookedAt)
{
    ScopedDeviceClass other(device, vdev::kClassV2);
    ASSERT_TRUE(other.Published());
    EXPECT_EQ(Detect(tvx.Get()).result, 0x80030000u);
    EXPECT_EQ(Generation(tvx.Get()).result, 0x80030000u);
}

void* realDeviceIoControl = nullptr;
BOOL WINAPI NoDescriptorDeviceIoControl(HANDLE handle, DWORD code, void* in, DWORD inSize, void* out,
                                        DWORD outSize, DWORD* returned, OVERLAPPED* overlapped)
{
    if (code == IOCTL_GET_DEVICE_DESCRIPTOR) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    return reinterpret_cast<decltype(&DeviceIoControl)>(realDeviceIoControl)(handle, code, in, inSize, out, outSize,
                                                                              returned, overlapped);
}

BOOL WINAPI HugeDetail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD,
                       PDWORD required, PSP_DEVINFO_DATA)
{
    if (required)
        *required = 0x7FFFFFF0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
}

TEST_F(TalvixDetection, FailuresCarryBit31)
{
    {
        ImportPatch patch(server.Module(), "kernel32.dll", "CreateFileA",
                          reinterpret_cast<void*>(&FailingCreateFileA));
        ASSERT_TRUE(patch.Applied());
        EXPECT_EQ(Detect(tvx.Get()).hr, S_FALSE);
        EXPECT_EQ(Detect(tvx.Get()).result, 0x80000000u);
        EXPECT_EQ(Generation(tvx.Get()).result, 0x80000000u);
    }
    {
        ImportPatch patch(server.Module(), "kernel32.dll", "DeviceIoControl",
                          reinterpret_cast<void*>(&NoDescriptorDeviceIoControl));
        ASSERT_TRUE(patch.Applied());
        realDeviceIoControl = patch.Original();
        VdevInfo before{};
        ASSERT_TRUE(device.Info(before));
        EXPECT_EQ(Detect(tvx.Get()).hr, S_FALSE);
        EXPECT_EQ(Detect(tvx.Get()).result, 0x80070000u);
        EXPECT_EQ(Generation(tvx.Get()).result, 0x80070000u);
        VdevInfo after{};
        ASSERT_TRUE(device.Info(after));
        EXPECT_EQ(after.openHandles, before.openHandles) << "the probe handle is closed on failure too";
    }
    {
        ImportPatch patch(server.Module(), "setupapi.dll", "SetupDiGetDeviceInterfaceDetailA",
                          reinterpret_cast<void*>(&HugeDetail));
        ASSERT_TRUE(patch.Applied());
        EXPECT_EQ(Detect(tvx.Get()).hr, S_FALSE);
        EXPECT_EQ(Detect(tvx.Get()).result, 0x80000008u);
        EXPECT_EQ(Generation(tvx.Get()).result, 0x80000008u);
    }
    // And with the real functions back, detection works again.
    EXPECT_EQ(Detect(tvx.Get()).result, 0x0412u);
}

// A reply that stops before idProduct and bcdDevice are both in it is a
// failed request: nothing of the block past the reply is taken for them.
TEST_F(TalvixDetection, ShortDescriptorReplyIsAFailedRequest)
{
    ASSERT_TRUE(device.SetDescriptor(0x1234, 0xCD02, 0x0412));
    for (uint32_t bytes : {1u, 10u, 12u, 13u}) {
        ASSERT_TRUE(device.Knob(VDEV_KNOB_DESCRIPTOR_BYTES, bytes));
        const Outcome detect = Detect(tvx.Get());
        EXPECT_EQ(detect.hr, S_FALSE) << bytes;
        EXPECT_EQ(detect.result, 0x80070000u) << bytes;
        const Outcome generation = Generation(tvx.Get());
        EXPECT_EQ(generation.hr, S_FALSE) << bytes;
        EXPECT_EQ(generation.result, 0x80070000u) << bytes;
    }
    // Exactly up to bcdDevice is enough.
    ASSERT_TRUE(device.Knob(VDEV_KNOB_DESCRIPTOR_BYTES, 14));
    EXPECT_EQ(Detect(tvx.Get()).result, 0x0412u);
    EXPECT_EQ(Generation(tvx.Get()).result, 0x01200000u);
}

}  // namespace
