// The Read and Write flows against uXfer.dll and the virtual device, without
// the dialog: outcomes, files, what the device received, and what is still
// held while the outcome is shown.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "common/device_fixture.h"
#include "common/device_log.h"
#include "common/import_patch.h"
#include "dump/file.h"
#include "dump/wire.h"
#include "dumptool/test_files.h"
#include "flows.h"
#include "settings.h"
#include "uXfer.h"
#include "vdev_client.h"

using dump::Outcome;
using namespace dumptest;

namespace {

// A dump size whose buffer this process can allocate but whose wire image,
// twice as large, exceeds the largest free block.
// 0 in a 64-bit process, whose address space holds both buffers of any dump.
uint32_t OnceNotTwice()
{
    if (sizeof(void*) == 8)
        return 0;
    uint32_t fits = 0, fails = dump::kMaxDumpSize;
    while (fails - fits > (1u << 20)) {
        const uint32_t middle = fits + (fails - fits) / 2;
        void* block = std::malloc(middle);
        (block ? fits : fails) = middle;
        std::free(block);
    }
    return fits / 5 * 3;
}

// The flow's file writes stop with "disk full" once `allowed` bytes went
// through: the file is left with part of what was to be written.
class FailingWrites {
public:
    explicit FailingWrites(DWORD allowed) : previous_(dump::systemWrite)
    {
        budget_ = allowed;
        failures_ = 0;
        dump::systemWrite = Write;
    }
    ~FailingWrites() { dump::systemWrite = previous_; }
    FailingWrites(const FailingWrites&) = delete;
    FailingWrites& operator=(const FailingWrites&) = delete;
    unsigned Failures() const { return failures_; }

private:
    static BOOL WINAPI Write(HANDLE file, LPCVOID data, DWORD size, LPDWORD moved, LPOVERLAPPED overlapped)
    {
        if (budget_ == 0) {
            ++failures_;
            *moved = 0;
            SetLastError(ERROR_DISK_FULL);
            return FALSE;
        }
        const BOOL written = WriteFile(file, data, std::min(size, budget_), moved, overlapped);
        budget_ -= *moved;
        return written;
    }
    static DWORD budget_;
    static unsigned failures_;
    dump::WriteFunction previous_;
};
DWORD FailingWrites::budget_ = 0;
unsigned FailingWrites::failures_ = 0;

// uXfer.dll's WriteFile, reporting a write of the 32 data bytes as 30.
decltype(&WriteFile) realWriteFile = nullptr;

BOOL WINAPI ShortWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD moved, LPOVERLAPPED overlapped)
{
    const BOOL written = realWriteFile(file, data, size, moved, overlapped);
    if (written && size == 32)
        *moved -= 2;
    return written;
}

class RecordingReporter : public dump::Reporter {
public:
    void Show(Outcome outcome) override
    {
        shown.push_back(outcome);
        if (whileShown)
            whileShown();
    }
    std::vector<Outcome> shown;
    std::function<void()> whileShown;
};

class FlowTest : public testing::Test {
protected:
    static void SetUpTestSuite() { uSetDelay(0); }

    void SetUp() override
    {
        ASSERT_TRUE(device.Open(0));
        ASSERT_TRUE(device.Reset());
        settings.forRead = scratch.File("in.bin");
        settings.forWrite = scratch.File("dump.bin");
        settings.Size = 16;
    }

    // Word w of device memory holds (w & 0xFF) in its first byte and 0xA5 in its second.
    void LoadPattern(uint32_t words)
    {
        std::vector<uint8_t> memory(2 * words);
        for (uint32_t w = 0; w < words; ++w) {
            memory[2 * w] = static_cast<uint8_t>(w);
            memory[2 * w + 1] = 0xA5;
        }
        ASSERT_TRUE(device.LoadMemory(0, memory.data(), memory.size()));
    }

