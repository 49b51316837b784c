// Ctrl+C while a read is held in the device: the transfer stops at a chunk
// boundary, the old file survives, no temporary file is left, and the next
// read works.
#include <gtest/gtest.h>

#include "cli/uxfer_run.h"
#include "common/device_log.h"
#include "common/processes.h"
#include "uXfer.h"

using namespace dumptest;

namespace {

using CancelTest = UxferTest;

TEST_F(CancelTest, CtrlCStopsAHeldReadAtAChunkBoundary)
{
    const std::vector<uint8_t> old = {0xAB, 0xCD};
    ASSERT_TRUE(WriteAll(File("dump.bin"), old));
    LoadWords(0, Pattern(2 * 512 * 1024, 6));
    // Pipe reads: the reset command is a write; the 5th read is the 5th chunk of data.
    ASSERT_TRUE(device.PendRead(5));

    // A console of its own without a window: the control event needs one.
    UxferProcess read;
    ASSERT_TRUE(read.Start("read " + Quoted(File("dump.bin")) + " --size 512K", "", CREATE_NO_WINDOW));
    VdevInfo info{};
    for (int i = 0; i < 1200 && device.Info(info) && !info.readPending; ++i)
        Sleep(50);
    ASSERT_TRUE(info.readPending) << "the read never reached the held chunk";

    CommandResult press = RunProgram("cli_ctrl_c.exe", std::to_string(read.Id()), 60000);
    EXPECT_EQ(0u, press.exitCode) << "the console control event was not raised";
    UxferResult cancelled = read.Wait(120000);
    ASSERT_TRUE(cancelled.finished);
    EXPECT_EQ(130u, cancelled.exitCode) << cancelled.err;
    EXPECT_EQ("uxfer: cancelled\n", cancelled.err);
    EXPECT_EQ("", cancelled.out);
    EXPECT_EQ(old, ReadAll(File("dump.bin")));
    EXPECT_EQ(std::vector<std::string>{"dump.bin"}, ScratchFiles());

    // Four whole chunks moved, the fifth was dropped by the reset of the cancel,
    // and no read followed it.
    const auto log = device.Log();
    std::vector<PipeTransfer> reads;
    for (const auto& t : PipeTransfers(log))
        if (t.type == VDEV_LOG_READ)
            reads.push_back(t);
    ASSERT_GE(reads.size(), 5u) << Dump(log);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(65536u, reads[i].moved) << Dump(log);
    EXPECT_EQ(0u, reads[4].moved) << Dump(log);
    for (size_t i = 5; i < reads.size(); ++i)
        EXPECT_LT(reads[i].requested, 65536u) << "only the tail after a reset, no data chunk";
    unsigned resets = 0;
    for (const auto& r : log)
        resets += r.type == VDEV_LOG_RESET && r.a == 2;
    EXPECT_GE(resets, 1u) << Dump(log);

    // The next read works normally.
    UxferResult again = RunUxfer("read " + Quoted(File("dump.bin")) + " --size 512K");
    EXPECT_EQ(0u, again.exitCode) << again.err;
    EXPECT_EQ(DumpOf(Pattern(2 * 512 * 1024, 6)), ReadAll(File("dump.bin")));
}

}  // namespace

namespace {

TEST_F(CancelTest, ATimeoutStopsAHeldReadLikeCtrlC)
{
    const std::vector<uint8_t> old = {0xAB, 0xCD};
    ASSERT_TRUE(WriteAll(File("dump.bin"), old));
    LoadWords(0, Pattern(2 * 256 * 1024, 9));
    ASSERT_TRUE(device.PendRead(2));

    UxferResult timedOut = RunUxfer("read " + Quoted(File("dump.bin")) + " --size 256K --timeout 2");
    ASSERT_TRUE(timedOut.finished);
    EXPECT_EQ(3u, timedOut.exitCode) << timedOut.err;
    EXPECT_EQ(0u, timedOut.err.find("uxfer: no answer from the device in 2 s")) << timedOut.err;
    EXPECT_EQ(old, ReadAll(File("dump.bin")));
    EXPECT_EQ(std::vector<std::string>{"dump.bin"}, ScratchFiles());
    unsigned resets = 0;
    for (const auto& r : device.Log())
        resets += r.type == VDEV_LOG_RESET && r.a == 2 && r.b == 1;
    EXPECT_EQ(1u, resets) << "one reset, dropping the held read: " << Dump(device.Log());
}

}  // namespace

namespace {

// The timeout counts from the command's first request: one that ends while
// the reset command before the transfer runs stops the command there, and
// the read is never asked for.
TEST_F(CancelTest, TheTimeoutCoversTheResetCommandToo)
{
    uSetDelay(1500);  // the library's wait inside each request, shared by every process
    UxferResult timedOut = RunUxfer("read " + Quoted(File("dump.bin")) + " --size 4K --timeout 1");
    uSetDelay(0);
    ASSERT_TRUE(timedOut.finished);
    EXPECT_EQ(3u, timedOut.exitCode) << timedOut.err;
    EXPECT_EQ(0u, timedOut.err.find("uxfer: no answer from the device in 1 s")) << timedOut.err;
    EXPECT_FALSE(Requests(device.Log(), REQ_DEBUG).empty()) << Dump(device.Log());
    EXPECT_TRUE(Requests(device.Log(), REQ_READ).empty()) << Dump(device.Log());
    EXPECT_TRUE(ScratchFiles().empty());
}

}  // namespace
