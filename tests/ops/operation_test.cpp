// Each operation of the table against the virtual device: what the device
// received (its log), what the files and its memory hold afterwards, and the
// kind and sentence of each failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/device_log.h"
#include "common/held_mutex.h"
#include "dump/file.h"
#include "dumptool/test_files.h"
#include "ops/xfer_link.h"
#include "uXfer.h"
#include "usb_protocol.h"
#include "vdev_client.h"
#include "win/text.h"

using namespace dumptest;

namespace {

constexpr uint32_t kMemoryBytes = 8u << 20;  // 4 Mi words
const ops::Names kNames = {"--addr", "--size", "--pad", "--no-reset"};

std::wstring Wide(const std::string& path)
{
    return win::Widen(path, CP_UTF8);
}

// The file of `words` words, one byte each, as a read writes them.
std::vector<uint8_t> DumpOf(const std::vector<uint8_t>& memory, uint32_t addr, uint32_t words)
{
    std::vector<uint8_t> dump(words);
    for (uint32_t i = 0; i < words; ++i)
        dump[i] = memory[2 * (addr + i)];
    return dump;
}

struct Case {
    const char* name;
    // The device is set up, the operation runs on `op` with these settings.
    std::function<void(vdev::Device&)> arm;
    std::function<ops::Error(ops::Operation& op, const ScratchFolder& folder)> run;
    ops::Kind kind;
    const char* sentence;  // the start of the error's sentence
    // Checks the device's log, its memory and the files.
    std::function<void(const std::vector<VdevLogRecord>& log, vdev::Device& device, const ScratchFolder& folder)>
        check;
    ops::Settings settings = {};
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

std::vector<uint8_t> memory;

class OperationTest : public testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(device.Open(0));
        VdevInfo info;
        ASSERT_TRUE(device.Info(info));
        memoryBefore = info.memoryBytes;
        ASSERT_TRUE(device.SetMemorySize(kMemoryBytes));
        ASSERT_TRUE(device.Reset());
        memory = Pattern(kMemoryBytes, 26);
        ASSERT_TRUE(device.LoadMemory(0, memory.data(), memory.size()));
        ASSERT_TRUE(device.Reset());
        ASSERT_TRUE(device.LoadMemory(0, memory.data(), memory.size()));
    }

    void TearDown() override { device.SetMemorySize(memoryBefore); }

    vdev::Device device;
    uint32_t memoryBefore = 0;
    ScratchFolder folder;
};

ops::Error ReadFile(ops::Operation& op, const ScratchFolder& folder, uint32_t addr, uint32_t size)
{
    ops::DumpFile file("uxt");
    if (ops::Error error = file.Prepare(Wide(folder.File("out.bin")), "out.bin"))
        return error;
    return op.Read({addr, size, 0}, file);
}

ops::Error FromBytes(const std::vector<uint8_t>& bytes, const ScratchFolder& folder, std::unique_ptr<ops::Source>& source)
{
    WriteAll(folder.File("in.bin"), bytes);
    return ops::OpenFileSource(Wide(folder.File("in.bin")), "in.bin", source);
}

BOOL WINAPI DiskFull(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED)
{
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}


// A source whose reads fail past its first `good` bytes.
class FailingSource : public ops::Source {
public:
    FailingSource(std::vector<uint8_t> bytes, uint64_t good) : bytes_(std::move(bytes)), good_(good)
    {
        name_ = "in.bin";
        length_ = bytes_.size();
    }
    bool Read(uint8_t* buffer, uint32_t bytes) override
    {
        if (at_ + bytes > good_) {
            SetLastError(ERROR_READ_FAULT);
            return false;
        }
        std::memcpy(buffer, bytes_.data() + at_, bytes);
        at_ += bytes;
        return true;
    }
    bool Rewind() override
    {
        at_ = 0;
        return true;
    }

private:
    std::vector<uint8_t> bytes_;
    uint64_t good_;
    uint64_t at_ = 0;
};