    Outcome RunRead()
    {
        RecordingReporter reporter;
        dump::ReadFlow(settings, reporter);
        EXPECT_EQ(reporter.shown.size(), 1u);
        return reporter.shown.empty() ? Outcome::ReadSuccess : reporter.shown[0];
    }
    Outcome RunWrite()
    {
        RecordingReporter reporter;
        dump::WriteFlow(settings, reporter);
        EXPECT_EQ(reporter.shown.size(), 1u);
        return reporter.shown.empty() ? Outcome::WriteSuccess : reporter.shown[0];
    }

    // Handles of the pipes and control path that were closed so far.
    unsigned Closes() { return CountType(device.Log(), VDEV_LOG_CLOSE); }

    vdev::Device device;
    ScratchFolder scratch;
    dump::DumpSettings settings;
};

using ReadFlowTest = FlowTest;
using WriteFlowTest = FlowTest;

TEST_F(ReadFlowTest, StoresFirstByteOfEachWordAfterResetCommand)
{
    LoadPattern(0x200);
    settings.Addr = 0x100;
    settings.readMode = 65537;  // only the low 16 bits travel
    EXPECT_EQ(RunRead(), Outcome::ReadSuccess);

    std::vector<uint8_t> expected(16);
    for (uint32_t i = 0; i < 16; ++i)
        expected[i] = static_cast<uint8_t>(0x100 + i);
    EXPECT_EQ(ReadAll(settings.forWrite), expected);

    const auto log = device.Log();
    const auto calls = VendorCalls(log);
    ASSERT_EQ(calls.size(), 2u) << Dump(log);
    EXPECT_EQ(calls[0].request, REQ_DEBUG);
    EXPECT_EQ(calls[0].value, 1);
    EXPECT_EQ(calls[0].index, 1);
    EXPECT_EQ(calls[0].stage, ByteList({12, 0, 0, 0}));
    EXPECT_EQ(calls[1].request, REQ_READ);
    EXPECT_EQ(calls[1].value, 1);
    EXPECT_EQ(calls[1].index, 1);
    ASSERT_EQ(calls[1].stage.size(), 12u);
    EXPECT_EQ(calls[1].Word(0), 0u);
    EXPECT_EQ(calls[1].Word(1), 0x100u);  // the start address the device is told
    EXPECT_EQ(calls[1].Word(2), 8u);      // 32 wire bytes in units of 4

    const auto pipes = PipeTransfers(log);
    ASSERT_EQ(pipes.size(), 2u) << Dump(log);
    EXPECT_EQ(pipes[0].type, VDEV_LOG_WRITE);
    EXPECT_EQ(pipes[0].pipe, VDEV_PIPE_OUT);
    EXPECT_EQ(pipes[0].head, ByteList({0x05, 0, 0, 0, 0xFF, 0xFF, 0x05, 0, 0, 0, 0xFF, 0xFF}));
    EXPECT_EQ(pipes[1].type, VDEV_LOG_READ);
    EXPECT_EQ(pipes[1].pipe, VDEV_PIPE_IN);
    EXPECT_EQ(pipes[1].requested, 32u);
}

TEST_F(ReadFlowTest, DumpOverSeveralChunksMatchesDeviceMemory)
{
    LoadPattern(0x10000);
    settings.Size = 0x9001;  // 73730 wire bytes: two full chunks and a tail; odd size
    settings.Addr = 3;
    EXPECT_EQ(RunRead(), Outcome::ReadSuccess);
    const auto dumped = ReadAll(settings.forWrite);
    ASSERT_EQ(dumped.size(), settings.Size);
    for (uint32_t i = 0; i < settings.Size; ++i)
        ASSERT_EQ(dumped[i], static_cast<uint8_t>(3 + i)) << "byte " << i;
    EXPECT_EQ(VendorCalls(device.Log()).back().Word(2), 0x4800u);  // odd sizes round the unit count down
}

TEST_F(ReadFlowTest, ReleasesTheConnectionOnlyAfterTheMessage)
{
    RecordingReporter reporter;
    unsigned closedWhileShown = 99;
    reporter.whileShown = [&] { closedWhileShown = Closes(); };
    dump::ReadFlow(settings, reporter);
    ASSERT_EQ(reporter.shown, std::vector<Outcome>{Outcome::ReadSuccess});
    EXPECT_EQ(closedWhileShown, 0u);
    EXPECT_EQ(Closes(), CountType(device.Log(), VDEV_LOG_OPEN));
    EXPECT_GT(Closes(), 0u);
}

