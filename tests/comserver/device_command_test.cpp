// What the device receives for every request of TVXDevice, byte for byte,
// and the data phases that follow on the pipes.
#include <atomic>
#include <thread>

#include "comserver/talvix_support.h"

namespace {

using TalvixCommands = TalvixTest;

std::vector<uint8_t> StatusRequest(uint16_t selector, const std::vector<uint8_t>& reply)
{
    return Concat(Block(1, REQ_STATUS, selector, 0, 8), reply);
}

TEST_F(TalvixCommands, BulkReadCmdAnnouncesUnitsAndTheDataFollowsOnPipe0)
{
    DeviceRecord control = OpenControl();
    DeviceRecord in = OpenIn();
    std::vector<uint8_t> memory = Pattern(64, 1);
    ASSERT_TRUE(device.LoadMemory(0, memory.data(), memory.size()));
    ParamRecord param = MakeParam(64, 0x1234, 0x7777);
    VARIANT controlCarrier = Carry(&control), paramCarrier = Carry(&param);
    const uint32_t mark = Mark();

    ULONG status = 0xDEAD;
    ASSERT_EQ(tvx->BulkReadCmd(&controlCarrier, &paramCarrier, &status), S_OK);
    EXPECT_EQ(status, 0u);

    std::vector<uint8_t> buffer(64);
    VARIANT inCarrier = Carry(&in), bufferCarrier = Carry(buffer.data());
    ULONG moved = 0xDEAD;
    ASSERT_EQ(tvx->BulkReadTransfer(&inCarrier, &bufferCarrier, 64, &moved, &status), S_OK);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(moved, 64u);
    EXPECT_EQ(buffer, memory);

    std::vector<VdevLogRecord> log = LogSince(mark);
    // Driver state, idle, the command, taken.
    EXPECT_EQ(ControlTrace(log), "DSRS");
    std::vector<VdevLogRecord> controls = Controls(log);
    ASSERT_EQ(controls.size(), 4u);
    EXPECT_EQ(controls[0].inLen, 0u);
    EXPECT_EQ(controls[0].b, 24u);
    EXPECT_EQ(Bytes(controls[1]), StatusRequest(1, {0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(controls[2]), Concat(Block(0, REQ_READ, 1, 0x1234, 12), Words({0, 0, 16})));
    EXPECT_EQ(controls[2].b, 12u);
    EXPECT_EQ(Bytes(controls[3]), StatusRequest(1, {STATUS_ACTIVE, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(log.back().type, VDEV_LOG_READ);
    EXPECT_EQ(log.back().a, 64u);
    EXPECT_EQ(log.back().b, 64u);
}

TEST_F(TalvixCommands, BulkWriteCmdAnnouncesUnitsAndTheDataFollowsOnPipe1)
{
    DeviceRecord control = OpenControl();
    DeviceRecord out = OpenOut();
    ParamRecord param = MakeParam(32, 0xFFFE);
    VARIANT controlCarrier = Carry(&control), paramCarrier = Carry(&param);
    const uint32_t mark = Mark();

    ULONG status = 0xDEAD;
    ASSERT_EQ(tvx->BulkWriteCmd(&controlCarrier, &paramCarrier, &status), S_OK);
    EXPECT_EQ(status, 0u);
    std::vector<uint8_t> data = Pattern(32, 2);
    VARIANT outCarrier = Carry(&out), dataCarrier = Carry(data.data());
    ULONG moved = 0xDEAD;
    ASSERT_EQ(tvx->BulkWriteTransfer(&outCarrier, &dataCarrier, 32, &moved, &status), S_OK);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(moved, 32u);

    std::vector<VdevLogRecord> log = LogSince(mark);
    EXPECT_EQ(ControlTrace(log), "DSWS");
    std::vector<VdevLogRecord> writes = Requests(log, REQ_WRITE);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(Bytes(writes[0]), Concat(Block(0, REQ_WRITE, 1, 0xFFFE, 16), Words({0, 0, 0, 8})));
    EXPECT_EQ(writes[0].b, 16u);
    std::vector<uint8_t> stored(32);
    ASSERT_TRUE(device.ReadMemory(0, stored.data(), stored.size()));
    EXPECT_EQ(stored, data);
}

// The unit count is the byte count divided by four, the rest dropped.
TEST_F(TalvixCommands, ByteCountsSevenAndThreeSendOneAndZeroUnits)
{
    DeviceRecord control = OpenControl();
    VARIANT controlCarrier = Carry(&control);
    struct Case {
        HRESULT (STDMETHODCALLTYPE ITVXDevice::*method)(VARIANT*, VARIANT*, ULONG*);
        uint8_t request;
        uint32_t byteCount;
        std::vector<uint8_t> stage;
    } cases[] = {
        {&ITVXDevice::BulkReadCmd, REQ_READ, 7, Words({0, 0, 1})},
        {&ITVXDevice::BulkReadCmd, REQ_READ, 3, Words({0, 0, 0})},
        {&ITVXDevice::BulkWriteCmd, REQ_WRITE, 7, Words({0, 0, 0, 1})},
        {&ITVXDevice::BulkWriteCmd, REQ_WRITE, 3, Words({0, 0, 0, 0})},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(device.Reset());  // no data phase left over from the last case
        ParamRecord param = MakeParam(c.byteCount, 9);
        VARIANT paramCarrier = Carry(&param);
        ULONG status = 0xDEAD;
        ASSERT_EQ((tvx.Get()->*c.method)(&controlCarrier, &paramCarrier, &status), S_OK);
        EXPECT_EQ(status, 0u);
        std::vector<VdevLogRecord> sent = Requests(Log(), c.request);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(Bytes(sent[0]),
                  Concat(Block(0, c.request, 1, 9, static_cast<uint16_t>(c.stage.size())), c.stage))
            << "byteCount " << c.byteCount;
    }
}

TEST_F(TalvixCommands, ResCmdToReadSendsTheLengthThenReadsOnTheSameHandle)
{
    DeviceRecord in = OpenIn();
    std::vector<uint8_t> debugIn = Pattern(16, 3);
    ASSERT_TRUE(device.SetDebugIn(debugIn.data(), debugIn.size()));
    std::vector<uint8_t> buffer(16);
    CmdRecord cmd = MakeCmd(16, buffer.data(), 0x4321);
    VARIANT inCarrier = Carry(&in), cmdCarrier = Carry(&cmd);
    const uint32_t mark = Mark();

    ULONG moved = 0xDEAD, status = 0xDEAD;
    ASSERT_EQ(tvx->ResCmdToRead(&inCarrier, &cmdCarrier, &moved, &status), S_OK);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(moved, 16u);
    EXPECT_EQ(buffer, debugIn);

    std::vector<VdevLogRecord> log = LogSince(mark);
    EXPECT_EQ(ControlTrace(log), "DSGS");
    std::vector<VdevLogRecord> debug = Requests(log, REQ_DEBUG);
    ASSERT_EQ(debug.size(), 1u);
    EXPECT_EQ(Bytes(debug[0]), Concat(Block(0, REQ_DEBUG, 1, 0x4321, 4), Words({16})));
    ASSERT_EQ(log.back().type, VDEV_LOG_READ);
    EXPECT_EQ(log.back().a, 16u);
}

TEST_F(TalvixCommands, ResCmdToWriteSendsTheLengthThenWritesOnTheSameHandle)
{
    DeviceRecord out = OpenOut();
    std::vector<uint8_t> data = Pattern(12, 4);
    CmdRecord cmd = MakeCmd(12, data.data(), 0x55AA);
    VARIANT outCarrier = Carry(&out), cmdCarrier = Carry(&cmd);
    const uint32_t mark = Mark();

    ULONG moved = 0xDEAD, status = 0xDEAD;
    ASSERT_EQ(tvx->ResCmdToWrite(&outCarrier, &cmdCarrier, &moved, &status), S_OK);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(moved, 12u);

    std::vector<VdevLogRecord> log = LogSince(mark);
    EXPECT_EQ(ControlTrace(log), "DSGS");
    std::vector<VdevLogRecord> debug = Requests(log, REQ_DEBUG);
    ASSERT_EQ(debug.size(), 1u);
    EXPECT_EQ(Bytes(debug[0]), Concat(Block(0, REQ_DEBUG, 1, 0x55AA, 4), Words({12})));
    ASSERT_EQ(log.back().type, VDEV_LOG_WRITE);
    EXPECT_EQ(std::vector<uint8_t>(log.back().data, log.back().data + 12), data);
}

TEST_F(TalvixCommands, GetDeviceStatusSendsTheSelectorWithoutWaiting)
{
    DeviceRecord control = OpenControl();
    const uint8_t tail[7] = {1, 2, 3, 4, 5, 6, 7};
    ASSERT_TRUE(device.SetStatusBytes(tail));
    ParamRecord param = MakeParam(0, 0x9999, 0x0203);
    uint8_t reply[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    VARIANT controlCarrier = Carry(&control), paramCarrier = Carry(&param), replyCarrier = Carry(reply);
    const uint32_t mark = Mark();

    ULONG returned = 0, status = 0xDEAD;
    ASSERT_EQ(tvx->GetDeviceStatus(&controlCarrier, &paramCarrier, &replyCarrier, &returned, &status), S_OK);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(returned, 8u);
    EXPECT_EQ(std::vector<uint8_t>(reply, reply + 8), (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7}));

    std::vector<VdevLogRecord> log = LogSince(mark);
    EXPECT_EQ(ControlTrace(log), "S");
    EXPECT_EQ(Bytes(Controls(log)[0]), StatusRequest(0x0203, {0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(TalvixCommands, ResetOrCancelSendsTheResetWithoutStageOrWait)
{
    DeviceRecord control = OpenControl();
    ParamRecord param = MakeParam(0x100, 2, 0x0303);
    VARIANT controlCarrier = Carry(&control), paramCarrier = Carry(&param);
    const uint32_t mark = Mark();

    ULONG status = 0xDEAD;
    ASSERT_EQ(tvx->ResetOrCancel(&controlCarrier, &paramCarrier, &status), S_OK);
    EXPECT_EQ(status, 0u);

    std::vector<VdevLogRecord> log = LogSince(mark);
    EXPECT_EQ(ControlTrace(log), "X");
    std::vector<VdevLogRecord> resets = Requests(log, REQ_RESET);
    ASSERT_EQ(resets.size(), 1u);
    EXPECT_EQ(Bytes(resets[0]), Block(1, REQ_RESET, 1, 2, 0));
    EXPECT_EQ(resets[0].b, 0u) << "no output buffer";
    ASSERT_EQ(log.back().type, VDEV_LOG_RESET);
    EXPECT_EQ(log.back().a, 2u);
}

TEST_F(TalvixCommands, CreateMethodsOpenThePathAndItsPipes)
{
    VdevInfo info{};
    ASSERT_TRUE(device.Info(info));
    const std::string path = info.interfacePath;
    const uint32_t mark = Mark();
    DeviceRecord control = OpenControl();
    DeviceRecord in = OpenIn();
    DeviceRecord out = OpenOut();
    for (const DeviceRecord* record : {&control, &in, &out})
        EXPECT_NE(record->handle, INVALID_HANDLE_VALUE);
    EXPECT_NE(control.handle, in.handle);
    EXPECT_NE(in.handle, out.handle);

    std::vector<std::pair<uint16_t, std::string>> opens;
    for (const auto& record : LogSince(mark))
        if (record.type == VDEV_LOG_OPEN)
            opens.emplace_back(record.pipe, std::string(reinterpret_cast<const char*>(record.data), record.dataLen));
    ASSERT_EQ(opens.size(), 3u);
    EXPECT_EQ(opens[0].first, VDEV_PIPE_CONTROL);
    EXPECT_EQ(opens[1].first, VDEV_PIPE_IN);
    EXPECT_EQ(opens[2].first, VDEV_PIPE_OUT);
    EXPECT_EQ(lstrcmpiA(opens[0].second.c_str(), path.c_str()), 0) << opens[0].second;
    EXPECT_EQ(lstrcmpiA(opens[1].second.c_str(), (path + "\\PIPE0").c_str()), 0) << opens[1].second;
    EXPECT_EQ(lstrcmpiA(opens[2].second.c_str(), (path + "\\PIPE1").c_str()), 0) << opens[2].second;
}

TEST_F(TalvixCommands, BulkTransfersAreOneCallEachWithoutWaits)
{
    DeviceRecord in = OpenIn();
    DeviceRecord out = OpenOut();
    uint8_t byte = 0;
    VARIANT inCarrier = Carry(&in), outCarrier = Carry(&out), bufferCarrier = Carry(&byte);
    const uint32_t mark = Mark();

    ULONG moved = 0xDEAD, status = 0xDEAD;
    ASSERT_EQ(tvx->BulkReadTransfer(&inCarrier, &bufferCarrier, 0, &moved, &status), S_OK);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(moved, 0u);
    ASSERT_TRUE(device.FailWrite(1));
    moved = 0xDEAD;
    ASSERT_EQ(tvx->BulkWriteTransfer(&outCarrier, &bufferCarrier, 1, &moved, &status), S_OK);
    EXPECT_EQ(status, R_IO_FAILED);
    ASSERT_TRUE(device.FailRead(1));
    ASSERT_EQ(tvx->BulkReadTransfer(&inCarrier, &bufferCarrier, 1, &moved, &status), S_OK);
    EXPECT_EQ(status, R_IO_FAILED);

    std::vector<VdevLogRecord> log = LogSince(mark);
    EXPECT_EQ(ControlTrace(log), "");
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].type, VDEV_LOG_READ);
    EXPECT_EQ(log[0].a, 0u);
    EXPECT_EQ(log[1].type, VDEV_LOG_WRITE);
    EXPECT_EQ(log[2].type, VDEV_LOG_READ);
}

// A refused command ends the method: no completion wait, no data phase, and
// the transferred count stays as it was.
TEST_F(TalvixCommands, FailedCommandRequestIsReportedAsIoctlFailure)
{
    DeviceRecord control = OpenControl();
    DeviceRecord in = OpenIn();
    ParamRecord param = MakeParam(16, 0);
    uint8_t buffer[16];
    CmdRecord cmd = MakeCmd(16, buffer, 0);
    VARIANT controlCarrier = Carry(&control), inCarrier = Carry(&in), paramCarrier = Carry(&param),
            cmdCarrier = Carry(&cmd);
    ULONG status = 0;

    ASSERT_TRUE(device.FailControl(1, REQ_READ));
    uint32_t mark = Mark();
    ASSERT_EQ(tvx->BulkReadCmd(&controlCarrier, &paramCarrier, &status), S_OK);
    EXPECT_EQ(status, R_IOCTL_FAILED);
    EXPECT_EQ(ControlTrace(LogSince(mark)), "DSR!");

    ASSERT_TRUE(device.FailControl(1, REQ_WRITE));
    mark = Mark();
    ASSERT_EQ(tvx->BulkWriteCmd(&controlCarrier, &paramCarrier, &status), S_OK);
    EXPECT_EQ(status, R_IOCTL_FAILED);
    EXPECT_EQ(ControlTrace(LogSince(mark)), "DSW!");

    ASSERT_TRUE(device.FailControl(1, REQ_DEBUG));
    mark = Mark();
    ULONG moved = 0xDEAD;
    ASSERT_EQ(tvx->ResCmdToRead(&inCarrier, &cmdCarrier, &moved, &status), S_OK);
    EXPECT_EQ(status, R_IOCTL_FAILED);
    EXPECT_EQ(moved, 0xDEADu);
    std::vector<VdevLogRecord> log = LogSince(mark);
    EXPECT_EQ(ControlTrace(log), "DSG!");
    EXPECT_EQ(log.back().type, VDEV_LOG_CONTROL) << "no pipe read after a refused command";

    ASSERT_TRUE(device.FailControl(1, REQ_STATUS));
    uint8_t reply[8] = {};
    VARIANT replyCarrier = Carry(reply);
    ASSERT_EQ(tvx->GetDeviceStatus(&controlCarrier, &paramCarrier, &replyCarrier, &moved, &status), S_OK);
    EXPECT_EQ(status, R_IOCTL_FAILED);
}

// Counts how many DeviceIoControl calls out of Talvix.dll are under way at once.
std::atomic<int> inFlight{0};
std::atomic<int> mostInFlight{0};
void* realDeviceIoControl = nullptr;

BOOL WINAPI CountingDeviceIoControl(HANDLE handle, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                                    DWORD* returned, OVERLAPPED* overlapped)
{
    int now = ++inFlight;
    int most = mostInFlight.load();
    while (now > most && !mostInFlight.compare_exchange_weak(most, now)) {
    }
    Sleep(2);  // long enough for another thread to come in if nothing stops it
    BOOL ok = reinterpret_cast<decltype(&DeviceIoControl)>(realDeviceIoControl)(handle, code, in, inSize, out,
                                                                                 outSize, returned, overlapped);
    --inFlight;
    return ok;
}

TEST_F(TalvixCommands, StatusRequestsOfTwoObjectsNeverOverlap)
{
    Ref<ITVXDevice> second(server.NewDevice());
    ASSERT_TRUE(second);
    DeviceRecord first = OpenControl();
    DeviceRecord other = OpenControl();
    ImportPatch patch(server.Module(), "kernel32.dll", "DeviceIoControl",
                      reinterpret_cast<void*>(&CountingDeviceIoControl));
    ASSERT_TRUE(patch.Applied());
    realDeviceIoControl = patch.Original();

    constexpr int kRequests = 25;
    auto poll = [](ITVXDevice* object, DeviceRecord* record, ULONG* failures) {
        ParamRecord param = MakeParam(0, 0, 1);
        uint8_t reply[8];
        VARIANT recordCarrier = Carry(record), paramCarrier = Carry(&param), replyCarrier = Carry(reply);
        for (int i = 0; i < kRequests; ++i) {
            ULONG returned = 0, status = 0;
            object->GetDeviceStatus(&recordCarrier, &paramCarrier, &replyCarrier, &returned, &status);
            if (status != 0)
                ++*failures;
        }
    };
    ULONG failuresA = 0, failuresB = 0;
    std::thread a(poll, tvx.Get(), &first, &failuresA);
    std::thread b(poll, second.Get(), &other, &failuresB);
    a.join();
    b.join();

    EXPECT_EQ(failuresA + failuresB, 0u);
    EXPECT_EQ(mostInFlight.load(), 1);
    EXPECT_EQ(Requests(Log(), REQ_STATUS).size(), 2u * kRequests);
}

}  // namespace
