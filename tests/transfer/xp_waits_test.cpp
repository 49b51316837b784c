// The waits as a system before generation 6 runs them: polling the status
// every 10 ms before and after each command.  This program is started by
// XferGeneration5.WaitsPollTheDevice with Wine reporting Windows XP to it.
#include "transfer/xfer_support.h"
#include "usb_protocol.h"

namespace {

constexpr uint32_t kPollLimit = 1000;  // the library gives up after this many polls

class PolledWaits : public XferOpenTest {
protected:
    void SetUp() override
    {
        OSVERSIONINFOA version = {};
        version.dwOSVersionInfoSize = sizeof version;
        ASSERT_TRUE(GetVersionExA(&version));
        ASSERT_EQ(version.dwMajorVersion, 5u) << "run through XferGeneration5.WaitsPollTheDevice";
        XferOpenTest::SetUp();
    }
};

std::vector<std::string> Repeat(const std::string& line, size_t n)
{
    return std::vector<std::string>(n, line);
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(PolledWaits, PollUntilIdleThenUntilTaken)
{
    std::vector<uint8_t> memory = Pattern(65536 + 8, 9);
    ASSERT_TRUE(device.LoadMemory(0, memory.data(), memory.size()));
    ASSERT_TRUE(device.HoldActive(3));
    uSetDelay(5000);  // not used by polling waits
    TransferDesc desc = Desc(0, 65536 + 8);
    std::vector<uint8_t> buffer(desc.length);
    uint32_t count = 0;

    Stopwatch clock;
    ASSERT_EQ(uXferRead(&desc, buffer.data(), &count), RESULT_OK);
    double elapsed = clock.Ms();

    std::vector<VdevLogRecord> log = Log();
    EXPECT_EQ(Trace(log), Join(Join(Repeat("ctl A2", 4), {"ctl A0", "ctl A2"}), {"read 65536>65536", "read 8>8"}));
    for (const VdevLogRecord& r : Requests(log, REQ_STATUS))
        EXPECT_EQ(std::vector<uint8_t>(r.data, r.data + 12), Block(1, REQ_STATUS, 1, 0, 8));
    EXPECT_TRUE(buffer == memory);
    EXPECT_EQ(count, desc.length);
    EXPECT_GE(elapsed, 5 * 10.0 - 2) << "a 10 ms sleep before each of the 5 polls";
    EXPECT_LT(elapsed, 5000.0) << "no delay sleep";
}

TEST_F(PolledWaits, ErrorBitWinsOverActiveBit)
{
    ASSERT_TRUE(device.HoldActive(5));
    ASSERT_TRUE(device.ErrorAtPoll(2));
    TransferDesc desc = Desc(0, 64);
    uint8_t buffer[64];
    uint32_t count = 0xDEAD;

    EXPECT_EQ(uXferRead(&desc, buffer, &count), RESULT_IO_FAILED);

    std::vector<VdevLogRecord> log = Log();
    EXPECT_EQ(Trace(log), Repeat("ctl A2", 2));
    EXPECT_EQ(log.back().data[12] & (STATUS_ACTIVE | STATUS_ERROR), STATUS_ACTIVE | STATUS_ERROR);
    EXPECT_EQ(count, 0xDEADu);
}

TEST_F(PolledWaits, ErrorAfterTheCommandStopsBeforeTheData)
{
    ASSERT_TRUE(device.ErrorAtPoll(2));
    TransferDesc desc = Desc(0, 64);
    uint8_t buffer[64];
    uint32_t count = 0xDEAD;

    EXPECT_EQ(uXferWrite(&desc, buffer, &count), RESULT_IO_FAILED);

    EXPECT_EQ(Trace(Log()), (std::vector<std::string>{"ctl A2", "ctl A1", "ctl A2"}));
    EXPECT_EQ(count, 0xDEADu);
}

TEST_F(PolledWaits, FailingStatusQueryEndsTheWait)
{
    TransferDesc desc = Desc(0, 64);
    uint8_t buffer[64];
    uint32_t count = 0xDEAD;

    ASSERT_TRUE(device.FailControl(1, REQ_STATUS));
    EXPECT_EQ(uXferRead(&desc, buffer, &count), RESULT_IO_FAILED);
    ASSERT_TRUE(device.FailControl(2, REQ_STATUS));
    EXPECT_EQ(uXferVerify(&desc, buffer), RESULT_IO_FAILED);

    EXPECT_EQ(Trace(Log()), (std::vector<std::string>{"ctl A2 failed", "ctl A2", "ctl AA", "ctl A2 failed"}));
    EXPECT_EQ(count, 0xDEADu);
}

TEST_F(PolledWaits, ClosedConnectionSendsNothing)
{
    uClose();
    ASSERT_TRUE(device.Reset());
    TransferDesc desc = Desc(0, 64);
    uint8_t buffer[64];
    uint32_t count = 0xDEAD;

    EXPECT_EQ(uDebugWriteCmd(&desc, buffer, &count), RESULT_IO_FAILED);
    EXPECT_TRUE(Trace(Log(), true).empty());
}

TEST_F(PolledWaits, GiveUpOnADeviceThatStaysBusy)
{
    ASSERT_TRUE(device.HoldActive(kPollLimit + 10));
    TransferDesc desc = Desc(0, 64);
    uint8_t buffer[64];
    uint32_t count = 0xDEAD;

    EXPECT_EQ(uDebugWriteCmd(&desc, buffer, &count), RESULT_IO_FAILED);

    EXPECT_EQ(Trace(Log()), Repeat("ctl A2", kPollLimit));
    EXPECT_EQ(count, 0xDEADu);
}

}  // namespace
