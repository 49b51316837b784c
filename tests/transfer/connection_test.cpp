// Opening and closing the connection: flags, handles, instances, interface
// classes and the debug texts of each step.
#include <algorithm>
#include <cstring>

#include "common/import_patch.h"
#include "transfer/xfer_support.h"
#include "usb_protocol.h"

namespace {

using XferConnection = XferTest;

const std::vector<std::string> kOpenAll = {"open control", "open PIPE1", "open PIPE0"};
const std::vector<std::string> kCloseAll = {"close control", "close PIPE0", "close PIPE1"};

std::string OpenedPath(const VdevLogRecord& record)
{
    return std::string(reinterpret_cast<const char*>(record.data), record.dataLen);
}

bool SamePath(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && _strnicmp(a.c_str(), b.c_str(), a.size()) == 0;
}

TEST_F(XferConnection, OpensControlPathThenWritePipeThenReadPipe)
{
    VdevInfo info;
    ASSERT_TRUE(device.Info(info));
    DebugTexts texts;

    ASSERT_EQ(uCreate(0xFF), RESULT_OK);  // only the low three bits count

    std::vector<VdevLogRecord> log = Log();
    ASSERT_EQ(Trace(log, true), kOpenAll);
    const std::string path = info.interfacePath;
    EXPECT_TRUE(SamePath(OpenedPath(log[0]), path)) << OpenedPath(log[0]);
    EXPECT_TRUE(SamePath(OpenedPath(log[1]), path + "\\PIPE1")) << OpenedPath(log[1]);
    EXPECT_TRUE(SamePath(OpenedPath(log[2]), path + "\\PIPE0")) << OpenedPath(log[2]);
    EXPECT_EQ(texts.Take(), (std::vector<std::string>{"\nuCreate()"}));

    ASSERT_TRUE(device.Reset());
    EXPECT_EQ(uClose(), 1u);
    EXPECT_EQ(Trace(Log(), true), kCloseAll);
    EXPECT_EQ(texts.Take(), (std::vector<std::string>{"\n~uClose()"}));
}

TEST_F(XferConnection, OpensEachHandleForItsDirectionWithReadAndWriteSharing)
{
    ASSERT_EQ(uCreate(OPEN_ALL), RESULT_OK);
    const std::vector<VdevLogRecord> log = Log();
    ASSERT_EQ(Trace(log, true), kOpenAll);
    const uint32_t access[3] = {GENERIC_READ | GENERIC_WRITE, GENERIC_WRITE, GENERIC_READ};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(log[i].a, access[i]) << "desired access, " << Trace(log, true)[i];
        EXPECT_EQ(log[i].b, static_cast<uint32_t>(FILE_SHARE_READ | FILE_SHARE_WRITE)) << "share mode, "
                                                                                     << Trace(log, true)[i];
    }
}

// The write pipe opened by an open that failed later is not used: the last
// successful open did not ask for it.
TEST_F(XferConnection, PipeOfAFailedOpenIsNeverUsed)
{
    ASSERT_EQ(uCreate(OPEN_CONTROL), RESULT_OK);
    ASSERT_TRUE(device.Reset());
    ASSERT_TRUE(device.FailOpen(1, VDEV_PIPE_IN));
    EXPECT_EQ(uCreate(OPEN_ALL), RESULT_OPEN_FAILED);
    EXPECT_EQ(Trace(Log(), true),
              (std::vector<std::string>{"close control", "open control", "open PIPE1", "open PIPE0 failed"}));

    ASSERT_TRUE(device.Reset());
    TransferDesc desc = Desc(0, 64);
    uint8_t buffer[64] = {};
    uint32_t count = 0;
    EXPECT_EQ(uDebugWriteCmd(&desc, buffer, &count), RESULT_IO_FAILED);
    EXPECT_EQ(uXferWrite(&desc, buffer, &count), RESULT_IO_FAILED);
    EXPECT_EQ(count, 0u);
    // Commands go out on the control handle; nothing reaches the open write pipe.
    EXPECT_EQ(Trace(Log()), (std::vector<std::string>{"ctl AA", "ctl A1", "ctl A3", "reset 2"}));

    ASSERT_TRUE(device.Reset());
    EXPECT_EQ(uClose(), 1u);
    EXPECT_EQ(Trace(Log(), true), (std::vector<std::string>{"close control", "close PIPE1"}));
}

