// What processes share through the library, its load and unload, and the
// waits of a Windows generation that polls the device (run in a child
// program that Wine reports as Windows XP).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "transfer/xfer_support.h"

namespace {

using XferProcesses = XferTest;

constexpr char kPeer[] = "uxfer_peer.exe";
constexpr char kXpProgram[] = "uxfer_xp_waits.exe";

TEST_F(XferProcesses, DelaySetHereGovernsTheWaitsOfAnother)
{
    uSetDelay(250);
    CommandResult run = RunProgram(kPeer, "time");
    ASSERT_TRUE(run.finished);
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    // One sleep before the command and one after it.
    EXPECT_GE(std::atof(run.output.c_str()), 490.0) << run.output;
}

TEST_F(XferProcesses, DelaySetElsewhereGovernsTheWaitsHere)
{
    CommandResult run = RunProgram(kPeer, "delay 250");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    ASSERT_EQ(uCreate(OPEN_ALL), RESULT_OK);
    TransferDesc desc = {};
    uint32_t count = 0;

    Stopwatch clock;
    ASSERT_EQ(uDebugWriteCmd(&desc, nullptr, &count), RESULT_OK);
    EXPECT_GE(clock.Ms(), 490.0);
}

TEST_F(XferProcesses, InstanceSetElsewhereAppliesHere)
{
    CommandResult run = RunProgram(kPeer, "instance 1");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(uCreate(OPEN_ALL), RESULT_OPEN_FAILED);
    uSetInstance(0);
    EXPECT_EQ(uCreate(OPEN_ALL), RESULT_OK);
}

// The slot is shared, the registration is not: another process clears the
// slot but can't withdraw a registration made here.
TEST_F(XferProcesses, NotificationSlotClearedElsewhereWithoutHarm)
{
    ASSERT_TRUE(ListenForDeviceChanges(device));
    ProgressWindow window;
    ASSERT_EQ(uRegDevNotify(window.Handle()), 1u);

    CommandResult run = RunProgram(kPeer, "unregister");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(uUnRegDevNotify(), 0u);

    ExtraInstance arriving;
    ASSERT_GE(arriving.Number(), 0);
    EXPECT_TRUE(window.WaitArrival(5000)) << "the window here is still registered";
}

// A registration left in the slot by a process that has ended is emptied
// here, never withdrawn: its handle means nothing in this process.
TEST_F(XferProcesses, NotificationSlotOfAnEndedProcessIsOnlyEmptied)
{
    CommandResult run = RunProgram(kPeer, "register");
    ASSERT_TRUE(run.finished);
    ASSERT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_EQ(uUnRegDevNotify(), 0u);
    EXPECT_EQ(uUnRegDevNotify(), 0u);

    ProgressWindow window;
    ASSERT_EQ(uRegDevNotify(window.Handle()), 1u);
    EXPECT_NE(uUnRegDevNotify(), 0u);
}

TEST_F(XferProcesses, LoadBuildsTheConnectionAndUnloadClosesIt)
{
    CommandResult run = RunProgram(kPeer, "lifecycle");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(run.output, "|\\nCUsb()|\\nuCreate()|\\n~CUsb()");
    EXPECT_EQ(Trace(Log(), true), (std::vector<std::string>{"open control", "open PIPE1", "open PIPE0",
                                                            "close control", "close PIPE0", "close PIPE1"}));
}

// Wine reports the Windows version of a program from its per-program key.
class ProgramVersion {
public:
    ProgramVersion(const char* exeName, const char* version) : path_(std::string(kAppDefaults) + exeName)
    {
        ok_ = RegSetKeyValueA(HKEY_CURRENT_USER, path_.c_str(), "Version", REG_SZ, version,
                              static_cast<DWORD>(std::strlen(version) + 1)) == ERROR_SUCCESS;
    }
    ~ProgramVersion() { RegDeleteKeyA(HKEY_CURRENT_USER, path_.c_str()); }
    ProgramVersion(const ProgramVersion&) = delete;
    ProgramVersion& operator=(const ProgramVersion&) = delete;
    bool Ok() const { return ok_; }

private:
    static constexpr char kAppDefaults[] = "Software\\Wine\\AppDefaults\\";
    std::string path_;
    bool ok_ = false;
};

TEST(XferGeneration5, WaitsPollTheDevice)
{
    ProgramVersion xp(kXpProgram, "winxp");
    ASSERT_TRUE(xp.Ok());
    CommandResult run = RunProgram(kXpProgram, "");
    ASSERT_TRUE(run.finished);
    std::fputs(run.output.c_str(), stdout);
    EXPECT_EQ(run.exitCode, 0u);
}

}  // namespace
