// Chunked reads and writes: chunk sizes on the pipe, data, counts, progress
// messages, and the stop after a failed chunk.
#include <string>

#include "transfer/xfer_support.h"
#include "usb_protocol.h"

namespace {

struct ChunkCase {
    uint32_t length;
    uint32_t unitSize;  // 1 where the length is no whole number of 4-byte units
    std::vector<uint32_t> chunks;
};

std::vector<std::string> PipeLines(const char* verb, const std::vector<uint32_t>& chunks)
{
    std::vector<std::string> lines;
    for (uint32_t n : chunks)
        lines.push_back(std::string(verb) + " " + std::to_string(n) + ">" + std::to_string(n));
    return lines;
}

void PrintTo(const ChunkCase& c, std::ostream* os)
{
    *os << c.length << " bytes in units of " << c.unitSize;
}

class XferChunking : public XferOpenTest, public ::testing::WithParamInterface<ChunkCase> {
protected:
    void SetUp() override
    {
        XferOpenTest::SetUp();
        if (HasFatalFailure())
            return;
        uSetMsgWnd(window.Handle());
        uSetMsgFlag(1);
    }
    ProgressWindow window;
};

TEST_P(XferChunking, ReadDeliversMemoryInChunks)
{
    const ChunkCase& c = GetParam();
    const uint32_t address = 0x10000;
    std::vector<uint8_t> memory = Pattern(c.length, c.length);
    ASSERT_TRUE(device.LoadMemory(address, memory.data(), memory.size()));
    TransferDesc desc = Desc(address, c.length, c.unitSize);
    std::vector<uint8_t> buffer(c.length);
    uint32_t count = 0xDEAD;

    ASSERT_EQ(uXferRead(&desc, buffer.data(), &count), RESULT_OK);

    std::vector<std::string> expected = {"ctl A0"};
    for (const std::string& line : PipeLines("read", c.chunks))
        expected.push_back(line);
    EXPECT_EQ(Trace(Log()), expected);
    EXPECT_EQ(count, c.length);
    EXPECT_TRUE(buffer == memory);
    EXPECT_EQ(window.Progress(), c.chunks);
    EXPECT_EQ(window.Malformed(), 0u);
}

TEST_P(XferChunking, WriteStoresMemoryInChunks)
{
    const ChunkCase& c = GetParam();
    const uint32_t address = 0x20000;
    std::vector<uint8_t> data = Pattern(c.length, c.length + 1);
    TransferDesc desc = Desc(address, c.length, c.unitSize);
    uint32_t count = 0xDEAD;

    ASSERT_EQ(uXferWrite(&desc, data.data(), &count), RESULT_OK);

    std::vector<std::string> expected = {"ctl A1"};
    for (const std::string& line : PipeLines("write", c.chunks))
        expected.push_back(line);
    EXPECT_EQ(Trace(Log()), expected);
    EXPECT_EQ(count, c.length);
    std::vector<uint8_t> stored(c.length);
    ASSERT_TRUE(device.ReadMemory(address, stored.data(), stored.size()));
    EXPECT_TRUE(stored == data);
    EXPECT_EQ(window.Progress(), c.chunks);
}

INSTANTIATE_TEST_SUITE_P(Lengths, XferChunking,
                         ::testing::Values(ChunkCase{0, 4, {}}, ChunkCase{65536, 4, {65536}},
                                           ChunkCase{65537, 1, {65536, 1}},
                                           ChunkCase{3 * 1024 * 1024, 4, std::vector<uint32_t>(48, 65536)}),
                         [](const ::testing::TestParamInfo<ChunkCase>& info) {
                             return "Length" + std::to_string(info.param.length);
                         });

class XferTransfers : public XferOpenTest {};

// Progress goes to a window of the test's thread.
class XferProgress : public XferTransfers {
protected:
    void SetUp() override
    {
        XferTransfers::SetUp();
        uSetMsgWnd(window.Handle());
    }
    ProgressWindow window;
};

// Every chunk of the large case above is a full one; here the last is not.
TEST_F(XferProgress, LargeReadEndsWithTheRemainder)
{
    uSetMsgFlag(1);
    const uint32_t length = 2 * 65536 + 36;
    TransferDesc desc = Desc(0, length);
    std::vector<uint8_t> buffer(length);
    uint32_t count = 0;

    ASSERT_EQ(uXferRead(&desc, buffer.data(), &count), RESULT_OK);

    EXPECT_EQ(Trace(Log()), (std::vector<std::string>{"ctl A0", "read 65536>65536", "read 65536>65536", "read 36>36"}));
    EXPECT_EQ(window.Progress(), (std::vector<uint32_t>{65536, 65536, 36}));
}

TEST_F(XferProgress, NoProgressMessagesWithoutTheFlag)
{
    TransferDesc desc = Desc(0, 65536 + 8);
    std::vector<uint8_t> buffer(desc.length);
    uint32_t count = 0;

    ASSERT_EQ(uXferRead(&desc, buffer.data(), &count), RESULT_OK);
    ASSERT_EQ(uXferWrite(&desc, buffer.data(), &count), RESULT_OK);

    EXPECT_TRUE(window.Progress().empty());
}

TEST_F(XferProgress, VerifySendsItsOneMessageEvenWithoutTheFlag)
{
    TransferDesc desc = Desc(0, 1000, 4);
    uint8_t answer[4];

    ASSERT_EQ(uXferVerify(&desc, answer), RESULT_OK);

    EXPECT_EQ(window.Progress(), (std::vector<uint32_t>{1000}));
    EXPECT_EQ(window.Malformed(), 0u);
}

TEST_F(XferProgress, VerifyWithoutTheReadPipeFailsAfterTheCommand)
{
    ASSERT_EQ(uCreate(OPEN_CONTROL | OPEN_WRITE), RESULT_OK);
    ASSERT_TRUE(device.Reset());
    TransferDesc desc = Desc(0, 8);
    uint8_t answer[4] = {1, 2, 3, 4};

    EXPECT_EQ(uXferVerify(&desc, answer), RESULT_IO_FAILED);

    EXPECT_EQ(Trace(Log()), (std::vector<std::string>{"ctl AA"}));
    EXPECT_TRUE(window.Progress().empty());
}

TEST_F(XferProgress, WriteFailingInAFullChunkEndsWithAZeroLengthPacket)
{
    uSetMsgFlag(1);
    TransferDesc desc = Desc(0, 3 * 65536);
    std::vector<uint8_t> data = Pattern(desc.length, 5);
    uint32_t count = 0;
    ASSERT_TRUE(device.FailWrite(2));

    EXPECT_EQ(uXferWrite(&desc, data.data(), &count), RESULT_IO_FAILED);

    std::vector<VdevLogRecord> log = Log();
    EXPECT_EQ(Trace(log), (std::vector<std::string>{"ctl A1", "write 65536>65536", "write 65536>0 failed", "ctl A3",
                                                    "reset 2", "write 0>0"}));
    EXPECT_EQ(Bytes(Requests(log, REQ_RESET).at(0)), Block(1, REQ_RESET, 1, 2, 0));
    EXPECT_EQ(count, 65536u);
    EXPECT_EQ(window.Progress(), (std::vector<uint32_t>{65536}));
}

TEST_F(XferTransfers, WriteFailingInAShortChunkSendsNoPacketMarker)
{
    TransferDesc desc = Desc(0, 65536 + 100);
    std::vector<uint8_t> data(desc.length);
    uint32_t count = 0;
    ASSERT_TRUE(device.FailWrite(2));

    EXPECT_EQ(uXferWrite(&desc, data.data(), &count), RESULT_IO_FAILED);

    EXPECT_EQ(Trace(Log()),
              (std::vector<std::string>{"ctl A1", "write 65536>65536", "write 100>0 failed", "ctl A3", "reset 2"}));
    EXPECT_EQ(count, 65536u);
}

TEST_F(XferTransfers, ReadFailingInAFullChunkDrainsOnePacket)
{
    TransferDesc desc = Desc(0, 3 * 65536);
    std::vector<uint8_t> buffer(desc.length);
    uint32_t count = 0;
    ASSERT_TRUE(device.FailRead(2));

    EXPECT_EQ(uXferRead(&desc, buffer.data(), &count), RESULT_IO_FAILED);

    EXPECT_EQ(Trace(Log()), (std::vector<std::string>{"ctl A0", "read 65536>65536", "read 65536>0 failed", "ctl A3",
                                                      "reset 2", "read 64>0"}));
    EXPECT_EQ(count, 65536u);
}

TEST_F(XferTransfers, ReadFailingInA100ByteChunkDoesNotDrain)
{
    TransferDesc desc = Desc(0, 65536 + 100);
    std::vector<uint8_t> buffer(desc.length);
    uint32_t count = 0;
    ASSERT_TRUE(device.FailRead(2));

    EXPECT_EQ(uXferRead(&desc, buffer.data(), &count), RESULT_IO_FAILED);

    EXPECT_EQ(Trace(Log()),
              (std::vector<std::string>{"ctl A0", "read 65536>65536", "read 100>0 failed", "ctl A3", "reset 2"}));
    EXPECT_EQ(count, 65536u);
}

TEST_F(XferTransfers, FailedResetIsTheResultAndSkipsTheTail)
{
    TransferDesc desc = Desc(0, 65536);
    std::vector<uint8_t> buffer(desc.length);
    uint32_t count = 0;
    ASSERT_TRUE(device.FailRead(1));
    ASSERT_TRUE(device.FailControl(1, REQ_RESET));

    EXPECT_EQ(uXferRead(&desc, buffer.data(), &count), RESULT_IO_FAILED);

    EXPECT_EQ(Trace(Log()), (std::vector<std::string>{"ctl A0", "read 65536>0 failed", "ctl A3 failed"}));
    EXPECT_EQ(count, 0u);
}

TEST_F(XferProgress, ShortReadGoesOnAtTheNextChunk)
{
    uSetMsgFlag(1);
    std::vector<uint8_t> memory = Pattern(3 * 65536, 6);
    ASSERT_TRUE(device.LoadMemory(0, memory.data(), memory.size()));
    TransferDesc desc = Desc(0, 3 * 65536);
    std::vector<uint8_t> buffer(desc.length);
    uint32_t count = 0;
    ASSERT_TRUE(device.ShortRead(2, 1000));

    EXPECT_EQ(uXferRead(&desc, buffer.data(), &count), RESULT_OK);

    EXPECT_EQ(Trace(Log()),
              (std::vector<std::string>{"ctl A0", "read 65536>65536", "read 65536>1000", "read 65536>65536"}));
    EXPECT_EQ(count, 2 * 65536u + 1000);
    // The third chunk lands at its own place in the buffer and carries what
    // the device streamed next.
    EXPECT_TRUE(std::equal(buffer.begin() + 2 * 65536, buffer.end(), memory.begin() + 65536 + 1000));
    EXPECT_EQ(window.Progress(), (std::vector<uint32_t>{65536, 65536, 65536}));
}

TEST_F(XferTransfers, PipesThatWereNotOpenedFailWithoutCalls)
{
    ASSERT_EQ(uCreate(OPEN_CONTROL), RESULT_OK);
    ASSERT_TRUE(device.Reset());
    TransferDesc desc = Desc(0, 65536);
    std::vector<uint8_t> buffer(desc.length);
    uint32_t count = 0xDEAD;

    EXPECT_EQ(uXferRead(&desc, buffer.data(), &count), RESULT_IO_FAILED);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(uXferWrite(&desc, buffer.data(), &count), RESULT_IO_FAILED);
    count = 0xDEAD;
    EXPECT_EQ(uDebugReadCmd(&desc, buffer.data(), &count), RESULT_IO_FAILED);
    EXPECT_EQ(uDebugWriteCmd(&desc, buffer.data(), &count), RESULT_IO_FAILED);
    EXPECT_EQ(count, 0xDEADu);

    EXPECT_EQ(Trace(Log()), (std::vector<std::string>{"ctl A0", "ctl A3", "reset 2", "ctl A1", "ctl A3", "reset 2",
                                                      "ctl AA", "ctl AA"}));
}

}  // namespace
