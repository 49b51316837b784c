// The virtual device driven with plain Win32 calls, as the libraries drive the real driver.
#include <windows.h>

#include <dbt.h>

#include <cstring>
#include <thread>

#include "common/device_fixture.h"
#include "common/processes.h"
#include "common/system_folders.h"

namespace {

DWORD ReadPipe(HANDLE pipe, void* buffer, DWORD size, bool* ok = nullptr)
{
    DWORD moved = 0xFFFFFFFF;
    BOOL result = ReadFile(pipe, buffer, size, &moved, nullptr);
    if (ok)
        *ok = result != FALSE;
    return moved;
}

DWORD WritePipe(HANDLE pipe, const void* buffer, DWORD size, bool* ok = nullptr)
{
    DWORD moved = 0xFFFFFFFF;
    BOOL result = WriteFile(pipe, buffer, size, &moved, nullptr);
    if (ok)
        *ok = result != FALSE;
    return moved;
}

}  // namespace

TEST_F(DeviceTest, EnumeratesOneDefaultInterfaceWithTheShortDetailRecord)
{
    EXPECT_EQ(std::string::npos, path.find("\\PIPE"));
    EXPECT_EQ(0u, path.rfind("\\\\?\\", 0)) << path;
    EXPECT_NE(std::string::npos, path.find("{f826d4fb-5152-40b0-b546-a6edf2452f05}")) << path;
    EXPECT_TRUE(InterfacePath(vdev::kDefaultClass, 1).empty());
    EXPECT_TRUE(InterfacePath(vdev::kClassV3, 0).empty());
}

TEST_F(DeviceTest, LogsOpensWithPathAndPipeAndCloses)
{
    auto opens = LogOf(VDEV_LOG_OPEN);
    ASSERT_EQ(3u, opens.size()) << "the fixture's three opens";
    const uint16_t pipes[3] = {VDEV_PIPE_CONTROL, VDEV_PIPE_OUT, VDEV_PIPE_IN};
    const char* suffixes[3] = {"", "\\PIPE1", "\\PIPE0"};
    const uint32_t access[3] = {GENERIC_READ | GENERIC_WRITE, GENERIC_WRITE, GENERIC_READ};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pipes[i], opens[i].pipe);
        EXPECT_EQ(path + suffixes[i], std::string(reinterpret_cast<char*>(opens[i].data), opens[i].dataLen));
        EXPECT_EQ(access[i], opens[i].a) << "desired access of open " << i;
        EXPECT_EQ(static_cast<uint32_t>(FILE_SHARE_READ | FILE_SHARE_WRITE), opens[i].b) << "share mode of open " << i;
        EXPECT_EQ(0u, opens[i].c);
    }
    {
        win::unique_file again(OpenPath(path + "\\pipe0", GENERIC_READ));
        ASSERT_TRUE(again.valid()) << "pipe names are not case sensitive";
    }
    opens = LogOf(VDEV_LOG_OPEN);
    ASSERT_EQ(4u, opens.size());
    EXPECT_EQ(VDEV_PIPE_IN, opens[3].pipe);
    auto closes = LogOf(VDEV_LOG_CLOSE);
    ASSERT_EQ(1u, closes.size());
    EXPECT_EQ(VDEV_PIPE_IN, closes[0].pipe);

    win::unique_file bogus(OpenPath(path + "\\PIPE7", GENERIC_READ));
    EXPECT_FALSE(bogus.valid());
}