// Control handle open, \PIPE1 refused: the open fails and keeps the control
// handle, and the flags of the last successful open stay in force.
TEST_F(XferConnection, FailedWritePipeOpenKeepsTheControlHandle)
{
    ASSERT_EQ(uCreate(OPEN_CONTROL | OPEN_READ), RESULT_OK);
    ASSERT_TRUE(device.Reset());
    ASSERT_TRUE(device.FailOpen(1, VDEV_PIPE_OUT));
    EXPECT_EQ(uCreate(OPEN_ALL), RESULT_OPEN_FAILED);
    EXPECT_EQ(Trace(Log(), true), (std::vector<std::string>{"close control", "close PIPE0", "open control",
                                                            "open PIPE1 failed"}));

    ASSERT_TRUE(device.Reset());
    uint8_t status[8] = {};
    uint32_t returned = 0;
    EXPECT_EQ(uGetStatus(status, &returned), RESULT_OK) << "the control handle is open";
    TransferDesc desc = Desc(0, 64);
    uint8_t buffer[64] = {};
    uint32_t count = 0;
    EXPECT_EQ(uDebugReadCmd(&desc, buffer, &count), RESULT_IO_FAILED) << "the read pipe was closed";
    EXPECT_EQ(Trace(Log()), (std::vector<std::string>{"ctl A2", "ctl AA"}));

    ASSERT_TRUE(device.Reset());
    EXPECT_EQ(uClose(), UINT32_MAX) << "no write pipe";
    EXPECT_EQ(Trace(Log(), true), (std::vector<std::string>{"close control"}));
}

TEST_F(XferConnection, CloseReportsTheWritePipe)
{
    EXPECT_EQ(uClose(), UINT32_MAX);  // nothing open

    ASSERT_EQ(uCreate(OPEN_ALL), RESULT_OK);
    EXPECT_EQ(uClose(), 1u);
    EXPECT_EQ(uClose(), UINT32_MAX);

    ASSERT_EQ(uCreate(OPEN_CONTROL | OPEN_READ), RESULT_OK);
    ASSERT_TRUE(device.Reset());
    EXPECT_EQ(uClose(), UINT32_MAX);  // no write pipe, though the others close
    EXPECT_EQ(Trace(Log(), true), (std::vector<std::string>{"close control", "close PIPE0"}));
}

// An open with no flags costs the pause on top of finding the device: each
// round times it against an open of a missing instance, which only enumerates.
TEST_F(XferConnection, NoFlagsOpensNothingAfterThePause)
{
    std::vector<double> pauses;
    for (int round = 0; round < 5; ++round) {
        uSetInstance(1);
        Stopwatch enumeration;
        ASSERT_EQ(uCreate(0), RESULT_OPEN_FAILED);
        const double enumerationMs = enumeration.Ms();
        uSetInstance(0);
        Stopwatch open;
        ASSERT_EQ(uCreate(0), RESULT_OK);
        const double openMs = open.Ms();
        EXPECT_GE(openMs, 45.0);
        pauses.push_back(openMs - enumerationMs);
    }
    std::sort(pauses.begin(), pauses.end());
    EXPECT_GE(pauses[2], 40.0) << "median of what an open adds to the enumeration, ms";

    TransferDesc desc = Desc(0, 64);
    uint8_t buffer[64];
    uint32_t count = 0;
    EXPECT_EQ(uDebugReadCmd(&desc, buffer, &count), RESULT_IO_FAILED);
    EXPECT_EQ(uDebugWriteCmd(&desc, buffer, &count), RESULT_IO_FAILED);
    EXPECT_EQ(uClose(), UINT32_MAX);
    EXPECT_TRUE(Trace(Log(), true).empty());
}

TEST_F(XferConnection, PartialOpensGiveOnlyTheirPipes)
{
    TransferDesc desc = Desc(0, 64);
    uint8_t buffer[64] = {};
    uint32_t count = 0;

    ASSERT_EQ(uCreate(OPEN_CONTROL | OPEN_READ), RESULT_OK);
    EXPECT_EQ(Trace(Log(), true), (std::vector<std::string>{"open control", "open PIPE0"}));
    ASSERT_TRUE(device.Reset());
    EXPECT_EQ(uXferRead(&desc, buffer, &count), RESULT_OK);
    EXPECT_EQ(uDebugWriteCmd(&desc, buffer, &count), RESULT_IO_FAILED);
    EXPECT_EQ(Trace(Log()), (std::vector<std::string>{"ctl A0", "read 64>64", "ctl AA"}));

    // Reopening closes everything first; the read pipe that was open is gone.
    ASSERT_TRUE(device.Reset());
    ASSERT_EQ(uCreate(OPEN_CONTROL | OPEN_WRITE), RESULT_OK);
    EXPECT_EQ(Trace(Log(), true), (std::vector<std::string>{"close control", "close PIPE0", "open control",
                                                            "open PIPE1"}));
    ASSERT_TRUE(device.Reset());
    EXPECT_EQ(uDebugReadCmd(&desc, buffer, &count), RESULT_IO_FAILED);
    EXPECT_EQ(uDebugWriteCmd(&desc, buffer, &count), RESULT_OK);
    EXPECT_EQ(Trace(Log()), (std::vector<std::string>{"ctl AA", "ctl AA", "write 64>64"}));
}

