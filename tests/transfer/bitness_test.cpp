// 32-bit and 64-bit clients on one 64-bit Windows: the two builds of uXfer.dll
// reach the same device instance, and each keeps its shared section to the
// processes of its own bitness.  Built into both test programs; each runs the
// peer program of the other bitness (32-bit programs in bin\, 64-bit ones in
// bin\x64\).  Needs a 64-bit Windows.
#include <cstdlib>

#include "transfer/xfer_support.h"

namespace {

#ifdef _WIN64
constexpr char kOtherPeer[] = "..\\uxfer_peer.exe";
#else
constexpr char kOtherPeer[] = "x64\\uxfer_peer.exe";
#endif

// On a machine that runs no 32-bit code there is no other bitness to meet.
class XferBitness : public XferTest {
protected:
    void SetUp() override
    {
        const std::string why = Why32BitProgramsDontRun();
        if (!why.empty())
            GTEST_SKIP() << "needs a 32-bit program: " << why;
        XferTest::SetUp();
    }
};

TEST_F(XferBitness, ClientsOfBothBitnessesRoundTripOnOneInstance)
{
    constexpr uint32_t kAddress = 0x20000;
    constexpr uint32_t kSize = 3 * XFER_CHUNK + 256;
    CommandResult run = RunProgram(kOtherPeer, "roundtrip 0x20000 " + std::to_string(kSize) + " 7");
    ASSERT_TRUE(run.finished);
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    std::vector<uint8_t> memory(kSize);
    ASSERT_TRUE(device.ReadMemory(kAddress, memory.data(), kSize));
    EXPECT_TRUE(memory == Pattern(kSize, 7)) << "the other client wrote elsewhere";

    ASSERT_EQ(uCreate(OPEN_ALL), RESULT_OK);
    const TransferDesc desc = Desc(kAddress, kSize);
    std::vector<uint8_t> theirs(kSize), ours = Pattern(kSize, 9), back(kSize);
    uint32_t count = 0;
    ASSERT_EQ(uXferRead(&desc, theirs.data(), &count), RESULT_OK);
    EXPECT_EQ(count, kSize);
    EXPECT_TRUE(theirs == Pattern(kSize, 7));
    ASSERT_EQ(uXferWrite(&desc, ours.data(), &count), RESULT_OK);
    EXPECT_EQ(count, kSize);
    ASSERT_EQ(uXferRead(&desc, back.data(), &count), RESULT_OK);
    EXPECT_EQ(count, kSize);
    EXPECT_TRUE(back == ours);
}

// The shared section is one per image: the other bitness's DLL starts with its
// own delay and instance whatever this one sets.
TEST_F(XferBitness, SharedSettingsStayWithOneBitness)
{
    uSetInstance(1);   // there is no instance 1: a process that saw it could not open
    uSetDelay(30000);  // a process that saw it would sleep 30 s twice around a command
    CommandResult run = RunProgram(kOtherPeer, "time", 50000);
    ASSERT_TRUE(run.finished) << "the other bitness waited with the delay set here";
    EXPECT_EQ(run.exitCode, 0u) << "4: the other bitness opened the instance set here\n" << run.output;
    EXPECT_LT(std::atof(run.output.c_str()), 30000.0) << run.output;
    uSetInstance(0);
}

}  // namespace