TEST_F(DeviceTest, RefusedPipeOpenIsLoggedAndNeverClosed)
{
    ASSERT_TRUE(backChannel.FailOpen(2, VDEV_PIPE_OUT));
    win::unique_file first(OpenPath(path + "\\PIPE1", GENERIC_WRITE));
    win::unique_file reader(OpenPath(path + "\\PIPE0", GENERIC_READ));
    win::unique_file second(OpenPath(path + "\\PIPE1", GENERIC_WRITE));
    win::unique_file third(OpenPath(path + "\\PIPE1", GENERIC_WRITE));
    EXPECT_TRUE(first.valid());
    EXPECT_TRUE(reader.valid()) << "opens of the other pipe are not counted";
    EXPECT_FALSE(second.valid());
    EXPECT_TRUE(third.valid());
    second.reset();

    auto opens = LogOf(VDEV_LOG_OPEN);
    ASSERT_EQ(7u, opens.size()) << "the fixture's three opens and these four";
    EXPECT_EQ(0u, opens[3].c);
    EXPECT_EQ(VDEV_PIPE_OUT, opens[5].pipe);
    EXPECT_NE(0u, opens[5].c);
    EXPECT_EQ(0u, opens[6].c);
    first.reset();
    reader.reset();
    third.reset();
    EXPECT_EQ(3u, LogOf(VDEV_LOG_CLOSE).size()) << "a refused open has no close";
    EXPECT_FALSE(backChannel.FailOpen(1, VDEV_PIPE_CONTROL)) << "only pipe opens can be refused";
}

TEST_F(DeviceTest, WriteThenReadMovesWordsThroughMemory)
{
    std::vector<uint8_t> data(4096);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + 1);
    // Word address 0x80 = byte 0x100; 1024 units of 4 bytes.
    auto stage = Words({0x11, 0x22, 0x80, 1024});
    ASSERT_TRUE(Vendor(control, VENDOR_HOST_TO_DEVICE, REQ_WRITE, 1, 5, stage));
    EXPECT_EQ(STATUS_ACTIVE, StatusByte(control) & (STATUS_ACTIVE | STATUS_ERROR));
    EXPECT_EQ(4096u, WritePipe(out, data.data(), 4096));
    EXPECT_EQ(0, StatusByte(control) & STATUS_ACTIVE) << "data phase over";

    std::vector<uint8_t> memory(4096);
    ASSERT_TRUE(backChannel.ReadMemory(0x100, memory.data(), memory.size()));
    EXPECT_EQ(data, memory);

    stage = Words({0, 0x80, 1024});
    ASSERT_TRUE(Vendor(control, VENDOR_HOST_TO_DEVICE, REQ_READ, 1, 6, stage));
    std::vector<uint8_t> back(4096);
    EXPECT_EQ(2048u, ReadPipe(in, back.data(), 2048));
    EXPECT_EQ(2048u, ReadPipe(in, back.data() + 2048, 2048));
    EXPECT_EQ(data, back);
    EXPECT_EQ(0u, ReadPipe(in, back.data(), 64)) << "no data phase: a read moves nothing";

    auto controls = LogOf(VDEV_LOG_CONTROL);
    ASSERT_GE(controls.size(), 2u);
    const auto& write = controls[0];
    EXPECT_EQ(IOCTL_VENDOR_REQUEST, write.a);
    EXPECT_EQ(16u, write.b);
    ASSERT_EQ(12u, write.inLen);
    const uint8_t expectedBlock[12] = {0, 2, 0, 0x40, REQ_WRITE, 0, 1, 0, 5, 0, 16, 0};
    EXPECT_EQ(0, std::memcmp(expectedBlock, write.data, 12));
    EXPECT_EQ(0, std::memcmp(Words({0x11, 0x22, 0x80, 1024}).data(), write.data + 12, 16));
    auto reads = LogOf(VDEV_LOG_READ);
    ASSERT_EQ(3u, reads.size());
    EXPECT_EQ(2048u, reads[0].a);
    EXPECT_EQ(2048u, reads[0].b);
    EXPECT_EQ(0u, reads[2].b);
}

TEST_F(DeviceTest, TransfersRunPastThePhaseAndMemoryEnd)
{
    // Count 1 is 4 bytes; the 6-byte write that starts inside the phase runs in full.
    const uint8_t wire[6] = {0x01, 0xFF, 0x02, 0xFF, 0x03, 0xFF};
    auto stage = Words({0, 0, 0, 1});
    ASSERT_TRUE(Vendor(control, VENDOR_HOST_TO_DEVICE, REQ_WRITE, 1, 0, stage));
    EXPECT_EQ(6u, WritePipe(out, wire, 6));
    uint8_t memory[8] = {};
    ASSERT_TRUE(backChannel.ReadMemory(0, memory, 8));
    EXPECT_EQ(0, std::memcmp(wire, memory, 6));
    EXPECT_EQ(0, memory[6]);

    VdevInfo info;
    ASSERT_TRUE(backChannel.Info(info));
    stage = Words({0, info.memoryBytes / 2 - 1, 1});
    ASSERT_TRUE(Vendor(control, VENDOR_HOST_TO_DEVICE, REQ_READ, 1, 0, stage));
    uint8_t tail[4] = {};
    ASSERT_TRUE(backChannel.LoadMemory(info.memoryBytes - 2, "\x34\x12", 2));
    EXPECT_EQ(4u, ReadPipe(in, tail, 4));
    const uint8_t expected[4] = {0x34, 0x12, 0xFF, 0xFF};
    EXPECT_EQ(0, std::memcmp(expected, tail, 4));
}

