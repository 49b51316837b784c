// The client's records: what the Create methods write into a DeviceRecord on
// success and on each failure, handles never closed by the server, the type
// tag of the carrier VARIANT, and device paths at the limits of the buffers.
#include <string>

#include "comserver/talvix_support.h"

namespace {

using TalvixRecords = TalvixTest;

using CreateMethod = HRESULT (STDMETHODCALLTYPE ITVXDevice::*)(VARIANT*, ULONG*);
const CreateMethod kCreateMethods[] = {&ITVXDevice::CreateDevice, &ITVXDevice::CreateDeviceExR,
                                       &ITVXDevice::CreateDeviceExW};

const GUID kNoSuchClass = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};

bool HandleIsOpen(HANDLE handle)
{
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

TEST_F(TalvixRecords, EnumerationFailureLeavesTheRecordAlone)
{
    for (CreateMethod create : kCreateMethods) {
        for (DeviceRecord record : {MakeDeviceRecord(vdev::kDefaultClass, 1), MakeDeviceRecord(kNoSuchClass, 0)}) {
            VARIANT carrier = Carry(&record);
            ULONG status = 0xDEAD;
            EXPECT_EQ((tvx.Get()->*create)(&carrier, &status), S_FALSE);
            EXPECT_EQ(status, R_NOT_FOUND);
            EXPECT_EQ(record.handle, kUntouchedHandle);
        }
    }
}

TEST_F(TalvixRecords, TheRecordsClassIsTheOneEnumerated)
{
    ScopedDeviceClass other(device, vdev::kClassV3);
    ASSERT_TRUE(other.Published());

    DeviceRecord v3 = MakeDeviceRecord(vdev::kClassV3, 0);
    DeviceRecord old = MakeDeviceRecord(vdev::kDefaultClass, 0);
    VARIANT v3Carrier = Carry(&v3), oldCarrier = Carry(&old);
    ULONG status = 0xDEAD;
    EXPECT_EQ(tvx->CreateDevice(&v3Carrier, &status), S_OK);
    EXPECT_EQ(status, 0u);
    Adopt(v3.handle);
    EXPECT_EQ(tvx->CreateDevice(&oldCarrier, &status), S_FALSE);
    EXPECT_EQ(status, R_NOT_FOUND);
}

TEST_F(TalvixRecords, NewHandlesOverwriteOldOnesWhichStayOpen)
{
    DeviceRecord record = MakeDeviceRecord();
    VARIANT carrier = Carry(&record);
    ULONG status = 0xDEAD;
    ASSERT_EQ(tvx->CreateDevice(&carrier, &status), S_OK);
    HANDLE first = record.handle;
    Adopt(first);
    ASSERT_EQ(tvx->CreateDeviceExR(&carrier, &status), S_OK);
    HANDLE second = record.handle;
    Adopt(second);
    EXPECT_NE(first, second);
    EXPECT_TRUE(HandleIsOpen(first));

    // Nor does the object's end close anything.
    const uint32_t mark = Mark();
    tvx.Reset();
    EXPECT_TRUE(HandleIsOpen(first));
    EXPECT_TRUE(HandleIsOpen(second));
    for (const auto& entry : LogSince(mark))
        EXPECT_NE(entry.type, VDEV_LOG_CLOSE);
}

TEST_F(TalvixRecords, TheTypeTagPlaysNoPart)
{
    DeviceRecord record = MakeDeviceRecord();
    VARIANT empty = Carry(&record, VT_EMPTY);
    ULONG status = 0xDEAD;
    ASSERT_EQ(tvx->CreateDevice(&empty, &status), S_OK);
    EXPECT_EQ(status, 0u);
    Adopt(record.handle);

    ParamRecord param = MakeParam(0, 0, 1);
    uint8_t reply[8] = {};
    VARIANT paramCarrier = Carry(&param, VT_EMPTY), replyCarrier = Carry(reply, VT_BSTR);
    ULONG returned = 0;
    EXPECT_EQ(tvx->GetDeviceStatus(&empty, &paramCarrier, &replyCarrier, &returned, &status), S_OK);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(returned, 8u);
    EXPECT_EQ(empty.vt, VT_EMPTY) << "the carrier is not written";
    EXPECT_EQ(replyCarrier.vt, VT_BSTR);
}

// Fault injection inside Talvix.dll through its import table.
TEST_F(TalvixRecords, OpenFailureWritesTheInvalidHandle)
{
    ImportPatch patch(server.Module(), "kernel32.dll", "CreateFileA", reinterpret_cast<void*>(&FailingCreateFileA));
    ASSERT_TRUE(patch.Applied());
    for (CreateMethod create : kCreateMethods) {
        DeviceRecord record = MakeDeviceRecord();
        VARIANT carrier = Carry(&record);
        ULONG status = 0xDEAD;
        EXPECT_EQ((tvx.Get()->*create)(&carrier, &status), S_FALSE);
        EXPECT_EQ(status, R_OPEN_FAILED);
        EXPECT_EQ(record.handle, INVALID_HANDLE_VALUE);
    }
}

// A detail query that reports what the test chooses: its required size and
// the device path it fills in.
struct FakeDetail {
    DWORD requiredSize = 0;
    std::string path;
    bool failFill = false;
} fakeDetail;
std::vector<std::string> openedPaths;

BOOL WINAPI FakeGetDetail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                          PDWORD required, PSP_DEVINFO_DATA)
{
    if (!detail) {
        if (required)
            *required = fakeDetail.requiredSize;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (fakeDetail.failFill || detail->cbSize != 5 || size < 5 + fakeDetail.path.size()) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    memcpy(detail->DevicePath, fakeDetail.path.c_str(), fakeDetail.path.size() + 1);
    return TRUE;
}

HANDLE WINAPI RecordingCreateFileA(LPCSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    openedPaths.emplace_back(path);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

class TalvixPaths : public TalvixTest {
protected:
    void SetUp() override
    {
        TalvixTest::SetUp();
        fakeDetail = FakeDetail{};
        openedPaths.clear();
    }
    // A device path of the given length in characters.
    static std::string PathOfLength(size_t length)
    {
        std::string path = "\\\\?\\root#vdev#0000#";
        path.resize(length, 'x');
        return path;
    }
    ULONG Create(CreateMethod create, HRESULT expected, DeviceRecord& record)
    {
        ImportPatch detail(server.Module(), "setupapi.dll", "SetupDiGetDeviceInterfaceDetailA",
                           reinterpret_cast<void*>(&FakeGetDetail));
        ImportPatch open(server.Module(), "kernel32.dll", "CreateFileA",
                         reinterpret_cast<void*>(&RecordingCreateFileA));
        EXPECT_TRUE(detail.Applied() && open.Applied());
        record = MakeDeviceRecord();
        VARIANT carrier = Carry(&record);
        ULONG status = 0xDEAD;
        EXPECT_EQ((tvx.Get()->*create)(&carrier, &status), expected);
        return status;
    }
};

TEST_F(TalvixPaths, PipePathsFillTheirBufferToTheLastCharacter)
{
    fakeDetail.path = PathOfLength(MAX_PATH - 1 - 6);  // with "\PIPE0" exactly 259 characters
    fakeDetail.requiredSize = static_cast<DWORD>(5 + fakeDetail.path.size());
    DeviceRecord record;
    EXPECT_EQ(Create(&ITVXDevice::CreateDeviceExR, S_FALSE, record), R_OPEN_FAILED);
    EXPECT_EQ(record.handle, INVALID_HANDLE_VALUE) << "the open was tried";
    ASSERT_EQ(openedPaths.size(), 1u);
    EXPECT_EQ(openedPaths[0], fakeDetail.path + "\\PIPE0");
}

TEST_F(TalvixPaths, PipePathThatWouldNotFitIsNotOpened)
{
    fakeDetail.path = PathOfLength(MAX_PATH - 6);  // one character too many with its suffix
    fakeDetail.requiredSize = static_cast<DWORD>(5 + fakeDetail.path.size());
    for (CreateMethod create : {&ITVXDevice::CreateDeviceExR, &ITVXDevice::CreateDeviceExW}) {
        DeviceRecord record;
        EXPECT_EQ(Create(create, S_FALSE, record), R_OPEN_FAILED);
        EXPECT_EQ(record.handle, kUntouchedHandle);
    }
    EXPECT_TRUE(openedPaths.empty());

    // The control path itself needs no suffix and is opened as it is.
    DeviceRecord record;
    EXPECT_EQ(Create(&ITVXDevice::CreateDevice, S_FALSE, record), R_OPEN_FAILED);
    ASSERT_EQ(openedPaths.size(), 1u);
    EXPECT_EQ(openedPaths[0], fakeDetail.path);
}

TEST_F(TalvixPaths, RequiredSizeBelowTheFixedPartIsNotFound)
{
    for (DWORD size : {0u, 4u}) {
        fakeDetail.requiredSize = size;
        DeviceRecord record;
        EXPECT_EQ(Create(&ITVXDevice::CreateDevice, S_FALSE, record), R_NOT_FOUND) << size;
        EXPECT_EQ(record.handle, kUntouchedHandle);
    }
    EXPECT_TRUE(openedPaths.empty());
}

TEST_F(TalvixPaths, DetailThatCannotBeAllocatedOrReadFails)
{
    fakeDetail.requiredSize = 0x7FFFFFF0;
    DeviceRecord record;
    EXPECT_EQ(Create(&ITVXDevice::CreateDevice, S_FALSE, record), static_cast<ULONG>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(record.handle, kUntouchedHandle);

    fakeDetail.requiredSize = 64;
    fakeDetail.failFill = true;
    EXPECT_EQ(Create(&ITVXDevice::CreateDevice, S_FALSE, record), R_NOT_FOUND);
    EXPECT_EQ(record.handle, kUntouchedHandle);
    EXPECT_TRUE(openedPaths.empty());
}

}  // namespace