// The reads' stage: mode, word address, 2-word units.
void ExpectRead(const VendorCall& call, uint32_t addr, uint32_t units, uint16_t mode)
{
    EXPECT_EQ(call.request, REQ_READ);
    EXPECT_EQ(call.index, mode);
    EXPECT_EQ(call.Word(1), addr);
    EXPECT_EQ(call.Word(2), units);
}

const Case kCases[] = {
    {"ReadKeepsTheFirstByteOfEachWord", nullptr,
     [](ops::Operation& op, const ScratchFolder& f) { return ReadFile(op, f, 0x100, 0x3000); }, ops::Kind::None, "",
     [](const std::vector<VdevLogRecord>& log, vdev::Device&, const ScratchFolder& f) {
         const std::vector<VendorCall> calls = VendorCalls(log);
         ASSERT_EQ(calls.size(), 2u) << Dump(log);
         EXPECT_EQ(calls[0].request, REQ_DEBUG);  // the reset command
         ExpectRead(calls[1], 0x100, 0x1800, 0);
         EXPECT_EQ(ReadAll(f.File("out.bin")), DumpOf(memory, 0x100, 0x3000));
     }},
    {"OddReadReadsOneWordMoreAndKeepsWhatWasAsked", nullptr,
     [](ops::Operation& op, const ScratchFolder& f) { return ReadFile(op, f, 7, 5); }, ops::Kind::None, "",
     [](const std::vector<VdevLogRecord>& log, vdev::Device&, const ScratchFolder& f) {
         const std::vector<VendorCall> calls = VendorCalls(log);
         ASSERT_EQ(calls.size(), 2u) << Dump(log);
         ExpectRead(calls[1], 7, 3, 0);
         EXPECT_EQ(ReadAll(f.File("out.bin")), DumpOf(memory, 7, 5));
     }},
    {"OddReadEndingAtTheLastWordIsRefused", nullptr,
     [](ops::Operation& op, const ScratchFolder& f) { return ReadFile(op, f, 0x7FFFFFFD, 3); }, ops::Kind::Usage,
     "--size 0x3 is odd and the range ends at the device's last word",
     [](const std::vector<VdevLogRecord>& log, vdev::Device&, const ScratchFolder& f) {
         EXPECT_TRUE(VendorCalls(log).empty()) << Dump(log);
         EXPECT_FALSE(Exists(f.File("out.bin")));
     }},
    {"RawReadWithoutResetKeepsWholeWords", nullptr,
     [](ops::Operation& op, const ScratchFolder& f) { return ReadFile(op, f, 0, 0x40); }, ops::Kind::None, "",
     [](const std::vector<VdevLogRecord>& log, vdev::Device&, const ScratchFolder& f) {
         const std::vector<VendorCall> calls = VendorCalls(log);
         ASSERT_EQ(calls.size(), 1u) << Dump(log);
         ExpectRead(calls[0], 0, 0x20, 0);
         EXPECT_EQ(ReadAll(f.File("out.bin")), std::vector<uint8_t>(memory.begin(), memory.begin() + 0x80));
     },
     ops::Settings{true, true, -1, nullptr}},
    {"ShortReadIsADeviceErrorAndLeavesNoFile", [](vdev::Device& d) { d.ShortRead(2, 100); },
     [](ops::Operation& op, const ScratchFolder& f) { return ReadFile(op, f, 0, 0x20000); }, ops::Kind::Device,
     "the read of 262144 wire bytes from instance 0 moved only 196708 bytes",
     [](const std::vector<VdevLogRecord>&, vdev::Device&, const ScratchFolder& f) {
         EXPECT_TRUE(f.Names().empty());
     }},
    {"PaddedWriteFillsWithZeros", nullptr,
     [](ops::Operation& op, const ScratchFolder& f) {
         std::unique_ptr<ops::Source> source;
         if (ops::Error error = FromBytes({1, 2, 3}, f, source))
             return error;
         return op.Write({0x10, 6, 9}, *source, true, std::nullopt);
     },
     ops::Kind::None, "",
     [](const std::vector<VdevLogRecord>& log, vdev::Device& d, const ScratchFolder&) {
         const std::vector<VendorCall> calls = VendorCalls(log);
         ASSERT_EQ(calls.size(), 2u) << Dump(log);
         EXPECT_EQ(calls[1].request, REQ_WRITE);
         EXPECT_EQ(calls[1].index, 9);
         EXPECT_EQ(calls[1].Word(2), 0x10u);
         EXPECT_EQ(calls[1].Word(3), 3u);
         std::vector<uint8_t> words(12);
         d.ReadMemory(0x20, words.data(), words.size());
         EXPECT_EQ(words, ByteList({1, 0xFF, 2, 0xFF, 3, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF}));
     }},
    {"ShortWriteSourceIsRefusedBeforeTheDevice", nullptr,
     [](ops::Operation& op, const ScratchFolder& f) {
         std::unique_ptr<ops::Source> source;
         if (ops::Error error = FromBytes({1, 2, 3}, f, source))
             return error;
         return op.Write({0, 4, 0}, *source, false, std::nullopt);
     },
     ops::Kind::Usage,
     "in.bin has 3 bytes, fewer than the 4 bytes the write needs; add --pad to fill the rest with zeros, or give a "
     "smaller --size",
     [](const std::vector<VdevLogRecord>& log, vdev::Device&, const ScratchFolder&) {
         EXPECT_TRUE(VendorCalls(log).empty()) << Dump(log);
     }},
    {"VerifiedWriteReadsBackWithTheReadMode", nullptr,
     [](ops::Operation& op, const ScratchFolder& f) {
         std::unique_ptr<ops::Source> source;
         if (ops::Error error = FromBytes(Pattern(0x30000, 3), f, source))
             return error;
         return op.Write({0x200, std::nullopt, 4}, *source, false, 5);
     },
     ops::Kind::None, "",
     [](const std::vector<VdevLogRecord>& log, vdev::Device& d, const ScratchFolder&) {
         const std::vector<VendorCall> calls = VendorCalls(log);
         ASSERT_EQ(calls.size(), 4u) << Dump(log);
         EXPECT_EQ(calls[1].request, REQ_WRITE);
         EXPECT_EQ(calls[2].request, REQ_DEBUG);  // a reset command before the read-back
         ExpectRead(calls[3], 0x200, 0x18000, 5);
         std::vector<uint8_t> wire(0x60000);
         d.ReadMemory(0x400, wire.data(), wire.size());
         EXPECT_EQ(DumpOf(wire, 0, 0x30000), Pattern(0x30000, 3));
     }},
    {"CompareFindsTheFirstDifference", nullptr,
     [](ops::Operation& op, const ScratchFolder& f) {
         std::vector<uint8_t> expected = DumpOf(memory, 0x40, 0x21);
         expected[0x11] ^= 1;
         expected[0x20] ^= 1;
         std::unique_ptr<ops::Source> source;
         if (ops::Error error = FromBytes(expected, f, source))
             return error;
         ops::Error error = op.Compare({0x40, std::nullopt, 0}, *source);
         EXPECT_TRUE(error.difference && error.difference->fileOffset == 0x11 &&
                     error.difference->wordAddress == 0x51 && error.difference->differingWords == 2);
         return error;
     },
     ops::Kind::Mismatch, "comparison found 2 of 33 words different, the first at file offset 17, word address 0x51",
     [](const std::vector<VdevLogRecord>& log, vdev::Device&, const ScratchFolder&) {
         const std::vector<VendorCall> calls = VendorCalls(log);
         ASSERT_EQ(calls.size(), 2u) << Dump(log);
         ExpectRead(calls[1], 0x40, 17, 0);
     }},
    {"FailingWriteStopsWithWhatMoved", [](vdev::Device& d) { d.FailWrite(3); },
     [](ops::Operation& op, const ScratchFolder& f) {
         std::unique_ptr<ops::Source> source;
         if (ops::Error error = FromBytes(Pattern(0x40000, 4), f, source))
             return error;
         ops::Error error = op.Write({0, std::nullopt, 0}, *source, false, std::nullopt);
         EXPECT_EQ(error.moved, 0x8000u);  // the first chunk
         return error;
     },
     ops::Kind::Device, "the write of 524288 wire bytes to instance 0 failed after 65536 bytes: RESULT_IO_FAILED",
     nullptr},
    {"FullDiskStopsTheReadAndKeepsTheOldFile", nullptr,
     [](ops::Operation& op, const ScratchFolder& f) {
         WriteAll(f.File("out.bin"), {9, 9});
         const dump::WriteFunction previous = dump::systemWrite;
         dump::systemWrite = DiskFull;
         ops::Error error = ReadFile(op, f, 0, 0x200000);
         dump::systemWrite = previous;
         return error;
     },
     ops::Kind::File, "can't write the dump to ",
     [](const std::vector<VdevLogRecord>& log, vdev::Device&, const ScratchFolder& f) {
         // Stopped at the first block: far fewer reads than the range's 64.
         EXPECT_LT(CountType(log, VDEV_LOG_READ), 40u) << Dump(log);
         EXPECT_EQ(ReadAll(f.File("out.bin")), ByteList({9, 9}));
         EXPECT_EQ(f.Names().size(), 1u);
     }},
    // A failure in the progress handler stops the library even where no
    // cancel can be sent: at once, with nothing more on the pipe.
    {"FullDiskWithTheInstanceLockHeldElsewhereStopsAtOnce", nullptr,
     [](ops::Operation& op, const ScratchFolder& f) {
         WriteAll(f.File("out.bin"), {9, 9});
         const MutexHeldElsewhere elsewhere(L"Global\\uXferInstanceSelect");
         const dump::WriteFunction previous = dump::systemWrite;
         dump::systemWrite = DiskFull;
         ops::Error error = ReadFile(op, f, 0, 0x200000);
         dump::systemWrite = previous;
         return error;
     },
     ops::Kind::File, "can't write the dump to ",
     [](const std::vector<VdevLogRecord>& log, vdev::Device&, const ScratchFolder& f) {
         // The first block, 16 chunks, and no reset request.
         EXPECT_EQ(CountType(log, VDEV_LOG_READ), 16u) << Dump(log);
         EXPECT_EQ(CountType(log, VDEV_LOG_RESET), 0u) << Dump(log);
         EXPECT_EQ(ReadAll(f.File("out.bin")), ByteList({9, 9}));
         EXPECT_EQ(f.Names().size(), 1u);
     }},
    {"SourceFailingMidWayWithTheInstanceLockHeldElsewhereSendsNoMore", nullptr,
     [](ops::Operation& op, const ScratchFolder&) {
         // Two blocks are filled before the library starts; the third fails.
         FailingSource source(Pattern(0x200000, 7), 0x100000);
         const MutexHeldElsewhere elsewhere(L"Global\\uXferInstanceSelect");
         return op.Write({0, std::nullopt, 0}, source, false, 0);
     },
     ops::Kind::File, "can't read in.bin (",
     [](const std::vector<VdevLogRecord>& log, vdev::Device& d, const ScratchFolder&) {
         // The reset command, then the first block, 16 chunks.
         EXPECT_EQ(CountType(log, VDEV_LOG_WRITE), 17u) << Dump(log);
         EXPECT_EQ(CountType(log, VDEV_LOG_RESET), 0u) << Dump(log);
         // The source's first block, then what the device held: no zeros of blocks never filled.
         std::vector<uint8_t> wire(0x400000);
         d.ReadMemory(0, wire.data(), wire.size());
         const std::vector<uint8_t> source = Pattern(0x200000, 7);
         EXPECT_TRUE(DumpOf(wire, 0, 0x80000) == std::vector<uint8_t>(source.begin(), source.begin() + 0x80000));
         EXPECT_TRUE(std::equal(wire.begin() + 0x100000, wire.end(), memory.begin() + 0x100000));
     }},
};