// Memory spans the protocol's whole range and takes room only where written:
// its top through the pipes, a piece across a page boundary through the back
// channel, a verification value over the whole range, and a reset that gives
// every page back.
TEST_F(DeviceTest, WholeRangeMemoryHoldsOnlyWrittenPages)
{
    ASSERT_TRUE(backChannel.SetMemorySize(VDEV_MAX_MEMORY_BYTES));
    VdevInfo info;
    ASSERT_TRUE(backChannel.Info(info));
    EXPECT_EQ(VDEV_MAX_MEMORY_BYTES, info.memoryBytes);
    EXPECT_EQ(0u, info.memoryPagesWritten);

    const uint32_t lastWord = VDEV_MAX_MEMORY_BYTES / 2 - 1;
    const uint8_t wire[4] = {0x11, 0x22, 0x33, 0x44};
    auto stage = Words({0, 0, lastWord - 1, 1});
    ASSERT_TRUE(Vendor(control, VENDOR_HOST_TO_DEVICE, REQ_WRITE, 1, 0, stage));
    EXPECT_EQ(4u, WritePipe(out, wire, 4));
    const uint32_t boundary = 2048 * VDEV_MEMORY_PAGE_BYTES;
    ASSERT_TRUE(backChannel.LoadMemory(boundary - 2, "\x01\x02\x03\x04", 4));
    ASSERT_TRUE(backChannel.Info(info));
    EXPECT_EQ(3u, info.memoryPagesWritten);

    stage = Words({0, lastWord - 3, 2});
    ASSERT_TRUE(Vendor(control, VENDOR_HOST_TO_DEVICE, REQ_READ, 1, 0, stage));
    uint8_t top[10] = {};
    EXPECT_EQ(10u, ReadPipe(in, top, 10));
    const uint8_t expectedTop[10] = {0, 0, 0, 0, 0x11, 0x22, 0x33, 0x44, 0xFF, 0xFF};
    EXPECT_EQ(0, std::memcmp(expectedTop, top, 10)) << "never written: 0; past the end: 0xFF";
    uint8_t piece[8] = {};
    ASSERT_TRUE(backChannel.ReadMemory(boundary - 4, piece, 8));
    const uint8_t expectedPiece[8] = {0, 0, 1, 2, 3, 4, 0, 0};
    EXPECT_EQ(0, std::memcmp(expectedPiece, piece, 8));
    EXPECT_FALSE(backChannel.ReadMemory(VDEV_MAX_MEMORY_BYTES - 2, piece, 4)) << "past the end";

    stage = Words({0, 0x3FFFFFFF});  // every word but the last
    ASSERT_TRUE(Vendor(control, VENDOR_HOST_TO_DEVICE, REQ_DEBUG, 1, 1, stage));
    uint8_t value[4] = {};
    EXPECT_EQ(4u, ReadPipe(in, value, 4));
    EXPECT_EQ(0x0201u + 0x0403u + 0x2211u, StageGetWord(value, 0));

    ASSERT_TRUE(backChannel.Reset());
    ASSERT_TRUE(backChannel.Info(info));
    EXPECT_EQ(VDEV_MAX_MEMORY_BYTES, info.memoryBytes) << "a reset keeps the size";
    EXPECT_EQ(0u, info.memoryPagesWritten);
    ASSERT_TRUE(backChannel.ReadMemory(boundary - 4, piece, 8));
    const uint8_t zeros[8] = {};
    EXPECT_EQ(0, std::memcmp(zeros, piece, 8));
    EXPECT_TRUE(backChannel.SetMemorySize(VDEV_DEFAULT_MEMORY_BYTES));
}