TEST_F(ReadFlowTest, FailedDeviceReadKeepsThePreviousDump)
{
    const auto previous = ByteList({'o', 'l', 'd', ' ', 'd', 'u', 'm', 'p'});
    ASSERT_TRUE(WriteAll(settings.forWrite, previous));
    ASSERT_TRUE(device.FailRead(1));
    EXPECT_EQ(RunRead(), Outcome::ReadFailed);
    EXPECT_EQ(ReadAll(settings.forWrite), previous);
    EXPECT_EQ(Closes(), CountType(device.Log(), VDEV_LOG_OPEN)) << "the connection is closed after the message";
}

TEST_F(ReadFlowTest, FileWriteFailingPartWayKeepsThePreviousDump)
{
    const std::vector<uint8_t> previous(64, 'o');
    ASSERT_TRUE(WriteAll(settings.forWrite, previous));
    LoadPattern(48);
    settings.Size = 48;
    {
        FailingWrites disk(16);
        EXPECT_EQ(RunRead(), Outcome::ReadFailed);
        EXPECT_EQ(disk.Failures(), 1u) << "the dump was not written through the flow's file";
    }
    EXPECT_EQ(ReadAll(settings.forWrite), previous);
    EXPECT_EQ(scratch.Names(), std::vector<std::string>{"dump.bin"}) << "the partial dump is removed";

    // Without the fault the new dump replaces the longer old one whole.
    EXPECT_EQ(RunRead(), Outcome::ReadSuccess);
    const auto dumped = ReadAll(settings.forWrite);
    ASSERT_EQ(dumped.size(), 48u);
    for (uint32_t i = 0; i < 48; ++i)
        EXPECT_EQ(dumped[i], i) << "byte " << i;
    EXPECT_EQ(scratch.Names(), std::vector<std::string>{"dump.bin"});
}

TEST_F(ReadFlowTest, FileWriteFailingPartWayLeavesNoNewFile)
{
    LoadPattern(48);
    settings.Size = 48;
    FailingWrites disk(16);
    EXPECT_EQ(RunRead(), Outcome::ReadFailed);
    EXPECT_TRUE(scratch.Names().empty());
}

TEST_F(ReadFlowTest, ShortDeviceReadFailsAndKeepsThePreviousDump)
{
    LoadPattern(16);
    const auto previous = ByteList({'o', 'l', 'd'});
    ASSERT_TRUE(WriteAll(settings.forWrite, previous));
    ASSERT_TRUE(device.ShortRead(1, 10));  // 10 of the 32 wire bytes
    EXPECT_EQ(RunRead(), Outcome::ReadFailed);
    EXPECT_EQ(ReadAll(settings.forWrite), previous);
    const auto pipes = PipeTransfers(device.Log());
    ASSERT_EQ(pipes.size(), 2u);
    EXPECT_EQ(pipes[1].requested, 32u);
    EXPECT_EQ(pipes[1].moved, 10u);

    // A dump file the flow created for a short read is removed again.
    ASSERT_TRUE(DeleteFileA(settings.forWrite.c_str()));
    ASSERT_TRUE(device.ShortRead(1, 10));
    EXPECT_EQ(RunRead(), Outcome::ReadFailed);
    EXPECT_TRUE(scratch.Names().empty());
}

TEST_F(ReadFlowTest, NoDeviceLeavesNoNewFileAndKeepsAnOldOne)
{
    ASSERT_TRUE(device.SetPlugged(false));
    EXPECT_EQ(RunRead(), Outcome::OpenUsbFailed);
    EXPECT_FALSE(Exists(settings.forWrite));

    const auto previous = ByteList({1, 2, 3});
    ASSERT_TRUE(WriteAll(settings.forWrite, previous));
    EXPECT_EQ(RunRead(), Outcome::OpenUsbFailed);
    EXPECT_EQ(ReadAll(settings.forWrite), previous);
    ASSERT_TRUE(device.SetPlugged(true));
}