TEST_P(OperationTest, MeetsTheTable)
{
    const Case& c = GetParam();
    if (c.arm)
        c.arm(device);
    dump::Connection connection(dump::Connection::AfterFailure::Close);
    ASSERT_FALSE(ops::Open(connection, 0, 0, OPEN_ALL, kNames));
    dump::CancelSwitch cancel;
    ops::Error error;
    {
        ops::XferLink link(cancel, connection, 0, c.settings, kNames);
        ops::Operation op(link, 0, c.settings, kNames);
        error = c.run(op, folder);
    }
    EXPECT_EQ(error.kind, c.kind) << error.text;
    EXPECT_EQ(error.text.rfind(c.sentence, 0), 0u) << error.text;
    if (c.check)
        c.check(device.Log(), device, folder);
}

INSTANTIATE_TEST_SUITE_P(Table, OperationTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// Checks the dump a block at a time against marks the test left in the device.
class MarkedSink : public ops::Sink {
public:
    bool Streams() const override { return true; }
    bool Append(const uint8_t* data, uint32_t bytes) override
    {
        for (uint32_t i = 0; i < bytes; ++i, ++at_)
            if (data[i] != (at_ % kMarkEvery == 0 ? Mark(at_) : 0))
                ++wrong_;
        return true;
    }
    ops::Error WriteFailed(ops::SystemError) const override { return {}; }
    static constexpr uint64_t kMarkEvery = 64u << 20;  // words, one a 128 MiB of the wire
    static uint8_t Mark(uint64_t word) { return static_cast<uint8_t>(0x40 + word / kMarkEvery); }
    uint64_t at_ = 0;
    uint64_t wrong_ = 0;
};

// Reserves the address space in pieces of `piece` bytes, what is left in
// pieces of 1 MiB, then gives one large piece back: the largest free piece is
// then that size, with reserved space on both sides.
class CrowdedAddressSpace {
public:
    explicit CrowdedAddressSpace(SIZE_T piece)
    {
        regions_.reserve(8192);  // no heap growth once the space is full
        Fill(piece);
        win::unique_region freed = std::move(regions_.back());
        regions_.pop_back();
        Fill(1u << 20);
    }

private:
    void Fill(SIZE_T piece)
    {
        while (void* region = VirtualAlloc(nullptr, piece, MEM_RESERVE, PAGE_NOACCESS))
            regions_.emplace_back(region);
    }

    std::vector<win::unique_region> regions_;
};

}  // namespace