TEST_F(DeviceTest, VerifyAndDebugCommands)
{
    const uint8_t words[8] = {1, 0, 2, 0, 0xFF, 0xFF, 4, 0};  // 1 + 2 + 0xFFFF + 4
    ASSERT_TRUE(backChannel.LoadMemory(0x20, words, sizeof words));
    auto stage = Words({0x10, 2});
    ASSERT_TRUE(Vendor(control, VENDOR_HOST_TO_DEVICE, REQ_DEBUG, 1, 1, stage));
    uint8_t value[8] = {};
    EXPECT_EQ(4u, ReadPipe(in, value, 8));
    EXPECT_EQ(0x10006u, StageGetWord(value, 0));

    const uint8_t reset[12] = {5, 0, 0, 0, 0xFF, 0xFF, 5, 0, 0, 0, 0xFF, 0xFF};
    stage = Words({12});
    ASSERT_TRUE(Vendor(control, VENDOR_HOST_TO_DEVICE, REQ_DEBUG, 1, 1, stage));
    EXPECT_EQ(12u, WritePipe(out, reset, 12));
    auto writes = LogOf(VDEV_LOG_WRITE);
    ASSERT_EQ(1u, writes.size());
    EXPECT_EQ(12u, writes[0].a);
    EXPECT_EQ(0, std::memcmp(reset, writes[0].data, 12));
    uint8_t memory[12];
    ASSERT_TRUE(backChannel.ReadMemory(0, memory, 12));
    EXPECT_EQ(0, memory[0]) << "a debug write does not reach memory";

    const uint8_t pattern[3] = {0xA1, 0xB2, 0xC3};
    ASSERT_TRUE(backChannel.SetDebugIn(pattern, 3));
    stage = Words({5});
    ASSERT_TRUE(Vendor(control, VENDOR_HOST_TO_DEVICE, REQ_DEBUG, 1, 2, stage));
    uint8_t got[5] = {};
    EXPECT_EQ(5u, ReadPipe(in, got, 5));
    const uint8_t expected[5] = {0xA1, 0xB2, 0xC3, 0xA1, 0xB2};
    EXPECT_EQ(0, std::memcmp(expected, got, 5));

    EXPECT_EQ(0u, WritePipe(out, nullptr, 0)) << "packet-boundary marker";
    writes = LogOf(VDEV_LOG_WRITE);
    EXPECT_EQ(0u, writes.back().a);
}

TEST_F(DeviceTest, StatusStateMachineAndScriptedStatus)
{
    EXPECT_EQ(0, StatusByte(control));
    // A command with an empty data phase is still reported taken, once.
    auto stage = Words({0, 0, 0});
    ASSERT_TRUE(Vendor(control, VENDOR_HOST_TO_DEVICE, REQ_READ, 1, 0, stage));
    EXPECT_EQ(STATUS_ACTIVE, StatusByte(control));
    EXPECT_EQ(0, StatusByte(control));

    ASSERT_TRUE(backChannel.HoldActive(2));
    EXPECT_EQ(STATUS_ACTIVE, StatusByte(control));
    EXPECT_EQ(STATUS_ACTIVE, StatusByte(control));
    EXPECT_EQ(0, StatusByte(control));

    ASSERT_TRUE(backChannel.HoldActive(5));
    ASSERT_TRUE(backChannel.ErrorAtPoll(2));
    EXPECT_EQ(STATUS_ACTIVE, StatusByte(control));
    EXPECT_EQ(STATUS_ACTIVE | STATUS_ERROR, StatusByte(control));
    stage.clear();
    ASSERT_TRUE(Vendor(control, VENDOR_DEVICE_TO_HOST, REQ_RESET, 1, 2, stage));
    EXPECT_EQ(STATUS_ACTIVE, StatusByte(control) & STATUS_ERROR ? 0 : STATUS_ACTIVE) << "reset clears the error";
    auto resets = LogOf(VDEV_LOG_RESET);
    ASSERT_EQ(1u, resets.size());
    EXPECT_EQ(2u, resets[0].a);

    const uint8_t tail[7] = {1, 2, 3, 4, 5, 6, 7};
    ASSERT_TRUE(backChannel.SetStatusBytes(tail));
    std::vector<uint8_t> status(8);
    ASSERT_TRUE(Vendor(control, VENDOR_DEVICE_TO_HOST, REQ_STATUS, 1, 0, status));
    EXPECT_EQ(0, std::memcmp(tail, status.data() + 1, 7));
}

