// The two-phase ready wait, the completion wait, their failures, and the
// cancelled flag with its check points.
#include <thread>

#include "comserver/talvix_support.h"

namespace {

class TalvixWaits : public TalvixTest {
protected:
    void SetUp() override
    {
        TalvixTest::SetUp();
        if (HasFatalFailure())
            return;
        control = OpenControl();
        in = OpenIn();
        out = OpenOut();
    }

    ULONG ReadCmd(ITVXDevice* object, uint32_t byteCount = 0)
    {
        ParamRecord param = MakeParam(byteCount, 0);
        VARIANT controlCarrier = Carry(&control), paramCarrier = Carry(&param);
        ULONG status = 0xDEAD;
        EXPECT_EQ(object->BulkReadCmd(&controlCarrier, &paramCarrier, &status), S_OK);
        return status;
    }
    ULONG WriteCmd(ITVXDevice* object)
    {
        ParamRecord param = MakeParam(0, 0);
        VARIANT controlCarrier = Carry(&control), paramCarrier = Carry(&param);
        ULONG status = 0xDEAD;
        EXPECT_EQ(object->BulkWriteCmd(&controlCarrier, &paramCarrier, &status), S_OK);
        return status;
    }
    ULONG Reset(ITVXDevice* object)
    {
        ParamRecord param = MakeParam(0, 2);
        VARIANT controlCarrier = Carry(&control), paramCarrier = Carry(&param);
        ULONG status = 0xDEAD;
        EXPECT_EQ(object->ResetOrCancel(&controlCarrier, &paramCarrier, &status), S_OK);
        return status;
    }
    ULONG ResRead(ITVXDevice* object, ULONG* moved)
    {
        CmdRecord cmd = MakeCmd(sizeof buffer, buffer, 0);
        VARIANT inCarrier = Carry(&in), cmdCarrier = Carry(&cmd);
        ULONG status = 0xDEAD;
        EXPECT_EQ(object->ResCmdToRead(&inCarrier, &cmdCarrier, moved, &status), S_OK);
        return status;
    }
    ULONG ResWrite(ITVXDevice* object, ULONG* moved)
    {
        CmdRecord cmd = MakeCmd(sizeof buffer, buffer, 0);
        VARIANT outCarrier = Carry(&out), cmdCarrier = Carry(&cmd);
        ULONG status = 0xDEAD;
        EXPECT_EQ(object->ResCmdToWrite(&outCarrier, &cmdCarrier, moved, &status), S_OK);
        return status;
    }