// The largest range, 0x7FFFFFFE words (a wire length of 0xFFFFFFFC), is one
// request where the address space holds it: its read command asks for all of
// it.  The read is cancelled at its first chunk.
TEST(OperationSplitTest, LargestRangeIsOneRequest)
{
    if (sizeof(void*) == 4)
        GTEST_SKIP() << "a 32-bit process has no 4 GiB of address space in one piece";
    vdev::Device device;
    ASSERT_TRUE(device.Open(0));
    ASSERT_TRUE(device.Reset());
    dump::Connection connection(dump::Connection::AfterFailure::Close);
    ASSERT_FALSE(ops::Open(connection, 0, 0, OPEN_ALL, kNames));
    dump::CancelSwitch cancel;
    ops::Settings settings;
    settings.progress = [&](uint64_t, uint64_t) { cancel.Cancel(); };
    class Discard : public ops::Sink {
        bool Streams() const override { return true; }
        bool Append(const uint8_t*, uint32_t) override { return true; }
        ops::Error WriteFailed(ops::SystemError) const override { return {}; }
    } sink;
    ops::Error error;
    {
        ops::XferLink link(cancel, connection, 0, settings, kNames);
        ops::Operation op(link, 0, settings, kNames);
        error = op.Read({0, 0x7FFFFFFE, 0}, sink);
    }
    EXPECT_EQ(error.kind, ops::Kind::Cancelled) << error.text;
    std::vector<VendorCall> reads;
    for (const VendorCall& call : VendorCalls(device.Log()))
        if (call.request == REQ_READ)
            reads.push_back(call);
    ASSERT_EQ(reads.size(), 1u);
    ExpectRead(reads[0], 0, 0x3FFFFFFF, 0);
}

