// What the device receives for each request: command blocks and data stages
// byte for byte, and what a refused or failed request leaves behind.
#include "transfer/xfer_support.h"
#include "usb_protocol.h"

namespace {

using XferCommands = XferTest;

TEST_F(XferCommands, ReadSendsBlockAndStageThenStreams)
{
    ASSERT_EQ(uCreate(OPEN_ALL), RESULT_OK);
    ASSERT_TRUE(device.Reset());
    std::vector<uint8_t> memory = Pattern(256, 1);
    ASSERT_TRUE(device.LoadMemory(0, memory.data(), memory.size()));
    TransferDesc desc = Desc(7, 100, 8);  // address 7 goes out as word 3, 100 / 8 as 12 units
    desc.param0 = 0x11223344;
    desc.param1 = 0x55667788;
    desc.cmdValue = 0xBEEF;
    desc.cmdIndex = 0x1234;
    std::vector<uint8_t> buffer(100);
    uint32_t count = 0xDEAD;

    ASSERT_EQ(uXferRead(&desc, buffer.data(), &count), RESULT_OK);

    std::vector<VdevLogRecord> log = Log();
    EXPECT_EQ(Trace(log), (std::vector<std::string>{"ctl A0", "read 100>100"}));
    std::vector<VdevLogRecord> reads = Requests(log, REQ_READ);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].b, 12u);
    EXPECT_EQ(Bytes(reads[0]), Concat(Block(0, REQ_READ, 0xBEEF, 0x1234, 12), Words({0x11223344, 3, 12})));
    EXPECT_EQ(count, 100u);
    // Word 3 is byte 6 of the device memory.
    EXPECT_EQ(buffer, std::vector<uint8_t>(memory.begin() + 6, memory.begin() + 106));
}

TEST_F(XferCommands, WriteSendsBlockAndStageThenStreams)
{
    ASSERT_EQ(uCreate(OPEN_ALL), RESULT_OK);
    ASSERT_TRUE(device.Reset());
    TransferDesc desc = Desc(0x2001, 64, 4);
    desc.param0 = 0xA1B2C3D4;
    desc.param1 = 0x01020304;
    desc.cmdValue = 0x0102;
    desc.cmdIndex = 0xFFFE;
    std::vector<uint8_t> data = Pattern(64, 2);
    uint32_t count = 0;

    ASSERT_EQ(uXferWrite(&desc, data.data(), &count), RESULT_OK);

    std::vector<VdevLogRecord> log = Log();
    EXPECT_EQ(Trace(log), (std::vector<std::string>{"ctl A1", "write 64>64"}));
    std::vector<VdevLogRecord> writes = Requests(log, REQ_WRITE);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].b, 16u);
    EXPECT_EQ(Bytes(writes[0]),
              Concat(Block(0, REQ_WRITE, 0x0102, 0xFFFE, 16), Words({0xA1B2C3D4, 0x01020304, 0x1000, 16})));
    EXPECT_EQ(count, 64u);
    std::vector<uint8_t> stored(64);
    ASSERT_TRUE(device.ReadMemory(0x2000, stored.data(), stored.size()));
    EXPECT_EQ(stored, data);
}

TEST_F(XferCommands, VerifySendsRangeAndReturnsTheDevicesAnswer)
{
    const uint8_t words[] = {0x01, 0x00, 0x02, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0x10, 0x00};
    ASSERT_EQ(uCreate(OPEN_ALL), RESULT_OK);
    ASSERT_TRUE(device.Reset());
    ASSERT_TRUE(device.LoadMemory(0x100, words, sizeof words));
    TransferDesc desc = Desc(0x100, 16, 8);  // 2 units: words 0x80 to 0x83
    desc.cmdValue = 7;
    desc.cmdIndex = 9;
    uint8_t answer[4] = {};

    ASSERT_EQ(uXferVerify(&desc, answer), RESULT_OK);

    std::vector<VdevLogRecord> log = Log();
    EXPECT_EQ(Trace(log), (std::vector<std::string>{"ctl AA", "read 4>4"}));
    std::vector<VdevLogRecord> debug = Requests(log, REQ_DEBUG);
    ASSERT_EQ(debug.size(), 1u);
    EXPECT_EQ(Bytes(debug[0]), Concat(Block(0, REQ_DEBUG, 7, 9, 8), Words({0x80, 2})));
    EXPECT_EQ(std::vector<uint8_t>(answer, answer + 4), Words({0x0001 + 0x0002 + 0x0100 + 0xFFFF}));
}

TEST_F(XferCommands, DebugReadSendsLengthAndReadsOnce)
{
    const uint8_t debugIn[] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
    ASSERT_EQ(uCreate(OPEN_ALL), RESULT_OK);
    ASSERT_TRUE(device.Reset());
    ASSERT_TRUE(device.SetDebugIn(debugIn, sizeof debugIn));
    TransferDesc desc = Desc(0x400, 10, 0);  // the debug commands ignore unitSize
    desc.cmdValue = 0x55;
    desc.cmdIndex = 0x66;
    uint8_t buffer[10] = {};
    uint32_t count = 0;

    ASSERT_EQ(uDebugReadCmd(&desc, buffer, &count), RESULT_OK);

    std::vector<VdevLogRecord> log = Log();
    EXPECT_EQ(Trace(log), (std::vector<std::string>{"ctl AA", "read 10>10"}));
    std::vector<VdevLogRecord> debug = Requests(log, REQ_DEBUG);
    ASSERT_EQ(debug.size(), 1u);
    EXPECT_EQ(Bytes(debug[0]), Concat(Block(0, REQ_DEBUG, 0x55, 0x66, 4), Words({10})));
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 10), std::vector<uint8_t>(debugIn, debugIn + 10));
}