TEST_F(DeviceTest, DriverStateAndDescriptor)
{
    DriverState state{};
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(control, IOCTL_DRIVER_STATE, nullptr, 0, &state, sizeof state, &returned, nullptr));
    EXPECT_EQ(24u, returned);
    EXPECT_EQ(0u, state.pending);
    ASSERT_TRUE(backChannel.HoldPending(1));
    ASSERT_TRUE(DeviceIoControl(control, IOCTL_DRIVER_STATE, nullptr, 0, &state, sizeof state, &returned, nullptr));
    EXPECT_EQ(1u, state.pending);
    ASSERT_TRUE(DeviceIoControl(control, IOCTL_DRIVER_STATE, nullptr, 0, &state, sizeof state, &returned, nullptr));
    EXPECT_EQ(0u, state.pending);
    ASSERT_TRUE(backChannel.FailDriverState(1));
    EXPECT_FALSE(DeviceIoControl(control, IOCTL_DRIVER_STATE, nullptr, 0, &state, sizeof state, &returned, nullptr));

    UsbDeviceDescriptor d{};
    ASSERT_TRUE(DeviceIoControl(control, IOCTL_GET_DEVICE_DESCRIPTOR, nullptr, 0, &d, sizeof d, &returned, nullptr));
    EXPECT_EQ(18u, returned);
    EXPECT_EQ(18, d.bLength);
    EXPECT_EQ(1, d.bDescriptorType);
    EXPECT_EQ(VDEV_DEFAULT_ID_PRODUCT, d.idProduct);
    EXPECT_EQ(VDEV_DEFAULT_BCD_DEVICE, d.bcdDevice);
    ASSERT_TRUE(backChannel.SetDescriptor(0x1234, 0xDD03, 0x0506));
    ASSERT_TRUE(DeviceIoControl(control, IOCTL_GET_DEVICE_DESCRIPTOR, nullptr, 0, &d, sizeof d, &returned, nullptr));
    EXPECT_EQ(0x1234, d.idVendor);
    EXPECT_EQ(0xDD03, d.idProduct);
    EXPECT_EQ(0x0506, d.bcdDevice);
}