// Where the address space holds no whole range, the range goes as consecutive
// requests under one call, and the dump comes out whole and in order.
TEST(OperationSplitTest, CrowdedAddressSpaceSendsConsecutiveRequests)
{
    if (sizeof(void*) == 8)
        GTEST_SKIP() << "a 64-bit process reserves any range whole: one request up to 0x7FFFFFFE words";
    constexpr uint32_t kWords = 384u << 20;  // 768 MiB on the wire
    vdev::Device device;
    ASSERT_TRUE(device.Open(0));
    VdevInfo info;
    ASSERT_TRUE(device.Info(info));
    ASSERT_TRUE(device.SetMemorySize(kWords * 2));
    ASSERT_TRUE(device.Reset());
    for (uint64_t word = 0; word < kWords; word += MarkedSink::kMarkEvery) {
        const uint8_t mark[2] = {MarkedSink::Mark(word), 0};
        ASSERT_TRUE(device.LoadMemory(static_cast<uint32_t>(word * 2), mark, 2));
    }
    dump::Connection connection(dump::Connection::AfterFailure::Close);
    ASSERT_FALSE(ops::Open(connection, 0, 0, OPEN_ALL, kNames));
    dump::CancelSwitch cancel;
    // The log holds fewer records than the range has chunks: it is taken as it grows.
    std::vector<VendorCall> reads;
    uint32_t next = 0;
    const auto collect = [&] {
        const std::vector<VdevLogRecord> log = device.Log(next);
        if (!log.empty())
            next = log.back().seq + 1;
        for (const VendorCall& call : VendorCalls(log))
            if (call.request == REQ_READ)
                reads.push_back(call);
    };
    uint64_t chunks = 0;
    ops::Settings settings;
    settings.progress = [&](uint64_t, uint64_t) {
        if (++chunks % 1024 == 0)
            collect();
    };
    MarkedSink sink;
    ops::Error error;
    {
        const CrowdedAddressSpace crowded(320u << 20);
        ops::XferLink link(cancel, connection, 0, settings, kNames);
        ops::Operation op(link, 0, settings, kNames);
        error = op.Read({0, kWords, 0}, sink);
    }
    collect();
    device.SetMemorySize(info.memoryBytes);
    EXPECT_FALSE(error) << error.text;
    EXPECT_EQ(sink.at_, kWords);
    EXPECT_EQ(sink.wrong_, 0u);
    ASSERT_EQ(reads.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i)
        ExpectRead(reads[i], i * (128u << 20), 64u << 20, 0);
}

// A call that opens the pipes registers the progress window's class ahead;
// the class goes with the link, whether a transfer used it or not, so that a
// DLL unloaded afterwards leaves no class naming its code.
TEST(OperationWindowTest, ClassRegisteredAheadGoesWithTheLink)
{
    vdev::Device device;
    ASSERT_TRUE(device.Open(0));
    ASSERT_TRUE(device.Reset());
    class Discard : public ops::Sink {
        bool Streams() const override { return true; }
        bool Append(const uint8_t*, uint32_t) override { return true; }
        ops::Error WriteFailed(ops::SystemError) const override { return {}; }
    } sink;
    for (const bool transfer : {false, true}) {
        dump::Connection connection(dump::Connection::AfterFailure::Close);
        dump::CancelSwitch cancel;
        const ops::Settings settings;
        {
            ops::XferLink link(cancel, connection, 0, settings, kNames);
            ops::Operation op(link, 0, settings, kNames);
            ASSERT_FALSE(op.Open(OPEN_ALL));
            if (transfer) {
                EXPECT_FALSE(op.Read({0, 16, 0}, sink));
            }
        }
        WNDCLASSA found;
        EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), "uxferHiddenWindow", &found)) << transfer;
    }
}