TEST_F(XferCommands, DebugWriteSendsLengthAndWritesOnceUnchunked)
{
    ASSERT_EQ(uCreate(OPEN_ALL), RESULT_OK);
    ASSERT_TRUE(device.Reset());
    const uint32_t length = 65536 + 12;
    TransferDesc desc = Desc(0, length, 0);
    desc.cmdValue = 0xAA55;
    std::vector<uint8_t> data = Pattern(length, 3);
    uint32_t count = 0;

    ASSERT_EQ(uDebugWriteCmd(&desc, data.data(), &count), RESULT_OK);

    std::vector<VdevLogRecord> log = Log();
    EXPECT_EQ(Trace(log), (std::vector<std::string>{"ctl AA", "write 65548>65548"}));
    std::vector<VdevLogRecord> debug = Requests(log, REQ_DEBUG);
    ASSERT_EQ(debug.size(), 1u);
    EXPECT_EQ(Bytes(debug[0]), Concat(Block(0, REQ_DEBUG, 0xAA55, 0, 4), Words({length})));
    const VdevLogRecord& write = log.back();
    EXPECT_EQ(std::vector<uint8_t>(write.data, write.data + write.dataLen),
              std::vector<uint8_t>(data.begin(), data.begin() + write.dataLen));
    EXPECT_EQ(count, length);
}

TEST_F(XferCommands, StatusQueryReturnsTheWholeBlock)
{
    const uint8_t tail[7] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
    ASSERT_EQ(uCreate(OPEN_CONTROL), RESULT_OK);
    ASSERT_TRUE(device.Reset());
    ASSERT_TRUE(device.SetStatusBytes(tail));
    uint8_t status[8] = {};
    uint32_t count = 0;

    ASSERT_EQ(uGetStatus(status, &count), RESULT_OK);

    std::vector<VdevLogRecord> log = Log();
    std::vector<VdevLogRecord> queries = Requests(log, REQ_STATUS);
    ASSERT_EQ(queries.size(), 1u);
    const std::vector<uint8_t> reply = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
    EXPECT_EQ(Bytes(queries[0]), Concat(Block(1, REQ_STATUS, 1, 0, 8), reply));
    EXPECT_EQ(std::vector<uint8_t>(status, status + 8), reply);
    EXPECT_EQ(count, 8u);
}

TEST_F(XferCommands, StatusQueryWithoutConnectionFails)
{
    uint8_t status[8] = {};
    uint32_t count = 0;
    EXPECT_EQ(uGetStatus(status, &count), RESULT_IO_FAILED);
    EXPECT_TRUE(Trace(Log(), true).empty());
}

TEST_F(XferCommands, CancelSendsResetWithTheLowHalfOfTheCode)
{
    EXPECT_EQ(uSetCancel(0x10002), RESULT_OK);

    std::vector<VdevLogRecord> log = Log();
    EXPECT_EQ(Trace(log, true), (std::vector<std::string>{"open control", "open PIPE1", "open PIPE0", "ctl A3",
                                                          "reset 2", "close control", "close PIPE0", "close PIPE1"}));
    std::vector<VdevLogRecord> resets = Requests(log, REQ_RESET);
    ASSERT_EQ(resets.size(), 1u);
    EXPECT_EQ(Bytes(resets[0]), Block(1, REQ_RESET, 1, 2, 0));
    EXPECT_EQ(resets[0].b, 0u);
}

// unitSize 0 leaves no unit count to send: refused before anything reaches the device.
TEST_F(XferCommands, ZeroUnitSizeIsRefusedWithoutSending)
{
    ASSERT_EQ(uCreate(OPEN_ALL), RESULT_OK);
    ASSERT_TRUE(device.Reset());
    TransferDesc desc = Desc(0, 64, 0);
    std::vector<uint8_t> buffer(64);
    uint32_t count = 0xDEAD;

    EXPECT_EQ(uXferRead(&desc, buffer.data(), &count), RESULT_IO_FAILED);
    EXPECT_EQ(uXferWrite(&desc, buffer.data(), &count), RESULT_IO_FAILED);
    EXPECT_EQ(uXferVerify(&desc, buffer.data()), RESULT_IO_FAILED);

    EXPECT_TRUE(Trace(Log()).empty());
    EXPECT_EQ(count, 0xDEADu);
}

TEST_F(XferCommands, FailedCommandMovesNoData)
{
    ASSERT_EQ(uCreate(OPEN_ALL), RESULT_OK);
    ASSERT_TRUE(device.Reset());
    TransferDesc desc = Desc(0, 256);
    std::vector<uint8_t> buffer(256);
    uint32_t count = 0xDEAD;

    ASSERT_TRUE(device.FailControl(1, REQ_READ));
    EXPECT_EQ(uXferRead(&desc, buffer.data(), &count), RESULT_IO_FAILED);
    ASSERT_TRUE(device.FailControl(1, REQ_WRITE));
    EXPECT_EQ(uXferWrite(&desc, buffer.data(), &count), RESULT_IO_FAILED);
    ASSERT_TRUE(device.FailControl(1, REQ_DEBUG));
    EXPECT_EQ(uXferVerify(&desc, buffer.data()), RESULT_IO_FAILED);
    ASSERT_TRUE(device.FailControl(1, REQ_DEBUG));
    EXPECT_EQ(uDebugReadCmd(&desc, buffer.data(), &count), RESULT_IO_FAILED);

    EXPECT_EQ(Trace(Log()), (std::vector<std::string>{"ctl A0 failed", "ctl A1 failed", "ctl AA failed",
                                                       "ctl AA failed"}));
    EXPECT_EQ(count, 0xDEADu);
}

}  // namespace