TEST_F(ReadFlowTest, UncreatableFileIsReportedBeforeTheDevice)
{
    // A name of MAX_PATH characters or more, in a folder that exists, is refused whole.
    const std::string folder = scratch.File(std::string(200, 'd'));
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    for (const std::string& path :
         {std::string(), scratch.File("no such folder\\dump.bin"), folder + "\\" + std::string(80, 'n')}) {
        settings.forWrite = path;
        EXPECT_EQ(RunRead(), Outcome::OpenFileFailed) << path;
    }
    EXPECT_TRUE(RemoveDirectoryA(folder.c_str())) << "a file was made in it";
    EXPECT_TRUE(scratch.Names().empty());
    EXPECT_TRUE(device.Log().empty()) << Dump(device.Log());
}

TEST_F(ReadFlowTest, PathLongerThanAnAnsiPathFailsAtTheOpen)
{
    // Cut to the settings buffer, it would name another file of the folder.
    const std::string path = scratch.File(std::string(280 - scratch.File("").size(), 'p'));
    WriteSettings("[Dump]\r\nforWrite=" + path + "\r\nSize=16\r\n");
    settings = dump::LoadSettings();
    RemoveSettings();
    EXPECT_EQ(RunRead(), Outcome::OpenFileFailed);
    EXPECT_TRUE(scratch.Names().empty());
    EXPECT_TRUE(device.Log().empty()) << Dump(device.Log());
}