// ReadFile and WriteFile as uXfer.dll calls them, counted and passed on.
LONG readFileCalls = 0;
LONG writeFileCalls = 0;
decltype(&ReadFile) realReadFile = nullptr;
decltype(&WriteFile) realWriteFile = nullptr;

BOOL WINAPI CountedReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD moved, LPOVERLAPPED overlapped)
{
    InterlockedIncrement(&readFileCalls);
    return realReadFile(file, buffer, size, moved, overlapped);
}

BOOL WINAPI CountedWriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD moved, LPOVERLAPPED overlapped)
{
    InterlockedIncrement(&writeFileCalls);
    return realWriteFile(file, buffer, size, moved, overlapped);
}

// Counts the pipe calls of uXfer.dll for the life of the object.
class PipeCallCounter {
public:
    PipeCallCounter()
        : read_(GetModuleHandleA("uXfer.dll"), "kernel32.dll", "ReadFile", reinterpret_cast<void*>(&CountedReadFile)),
          write_(GetModuleHandleA("uXfer.dll"), "kernel32.dll", "WriteFile",
                 reinterpret_cast<void*>(&CountedWriteFile))
    {
        realReadFile = reinterpret_cast<decltype(&ReadFile)>(read_.Original());
        realWriteFile = reinterpret_cast<decltype(&WriteFile)>(write_.Original());
        readFileCalls = 0;
        writeFileCalls = 0;
    }
    bool Applied() const { return read_.Applied() && write_.Applied(); }

private:
    ImportPatch read_;
    ImportPatch write_;
};

// A pipe left out of the open flags is never handed to the system, not even
// for the drain after a failed chunk: its handle is invalid, and a call on it
// would fail the same way without ever reaching the device.
TEST_F(XferConnection, PipesLeftOutOfTheFlagsMakeNoSystemCall)
{
    const PipeCallCounter counter;
    ASSERT_TRUE(counter.Applied());
    TransferDesc desc = Desc(0, 64);  // a whole packet, so a failed chunk drains the pipe
    uint8_t buffer[64] = {};
    uint32_t count = 0;

    ASSERT_EQ(uCreate(OPEN_CONTROL | OPEN_WRITE), RESULT_OK);
    ASSERT_TRUE(device.Reset());
    EXPECT_EQ(uXferRead(&desc, buffer, &count), RESULT_IO_FAILED);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(uXferVerify(&desc, buffer), RESULT_IO_FAILED);
    EXPECT_EQ(uDebugReadCmd(&desc, buffer, &count), RESULT_IO_FAILED);
    EXPECT_EQ(readFileCalls, 0) << "no read pipe";
    // The failed read resets the device as after any failed chunk.
    EXPECT_EQ(Trace(Log()), (std::vector<std::string>{"ctl A0", "ctl A3", "reset 2", "ctl AA", "ctl AA"}));

    ASSERT_EQ(uCreate(OPEN_CONTROL | OPEN_READ), RESULT_OK);
    ASSERT_TRUE(device.Reset());
    EXPECT_EQ(uXferWrite(&desc, buffer, &count), RESULT_IO_FAILED);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(uDebugWriteCmd(&desc, buffer, &count), RESULT_IO_FAILED);
    EXPECT_EQ(writeFileCalls, 0) << "no write pipe";
    EXPECT_EQ(Trace(Log()), (std::vector<std::string>{"ctl A1", "ctl A3", "reset 2", "ctl AA"}));

    // With both pipes open the same calls reach the system.
    ASSERT_EQ(uCreate(OPEN_ALL), RESULT_OK);
    EXPECT_EQ(uXferRead(&desc, buffer, &count), RESULT_OK);
    EXPECT_EQ(uXferWrite(&desc, buffer, &count), RESULT_OK);
    EXPECT_EQ(readFileCalls, 1);
    EXPECT_EQ(writeFileCalls, 1);
}