    DeviceRecord control{}, in{}, out{};
    uint8_t buffer[8] = {};
};

// The pauses the server asks for, in order, through its own Sleep import;
// each still sleeps.
std::vector<DWORD> sleeps;
void* realSleep = nullptr;
void WINAPI RecordingSleep(DWORD ms)
{
    sleeps.push_back(ms);
    reinterpret_cast<decltype(&Sleep)>(realSleep)(ms);
}

class SleepRecorder {
public:
    explicit SleepRecorder(HMODULE module)
        : patch_(module, "kernel32.dll", "Sleep", reinterpret_cast<void*>(&RecordingSleep))
    {
        sleeps.clear();
        realSleep = patch_.Original();
    }
    bool Applied() const { return patch_.Applied(); }
    DWORD Total() const
    {
        DWORD total = 0;
        for (DWORD ms : sleeps)
            total += ms;
        return total;
    }

private:
    ImportPatch patch_;
};

// Time taken against the pauses asked for: never less, and not much more
// (a loaded machine may add a great deal, so the upper bound is generous,
// but a pause many times too long still shows).
void ExpectTimeOfPauses(DWORD elapsed, DWORD paused)
{
    EXPECT_GE(elapsed + 20, paused) << "pauses of " << paused << " ms took " << elapsed;
    EXPECT_LE(elapsed, paused + 2000) << "pauses of " << paused << " ms took " << elapsed;
}

TEST_F(TalvixWaits, PendingDriverKeepsPhaseOnePollingEvery5Ms)
{
    ASSERT_TRUE(device.HoldPending(3));
    const uint32_t mark = Mark();
    SleepRecorder recorder(server.Module());
    ASSERT_TRUE(recorder.Applied());
    const DWORD start = GetTickCount();
    EXPECT_EQ(ReadCmd(tvx.Get()), 0u);
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(ControlTrace(LogSince(mark)), "DDDDSRS");
    EXPECT_EQ(sleeps, (std::vector<DWORD>{5, 5, 5, 5, 50, 5}));
    ExpectTimeOfPauses(elapsed, recorder.Total());
}

TEST_F(TalvixWaits, ActiveDeviceKeepsPhaseTwoPollingEvery50Ms)
{
    ASSERT_TRUE(device.HoldActive(4));
    const uint32_t mark = Mark();
    SleepRecorder recorder(server.Module());
    ASSERT_TRUE(recorder.Applied());
    const DWORD start = GetTickCount();
    EXPECT_EQ(ReadCmd(tvx.Get()), 0u);
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(ControlTrace(LogSince(mark)), "DSSSSSRS");
    EXPECT_EQ(sleeps, (std::vector<DWORD>{5, 50, 50, 50, 50, 50, 5}));
    ExpectTimeOfPauses(elapsed, recorder.Total());
}

// One command on an idle device: 5 ms before the driver-state query, 50 ms
// before the idle poll, 5 ms before the poll that sees the command taken.
TEST_F(TalvixWaits, OneCommandPausesForEachPoll)
{
    ParamRecord param = MakeParam(0, 0);
    VARIANT controlCarrier = Carry(&control), paramCarrier = Carry(&param);
    ULONG status = 0xDEAD;
    const uint32_t mark = Mark();
    SleepRecorder recorder(server.Module());
    ASSERT_TRUE(recorder.Applied());
    const DWORD start = GetTickCount();
    EXPECT_EQ(tvx->BulkWriteCmd(&controlCarrier, &paramCarrier, &status), S_OK);
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(ControlTrace(LogSince(mark)), "DSWS");
    EXPECT_EQ(sleeps, (std::vector<DWORD>{5, 50, 5}));
    ExpectTimeOfPauses(elapsed, recorder.Total());
}

TEST_F(TalvixWaits, BothPhasesHeldInTurn)
{
    ASSERT_TRUE(device.HoldPending(2));
    ASSERT_TRUE(device.HoldActive(2));
    const uint32_t mark = Mark();
    ULONG moved = 0;
    EXPECT_EQ(ResWrite(tvx.Get(), &moved), 0u);
    EXPECT_EQ(ControlTrace(LogSince(mark)), "DDDSSSGS");
}

TEST_F(TalvixWaits, FailedDriverStateQueryEndsTheWait)
{
    ASSERT_TRUE(device.HoldPending(5));
    ASSERT_TRUE(device.FailDriverState(3));
    const uint32_t mark = Mark();
    EXPECT_EQ(ReadCmd(tvx.Get()), R_DEVICE_ERROR);
    EXPECT_EQ(ControlTrace(LogSince(mark)), "DDD!");
}

TEST_F(TalvixWaits, ErrorBitInTheReadyWaitStopsTheCommand)
{
    ASSERT_TRUE(device.HoldActive(5));
    ASSERT_TRUE(device.ErrorAtPoll(3));  // active and error together: the error counts
    const uint32_t mark = Mark();
    EXPECT_EQ(ReadCmd(tvx.Get()), R_DEVICE_ERROR);
    EXPECT_EQ(ControlTrace(LogSince(mark)), "DSSS");
}

TEST_F(TalvixWaits, ErrorBitInTheCompletionWaitEndsTheMethod)
{
    ASSERT_TRUE(device.ErrorAtPoll(2));
    const uint32_t mark = Mark();
    ULONG moved = 0xDEAD;
    EXPECT_EQ(ResRead(tvx.Get(), &moved), R_DEVICE_ERROR);
    EXPECT_EQ(moved, 0xDEADu);
    std::vector<VdevLogRecord> log = LogSince(mark);
    EXPECT_EQ(ControlTrace(log), "DSGS");
    EXPECT_EQ(log.back().type, VDEV_LOG_CONTROL) << "no data phase";
}

TEST_F(TalvixWaits, FailedStatusRequestInEitherWaitIsADeviceError)
{
    ASSERT_TRUE(device.FailControl(1, REQ_STATUS));
    uint32_t mark = Mark();
    EXPECT_EQ(WriteCmd(tvx.Get()), R_DEVICE_ERROR);
    EXPECT_EQ(ControlTrace(LogSince(mark)), "DS!");

    ASSERT_TRUE(device.FailControl(2, REQ_STATUS));
    mark = Mark();
    EXPECT_EQ(WriteCmd(tvx.Get()), R_DEVICE_ERROR);
    EXPECT_EQ(ControlTrace(LogSince(mark)), "DSWS!");
}

TEST_F(TalvixWaits, CancelledFlagSequence)
{
    uint32_t mark = Mark();
    EXPECT_EQ(Reset(tvx.Get()), 0u);
    EXPECT_EQ(ControlTrace(LogSince(mark)), "X");

    // Raised: the bulk commands still wait, then stop before their request.
    mark = Mark();
    EXPECT_EQ(ReadCmd(tvx.Get(), 16), R_CANCELLED);
    EXPECT_EQ(WriteCmd(tvx.Get()), R_CANCELLED);
    EXPECT_EQ(ControlTrace(LogSince(mark)), "DSDS");

    // ResCmdToRead does not look at the flag, and does not clear it.
    ULONG moved = 0;
    mark = Mark();
    EXPECT_EQ(ResRead(tvx.Get(), &moved), 0u);
    EXPECT_EQ(moved, sizeof buffer);
    EXPECT_EQ(ReadCmd(tvx.Get()), R_CANCELLED);
    EXPECT_EQ(ControlTrace(LogSince(mark)), "DSGSDS");

    // ResCmdToWrite clears it and goes ahead; the bulk commands work again.
    mark = Mark();
    EXPECT_EQ(ResWrite(tvx.Get(), &moved), 0u);
    EXPECT_EQ(ReadCmd(tvx.Get()), 0u);
    EXPECT_EQ(ControlTrace(LogSince(mark)), "DSGSDSRS");
}

TEST_F(TalvixWaits, FailingResetStillRaisesTheFlag)
{
    ASSERT_TRUE(device.FailControl(1, REQ_RESET));
    const uint32_t mark = Mark();
    EXPECT_EQ(Reset(tvx.Get()), R_IOCTL_FAILED);
    EXPECT_EQ(ReadCmd(tvx.Get()), R_CANCELLED);
    EXPECT_EQ(ControlTrace(LogSince(mark)), "X!DS");
}

TEST_F(TalvixWaits, TheFlagBelongsToOneObject)
{
    Ref<ITVXDevice> other(server.NewDevice());
    ASSERT_TRUE(other);
    EXPECT_EQ(Reset(tvx.Get()), 0u);
    EXPECT_EQ(ReadCmd(other.Get()), 0u);
    EXPECT_EQ(ReadCmd(tvx.Get()), R_CANCELLED);
}

// A reset from another thread takes effect at ResCmdToWrite's next check
// point: here the one after the ready wait, before the request goes out.
TEST_F(TalvixWaits, CancelDuringResCmdToWriteStopsItAtTheNextCheckPoint)
{
    ASSERT_TRUE(device.HoldActive(12));  // about 600 ms in the ready wait
    const uint32_t mark = Mark();
    ULONG moved = 0xDEAD, status = 0xDEAD;
    std::thread writer([&] { status = ResWrite(tvx.Get(), &moved); });
    // Once the writer polls the status it is past clearing the flag.
    VdevInfo info{};
    for (int i = 0; i < 200 && device.Info(info) && info.statusPolls == 0; ++i)
        Sleep(5);
    EXPECT_EQ(Reset(tvx.Get()), 0u);
    writer.join();

    EXPECT_EQ(status, R_CANCELLED);
    EXPECT_EQ(moved, 0xDEADu);
    std::string trace = ControlTrace(LogSince(mark));
    EXPECT_EQ(trace.find('G'), std::string::npos) << trace;
    EXPECT_NE(trace.find('X'), std::string::npos) << trace;
}

}  // namespace