TEST_F(ReadFlowTest, AFileHeldWithoutDeleteSharingIsRefusedFirstAndAttributesAreKept)
{
    const auto previous = ByteList({1, 2, 3});
    ASSERT_TRUE(WriteAll(settings.forWrite, previous));
    win::unique_file held(CreateFileA(settings.forWrite.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());
    EXPECT_EQ(RunRead(), Outcome::OpenFileFailed);
    held.reset();
    EXPECT_TRUE(device.Log().empty()) << Dump(device.Log());

    const DWORD attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
    ASSERT_TRUE(SetFileAttributesA(settings.forWrite.c_str(), attributes));
    LoadPattern(16);
    EXPECT_EQ(RunRead(), Outcome::ReadSuccess);
    EXPECT_EQ(ReadAll(settings.forWrite).size(), 16u);
    EXPECT_EQ(GetFileAttributesA(settings.forWrite.c_str()), attributes);
}

TEST_F(ReadFlowTest, SizesWithoutMemoryStopBeforeTheDevice)
{
    const auto previous = ByteList({9, 8, 7});
    ASSERT_TRUE(WriteAll(settings.forWrite, previous));
    // Too large for one buffer of a 32-bit process (a 64-bit one may hold it);
    // and wire images that would not fit in 32 bits.
    std::vector<uint32_t> sizes = {0x80000000u, 0x80000001u, 0xFFFFFFFFu};
    if (sizeof(void*) == 4)
        sizes.push_back(0x7FFFFFFFu);
    for (uint32_t size : sizes) {
        settings.Size = size;
        EXPECT_EQ(RunRead(), Outcome::AllocFailed) << std::hex << size;
    }
    EXPECT_EQ(ReadAll(settings.forWrite), previous);
    settings.forWrite = scratch.File("new.bin");
    EXPECT_EQ(RunRead(), Outcome::AllocFailed);
    EXPECT_FALSE(Exists(settings.forWrite));
    EXPECT_TRUE(device.Log().empty()) << Dump(device.Log());
}

TEST_F(ReadFlowTest, WireBufferOutOfMemoryFailsAfterTheResetCommand)
{
    settings.Size = OnceNotTwice();
    if (!settings.Size)
        GTEST_SKIP() << "a 64-bit process gets both buffers";
    EXPECT_EQ(RunRead(), Outcome::ReadFailed);
    const auto calls = VendorCalls(device.Log());
    ASSERT_EQ(calls.size(), 1u) << Dump(device.Log());
    EXPECT_EQ(calls[0].request, REQ_DEBUG);
    EXPECT_FALSE(Exists(settings.forWrite));
}

TEST_F(ReadFlowTest, FailedResetLeavesTheConnectionAndTheNextReadWorks)
{
    ASSERT_TRUE(device.FailControl(1, REQ_DEBUG));
    EXPECT_EQ(RunRead(), Outcome::ResetFailed);
    auto log = device.Log();
    EXPECT_EQ(VendorCalls(log).size(), 1u) << Dump(log);
    EXPECT_EQ(CountType(log, VDEV_LOG_CLOSE), 0u) << "no uClose after a failed reset";
    EXPECT_EQ(CountType(log, VDEV_LOG_READ) + CountType(log, VDEV_LOG_WRITE), 0u);
    EXPECT_FALSE(Exists(settings.forWrite));

    LoadPattern(16);
    EXPECT_EQ(RunRead(), Outcome::ReadSuccess);
    EXPECT_EQ(ReadAll(settings.forWrite).size(), 16u);
    log = device.Log();
    EXPECT_EQ(CountType(log, VDEV_LOG_CLOSE), CountType(log, VDEV_LOG_OPEN));
}

TEST_F(ReadFlowTest, FileWriteErrorReportsReadFailedAndReleases)
{
    HangUpPipe pipe;
    settings.forWrite = pipe.Name();
    EXPECT_EQ(RunRead(), Outcome::ReadFailed);
    const auto log = device.Log();
    EXPECT_EQ(VendorCalls(log).back().request, REQ_READ) << Dump(log);
    EXPECT_EQ(CountType(log, VDEV_LOG_CLOSE), CountType(log, VDEV_LOG_OPEN));
}

TEST_F(WriteFlowTest, SendsEachByteAsAWordPair)
{
    ASSERT_TRUE(WriteAll(settings.forRead, ByteList({1, 2, 3})));
    settings.Size = 3;
    settings.Addr = 0x40;
    settings.writeMode = 0x10002;
    EXPECT_EQ(RunWrite(), Outcome::WriteSuccess);

    const auto log = device.Log();
    const auto calls = VendorCalls(log);
    ASSERT_EQ(calls.size(), 2u) << Dump(log);
    EXPECT_EQ(calls[0].request, REQ_DEBUG);
    EXPECT_EQ(calls[0].index, 1);
    EXPECT_EQ(calls[1].request, REQ_WRITE);
    EXPECT_EQ(calls[1].value, 1);
    EXPECT_EQ(calls[1].index, 2);
    ASSERT_EQ(calls[1].stage.size(), 16u);
    EXPECT_EQ(calls[1].Word(0), 0u);
    EXPECT_EQ(calls[1].Word(1), 0u);
    EXPECT_EQ(calls[1].Word(2), 0x40u);
    EXPECT_EQ(calls[1].Word(3), 1u);

    const auto pipes = PipeTransfers(log);
    ASSERT_EQ(pipes.size(), 2u) << Dump(log);
    EXPECT_EQ(pipes[0].head, ByteList({0x05, 0, 0, 0, 0xFF, 0xFF, 0x05, 0, 0, 0, 0xFF, 0xFF}));
    EXPECT_EQ(pipes[1].pipe, VDEV_PIPE_OUT);
    EXPECT_EQ(pipes[1].head, ByteList({0x01, 0xFF, 0x02, 0xFF, 0x03, 0xFF}));

    std::vector<uint8_t> memory(6);
    ASSERT_TRUE(device.ReadMemory(0x80, memory.data(), memory.size()));
    EXPECT_EQ(memory, ByteList({0x01, 0xFF, 0x02, 0xFF, 0x03, 0xFF}));
    EXPECT_EQ(CountType(log, VDEV_LOG_CLOSE), CountType(log, VDEV_LOG_OPEN));
}

TEST_F(WriteFlowTest, ShortFileIsPaddedWithZeros)
{
    const std::vector<uint8_t> dirty(16, 0x55);
    ASSERT_TRUE(device.LoadMemory(0, dirty.data(), dirty.size()));
    ASSERT_TRUE(WriteAll(settings.forRead, ByteList({0xAA, 0xBB})));
    settings.Size = 6;
    EXPECT_EQ(RunWrite(), Outcome::WriteSuccess);
    std::vector<uint8_t> memory(16);
    ASSERT_TRUE(device.ReadMemory(0, memory.data(), memory.size()));
    EXPECT_EQ(memory, ByteList({0xAA, 0xFF, 0xBB, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0x55, 0x55, 0x55, 0x55}));
}

TEST_F(WriteFlowTest, UnreadableFileStopsBeforeTheDevice)
{
    EXPECT_EQ(RunWrite(), Outcome::OpenFileFailed);  // missing
    HangUpPipe pipe;
    settings.forRead = pipe.Name();
    EXPECT_EQ(RunWrite(), Outcome::OpenFileFailed);  // opened, then the read fails
    // A file whose name is too long to be used whole, made through the prefix that allows it.
    const std::string folder = scratch.File(std::string(200, 'd'));
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    settings.forRead = folder + "\\" + std::string(80, 'n');
    const std::wstring extended = L"\\\\?\\" + std::wstring(settings.forRead.begin(), settings.forRead.end());
    ASSERT_TRUE(win::unique_file(CreateFileW(extended.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)));
    EXPECT_EQ(RunWrite(), Outcome::OpenFileFailed);
    DeleteFileW(extended.c_str());
    RemoveDirectoryA(folder.c_str());
    EXPECT_TRUE(device.Log().empty()) << Dump(device.Log());
}

TEST_F(WriteFlowTest, DeviceFailuresAreReported)
{
    ASSERT_TRUE(WriteAll(settings.forRead, std::vector<uint8_t>(16, 7)));
    ASSERT_TRUE(device.SetPlugged(false));
    EXPECT_EQ(RunWrite(), Outcome::OpenUsbFailed);
    ASSERT_TRUE(device.SetPlugged(true));

    ASSERT_TRUE(device.FailControl(1, REQ_DEBUG));
    EXPECT_EQ(RunWrite(), Outcome::ResetFailed);
    EXPECT_EQ(CountType(device.Log(), VDEV_LOG_CLOSE), 0u);
    for (const auto& call : VendorCalls(device.Log()))
        EXPECT_NE(call.request, REQ_WRITE);

    ASSERT_TRUE(device.FailWrite(2));  // the data, after the reset bytes
    EXPECT_EQ(RunWrite(), Outcome::WriteFailed);
    EXPECT_EQ(RunWrite(), Outcome::WriteSuccess);

    // The data write counts two bytes fewer than it was given, without an error.
    ImportPatch shortWrite(GetModuleHandleA("uXfer.dll"), "kernel32.dll", "WriteFile",
                           reinterpret_cast<void*>(&ShortWriteFile));
    ASSERT_TRUE(shortWrite.Applied());
    realWriteFile = reinterpret_cast<decltype(&WriteFile)>(shortWrite.Original());
    EXPECT_EQ(RunWrite(), Outcome::WriteFailed);
}

TEST_F(WriteFlowTest, SizesWithoutMemory)
{
    ASSERT_TRUE(WriteAll(settings.forRead, ByteList({1, 2, 3})));
    for (uint32_t size : {0x80000000u, 0xFFFFFFFFu}) {
        settings.Size = size;
        EXPECT_EQ(RunWrite(), Outcome::AllocFailed) << std::hex << size;
    }
    EXPECT_TRUE(device.Log().empty()) << Dump(device.Log());

    settings.Size = OnceNotTwice();
    if (!settings.Size)
        GTEST_SKIP() << "a 64-bit process gets both buffers";
    EXPECT_EQ(RunWrite(), Outcome::WriteFailed);
    const auto calls = VendorCalls(device.Log());
    ASSERT_EQ(calls.size(), 1u) << Dump(device.Log());
    EXPECT_EQ(calls[0].request, REQ_DEBUG);
}

}  // namespace