TEST_F(XferConnection, MissingInstanceLeavesTheOpenConnection)
{
    ASSERT_EQ(uCreate(OPEN_ALL), RESULT_OK);
    ASSERT_TRUE(device.Reset());
    DebugTexts texts;

    EXPECT_EQ(uSetInstance(1), 1u);
    EXPECT_EQ(uCreate(OPEN_ALL), RESULT_OPEN_FAILED);

    EXPECT_EQ(texts.Take(), (std::vector<std::string>{"\nuCreate()", "\nSetupDiEnumDeviceInterfaces() failed!\n"}));
    TransferDesc desc = Desc(0, 8);
    uint8_t buffer[8];
    uint32_t count = 0;
    EXPECT_EQ(uXferRead(&desc, buffer, &count), RESULT_OK);
    EXPECT_EQ(Trace(Log(), true), (std::vector<std::string>{"ctl A0", "read 8>8"}));
}

TEST_F(XferConnection, InstanceIndexPicksTheDevice)
{
    EXPECT_EQ(uEnumeInstances(), 1u);
    ExtraInstance extra;
    ASSERT_GE(extra.Number(), 0);
    ASSERT_TRUE(vdev::WaitInterfaces(vdev::kDefaultClass, 2, 5000));
    vdev::Device second;
    ASSERT_TRUE(second.Open(static_cast<unsigned>(extra.Number())));
    ASSERT_TRUE(second.Reset());
    ASSERT_TRUE(device.Reset());

    EXPECT_EQ(uEnumeInstances(), 2u);
    uSetInstance(1);
    ASSERT_EQ(uCreate(OPEN_ALL), RESULT_OK);

    EXPECT_EQ(Trace(second.Log(), true), kOpenAll);
    EXPECT_TRUE(Trace(device.Log(), true).empty());
    uClose();
}

TEST_F(XferConnection, CountsOnlyPresentInterfaces)
{
    ASSERT_TRUE(device.SetPlugged(false));
    ASSERT_TRUE(vdev::WaitInterfaces(vdev::kDefaultClass, 0, 5000));

    EXPECT_EQ(uEnumeInstances(), 0u);
    EXPECT_EQ(uCreate(OPEN_ALL), RESULT_OPEN_FAILED);

    ASSERT_TRUE(device.SetPlugged(true));
    ASSERT_TRUE(vdev::WaitInterfaces(vdev::kDefaultClass, 1, 5000));
    EXPECT_EQ(uEnumeInstances(), 1u);
}

TEST_F(XferConnection, LoaderVersionResults)
{
    EXPECT_EQ(uSetKVVersion(272), 0u);
    EXPECT_EQ(uSetKVVersion(288), 0u);
    EXPECT_EQ(uSetKVVersion(304), 0u);
    EXPECT_EQ(static_cast<int32_t>(uSetKVVersion(300)), -4);
    EXPECT_EQ(static_cast<int32_t>(uSetKVVersion(0)), -304);
}

// Puts the device's interface under another class for the length of a test.
class ClassSwitch {
public:
    ClassSwitch(vdev::Device& device, const GUID& cls) : device_(device)
    {
        ok_ = device_.SetClass(cls) && vdev::WaitInterfaces(cls, 1, 5000);
    }
    ~ClassSwitch()
    {
        device_.SetClass(vdev::kDefaultClass);
        vdev::WaitInterfaces(vdev::kDefaultClass, 1, 5000);
    }
    ClassSwitch(const ClassSwitch&) = delete;
    ClassSwitch& operator=(const ClassSwitch&) = delete;
    bool Ok() const { return ok_; }

private:
    vdev::Device& device_;
    bool ok_;
};

TEST_F(XferConnection, LoaderVersionSelectsTheInterfaceClass)
{
    ClassSwitch v2(device, vdev::kClassV2);
    ASSERT_TRUE(v2.Ok());
    EXPECT_EQ(uEnumeInstances(), 0u);

    ASSERT_EQ(uSetKVVersion(272), 0u);
    EXPECT_EQ(uEnumeInstances(), 1u);
    ASSERT_TRUE(device.Reset());
    EXPECT_EQ(uCreate(OPEN_ALL), RESULT_OK);
    EXPECT_EQ(Trace(Log(), true), kOpenAll);

    // Unknown versions keep the selection; the cancel connection looks for
    // the class selected, so its reset reaches the device opened.
    EXPECT_NE(uSetKVVersion(300), 0u);
    EXPECT_EQ(uEnumeInstances(), 1u);
    ASSERT_TRUE(device.Reset());
    EXPECT_EQ(uSetCancel(2), RESULT_OK);
    const std::vector<std::string> trace = Trace(Log());
    EXPECT_NE(std::find(trace.begin(), trace.end(), "reset 2"), trace.end());

    // The open connection keeps its handles when the class changes.
    EXPECT_EQ(uSetKVVersion(288), 0u);
    EXPECT_EQ(uEnumeInstances(), 0u);
    EXPECT_EQ(uClose(), 1u);
}

}  // namespace