TEST_F(DeviceTest, FaultKnobs)
{
    std::vector<uint8_t> status(8);
    ASSERT_TRUE(backChannel.FailControl(2));
    EXPECT_TRUE(Vendor(control, VENDOR_DEVICE_TO_HOST, REQ_STATUS, 1, 0, status));
    EXPECT_FALSE(Vendor(control, VENDOR_DEVICE_TO_HOST, REQ_STATUS, 1, 0, status));
    EXPECT_TRUE(Vendor(control, VENDOR_DEVICE_TO_HOST, REQ_STATUS, 1, 0, status));

    ASSERT_TRUE(backChannel.FailControl(1, REQ_DEBUG));
    EXPECT_TRUE(Vendor(control, VENDOR_DEVICE_TO_HOST, REQ_STATUS, 1, 0, status)) << "filtered by request";
    auto debug = Words({4});
    EXPECT_FALSE(Vendor(control, VENDOR_HOST_TO_DEVICE, REQ_DEBUG, 1, 1, debug));

    auto stage = Words({0, 0, 64});
    ASSERT_TRUE(Vendor(control, VENDOR_HOST_TO_DEVICE, REQ_READ, 1, 0, stage));
    std::vector<uint8_t> buffer(256);
    ASSERT_TRUE(backChannel.FailRead(2));
    ASSERT_TRUE(backChannel.ShortRead(3, 10));
    bool ok = false;
    EXPECT_EQ(64u, ReadPipe(in, buffer.data(), 64, &ok));
    EXPECT_TRUE(ok);
    ReadPipe(in, buffer.data(), 64, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(10u, ReadPipe(in, buffer.data(), 64, &ok));
    EXPECT_TRUE(ok);

    ASSERT_TRUE(backChannel.FailWrite(1));
    WritePipe(out, buffer.data(), 16, &ok);
    EXPECT_FALSE(ok);
    auto writes = LogOf(VDEV_LOG_WRITE);
    ASSERT_EQ(1u, writes.size());
    EXPECT_NE(0u, writes[0].c);
}

TEST_F(DeviceTest, HeldReadEndsByReleaseOrByReset)
{
    const uint8_t data[4] = {9, 8, 7, 6};
    ASSERT_TRUE(backChannel.LoadMemory(0, data, 4));
    auto stage = Words({0, 0, 1});
    ASSERT_TRUE(Vendor(control, VENDOR_HOST_TO_DEVICE, REQ_READ, 1, 0, stage));
    ASSERT_TRUE(backChannel.PendRead(1));
    uint8_t got[4] = {};
    bool ok = false;
    DWORD moved = 0;
    std::thread reader([&] { moved = ReadPipe(in, got, 4, &ok); });
    VdevInfo info{};
    for (int i = 0; i < 200 && backChannel.Info(info) && !info.readPending; ++i)
        Sleep(5);
    EXPECT_EQ(1u, info.readPending);
    ASSERT_TRUE(backChannel.ReleaseRead());
    reader.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(4u, moved);
    EXPECT_EQ(0, std::memcmp(data, got, 4));

    ASSERT_TRUE(Vendor(control, VENDOR_HOST_TO_DEVICE, REQ_READ, 1, 0, stage));
    ASSERT_TRUE(backChannel.PendRead(1));
    std::thread blocked([&] { moved = ReadPipe(in, got, 4, &ok); });
    for (int i = 0; i < 200 && backChannel.Info(info) && !info.readPending; ++i)
        Sleep(5);
    // The reset comes over a second connection, as a cancel would send it.
    win::unique_file second(OpenPath(path, GENERIC_READ | GENERIC_WRITE));
    std::vector<uint8_t> none;
    ASSERT_TRUE(Vendor(second.get(), VENDOR_DEVICE_TO_HOST, REQ_RESET, 1, 2, none));
    blocked.join();
    EXPECT_FALSE(ok);
    auto resets = LogOf(VDEV_LOG_RESET);
    ASSERT_EQ(1u, resets.size());
    EXPECT_EQ(1u, resets[0].b) << "the reset dropped the held read";
}

TEST_F(DeviceTest, BadInputFailsTheRequestOnly)
{
    DWORD returned = 0;
    uint8_t shortBlock[8] = {0, 2, 0, 0x40, REQ_STATUS};
    uint8_t reply[8];
    EXPECT_FALSE(DeviceIoControl(control, IOCTL_VENDOR_REQUEST, shortBlock, sizeof shortBlock, reply, 8, &returned,
                                 nullptr));
    std::vector<uint8_t> stage(4);
    EXPECT_FALSE(Vendor(control, VENDOR_HOST_TO_DEVICE, 0x55, 0, 0, stage)) << "unknown request";
    EXPECT_FALSE(Vendor(control, VENDOR_HOST_TO_DEVICE, REQ_READ, 1, 0, stage)) << "4-byte read stage";
    std::vector<uint8_t> status(6);
    EXPECT_FALSE(Vendor(control, VENDOR_DEVICE_TO_HOST, REQ_STATUS, 1, 0, status));
    VendorCommandBlock lying;
    VendorBlockInit(&lying, VENDOR_DEVICE_TO_HOST, REQ_STATUS, 1, 0, 8);
    EXPECT_FALSE(DeviceIoControl(control, IOCTL_VENDOR_REQUEST, &lying, sizeof lying, reply, 4, &returned, nullptr))
        << "wLength differs from the output length";
    uint8_t buffer[4];
    EXPECT_FALSE(ReadFile(control, buffer, 4, &returned, nullptr)) << "no bulk data on the control path";
    EXPECT_FALSE(WriteFile(in, buffer, 4, &returned, nullptr)) << "PIPE0 is bulk-in";
    EXPECT_EQ(0, StatusByte(control)) << "the driver host is still serving";
}

// Two instances, a chosen class, and arrival and removal messages to a real window.
class InstanceTest : public testing::Test {
protected:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        if (msg == WM_DEVICECHANGE && (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
            auto* header = reinterpret_cast<DEV_BROADCAST_HDR*>(lParam);
            if (header && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE)
                (wParam == DBT_DEVICEARRIVAL ? arrivals : removals)++;
        }
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
    static void Pump(DWORD ms)
    {
        for (DWORD t = 0; t < ms; t += 10) {
            MSG m;
            while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&m);
            Sleep(10);
        }
    }
    static int arrivals, removals;
};
int InstanceTest::arrivals = 0;
int InstanceTest::removals = 0;

TEST_F(InstanceTest, SecondInstanceWithChosenClassArrivesAndLeaves)
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProc;
    wc.lpszClassName = "vdevNotifyTest";
    RegisterClassA(&wc);
    HWND window = CreateWindowA("vdevNotifyTest", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(window);
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = vdev::kClassV3;
    HDEVNOTIFY notify = RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    ASSERT_TRUE(notify);

    int n = vdev::AddInstance();
    ASSERT_GE(n, 1);
    vdev::Device second;
    ASSERT_TRUE(second.Open(n));
    EXPECT_TRUE(vdev::WaitInterfaces(vdev::kDefaultClass, 2, 3000));
    ASSERT_TRUE(second.SetClass(vdev::kClassV3));
    EXPECT_TRUE(vdev::WaitInterfaces(vdev::kDefaultClass, 1, 3000));
    EXPECT_TRUE(vdev::WaitInterfaces(vdev::kClassV3, 1, 3000));
    for (int i = 0; i < 100 && arrivals == 0; ++i)
        Pump(20);
    EXPECT_EQ(1, arrivals);

    // The two instances keep separate memories.
    vdev::Device first;
    ASSERT_TRUE(first.Open(0));
    ASSERT_TRUE(first.Reset());
    ASSERT_TRUE(second.LoadMemory(0, "\x5A\xA5", 2));
    uint8_t word[2] = {1, 1};
    ASSERT_TRUE(first.ReadMemory(0, word, 2));
    EXPECT_EQ(0, word[0]);

    ASSERT_TRUE(second.SetPlugged(false));
    EXPECT_TRUE(vdev::WaitInterfaces(vdev::kClassV3, 0, 3000));
    for (int i = 0; i < 100 && removals == 0; ++i)
        Pump(20);
    EXPECT_EQ(1, removals);
    ASSERT_TRUE(second.SetPlugged(true));
    EXPECT_TRUE(vdev::WaitInterfaces(vdev::kClassV3, 1, 3000));

    second = vdev::Device();
    EXPECT_TRUE(vdev::RemoveInstance(n));
    EXPECT_TRUE(vdev::WaitInterfaces(vdev::kClassV3, 0, 3000));
    EXPECT_EQ(1u, vdev::CountInterfaces(vdev::kDefaultClass));
    UnregisterDeviceNotification(notify);
    DestroyWindow(window);
}

TEST(LauncherTest, SeparateProgramReachesThePipesOnlyThroughTheLauncher)
{
    vdev::Device device;
    ASSERT_TRUE(device.Open(0));
    ASSERT_TRUE(device.Reset());
    std::string probe = "\"" + ProgramFolder() + "pipe_probe.exe\"";
    EXPECT_EQ(3u, RunCommand(probe, 30000).exitCode) << "without the shim the platform cannot open a pipe";
    EXPECT_EQ(0u, RunCommand("\"" + ProgramFolder() + "vdevrun.exe\" " + probe, 30000).exitCode);
    bool opened = false;
    for (const auto& r : device.Log())
        opened = opened || (r.type == VDEV_LOG_OPEN && r.pipe == VDEV_PIPE_IN);
    EXPECT_TRUE(opened);
}

namespace {

// Opens of \PIPE0 the device has seen.
unsigned PipeOpens(vdev::Device& device)
{
    unsigned opens = 0;
    for (const auto& r : device.Log())
        opens += r.type == VDEV_LOG_OPEN && r.pipe == VDEV_PIPE_IN;
    return opens;
}

}  // namespace

TEST(LauncherTest, ProgramsStartedByTheLaunchedProgramGetTheShimToo)
{
    vdev::Device device;
    ASSERT_TRUE(device.Open(0));
    ASSERT_TRUE(device.Reset());
    const std::string launcher = "\"" + ProgramFolder() + "vdevrun.exe\" ";
    const std::string probe = "\"" + ProgramFolder() + "pipe_probe.exe\"";

    // Through the command interpreter, which starts programs with CreateProcessW.
    CommandResult viaShell = RunCommand(launcher + "cmd.exe /c " + probe, 60000);
    EXPECT_TRUE(viaShell.finished);
    EXPECT_EQ(0u, viaShell.exitCode) << viaShell.output;
    EXPECT_EQ(1u, PipeOpens(device));

    // A child asked for suspended stays so until its creator resumes it.
    CommandResult spawned = RunCommand(launcher + probe + " spawn", 60000);
    EXPECT_EQ(0u, spawned.exitCode) << "5: the child ran before it was resumed";
    EXPECT_EQ(2u, PipeOpens(device));

    // Without the launcher nothing follows the children.
    EXPECT_EQ(3u, RunCommand(probe + " spawn", 30000).exitCode);
}

// vdevctl takes a knob by number or by name, and its help lists every name.
TEST(VdevctlTest, KnobsByNameOrNumber)
{
    vdev::Device device;
    ASSERT_TRUE(device.Open(0));
    ASSERT_TRUE(device.Reset());
    struct Case {
        const char* arguments;
        DWORD exitCode;
        uint32_t plugged, memoryBytes;
    };
    const Case cases[] = {
        {"knob PLUGGED 0", 0, 0, VDEV_DEFAULT_MEMORY_BYTES},
        {"knob 9 1", 0, 1, VDEV_DEFAULT_MEMORY_BYTES},
        {"knob memory_bytes 4096", 0, 1, 4096},
        {"memsize 0xFFFFFFFE", 0, 1, VDEV_MAX_MEMORY_BYTES},
        {"memsize 0xFFFFFFFF", 1, 1, VDEV_MAX_MEMORY_BYTES},
        {"knob 10 0x2000", 0, 1, 8192},
        {"knob NO_SUCH_KNOB 0", 2, 1, 8192},
        {"knob 9x 0", 2, 1, 8192},
    };
    for (const Case& c : cases) {
        const CommandResult run = RunProgram("vdevctl.exe", c.arguments);
        EXPECT_EQ(c.exitCode, run.exitCode) << c.arguments << "\n" << run.output;
        VdevInfo info{};
        ASSERT_TRUE(device.Info(info));
        EXPECT_EQ(c.plugged, info.plugged) << c.arguments;
        EXPECT_EQ(c.memoryBytes, info.memoryBytes) << c.arguments;
    }
    ASSERT_TRUE(device.SetPlugged(true));
    ASSERT_TRUE(device.SetMemorySize(VDEV_DEFAULT_MEMORY_BYTES));

    const CommandResult help = RunProgram("vdevctl.exe", "help");
    EXPECT_EQ(0u, help.exitCode);
#define EXPECT_LISTED(name, values) EXPECT_NE(std::string::npos, help.output.find("  " #name " ")) << help.output;
    VDEV_KNOB_NAMES(EXPECT_LISTED)
#undef EXPECT_LISTED
}

TEST(DriverFileTest, VersionedFileUnderTheRealNameThatTestsMayReplace)
{
    std::string file = DriversFolder() + "KelvaneV4.sys";
    DWORD ignored = 0, size = GetFileVersionInfoSizeA(file.c_str(), &ignored);
    ASSERT_NE(0u, size) << file;
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(file.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(0x00050000u, fixed->dwFileVersionMS);
    EXPECT_EQ(0x00010002u, fixed->dwFileVersionLS);

    std::string saved = file + ".saved";
    ASSERT_TRUE(CopyFileA(file.c_str(), saved.c_str(), FALSE));
    EXPECT_TRUE(CopyFileA((ProgramFolder() + "vdevshim.dll").c_str(), file.c_str(), FALSE)) << "replaceable";
    EXPECT_TRUE(MoveFileExA(saved.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_NE(0u, GetFileVersionInfoSizeA(file.c_str(), &ignored));
}
