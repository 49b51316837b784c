// Two uxfer processes on one device: the second waits for the first, says
// what it waits for, and either goes on once the device is free (the first
// ended or was killed) or gives up busy after its --timeout; device memory
// never holds a mix of the two.
#include <gtest/gtest.h>

#include "cli/uxfer_run.h"
#include "common/device_log.h"

using namespace dumptest;

namespace {

constexpr uint32_t kWords = 256 * 1024;

using DeviceLockTest = UxferTest;

// Until the program's standard error holds `part`, or it has ended.
bool WaitForError(UxferProcess& process, const std::string& part)
{
    for (int i = 0; i < 1200; ++i) {
        if (process.ErrorsSoFar().find(part) != std::string::npos)
            return true;
        Sleep(50);
    }
    return false;
}

struct HolderCase {
    const char* name;
    const char* timeout;  // of the second program
    bool kill;            // the holder is killed rather than let go on
    DWORD exitCode;       // of the second program
};

// A read held in the device keeps the first uxfer on it while a second one writes.
TEST_F(DeviceLockTest, ASecondProgramWaitsForTheHolder)
{
    const HolderCase cases[] = {
        {"the holder ends", "", false, 0},
        {"the holder is killed", "", true, 0},
        {"the holder stays past the timeout", " --timeout 1", false, 7},
    };
    for (const HolderCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(device.Reset());
        const std::vector<uint8_t> before = Pattern(2 * kWords, 11), mine = Pattern(kWords, 12);
        LoadWords(0, before);
        ASSERT_TRUE(WriteAll(File("in.bin"), mine));
        ASSERT_TRUE(device.PendRead(3));
        UxferProcess holder, second;
        ASSERT_TRUE(holder.Start("read " + Quoted(File("held.bin")) + " --size 256K --timeout 0"));
        VdevInfo info{};
        for (int i = 0; i < 1200 && device.Info(info) && !info.readPending; ++i)
            Sleep(50);
        ASSERT_TRUE(info.readPending) << "the first read never reached the held chunk";

        ASSERT_TRUE(second.Start("write " + Quoted(File("in.bin")) + c.timeout));
        const std::string sentence = "instance 0 is in use by uxfer.exe, process " + std::to_string(holder.Id());
        EXPECT_TRUE(WaitForError(second, "uxfer: " + sentence + "; waiting ")) << second.ErrorsSoFar();

        UxferResult first, w;
        if (c.kill) {
            const win::unique_handle process(OpenProcess(PROCESS_TERMINATE, FALSE, holder.Id()));
            ASSERT_TRUE(process && TerminateProcess(process.get(), 9));
            first = holder.Wait();
            w = second.Wait();
        } else if (c.exitCode) {
            w = second.Wait();
            ASSERT_TRUE(device.ReleaseRead());
            first = holder.Wait();
        } else {
            ASSERT_TRUE(device.ReleaseRead());
            first = holder.Wait();
            w = second.Wait();
        }
        ASSERT_TRUE(w.finished);
        EXPECT_EQ(c.exitCode, w.exitCode) << w.err;
        if (c.exitCode) {
            EXPECT_NE(std::string::npos, w.err.find("uxfer: " + sentence + "\n")) << w.err;
            EXPECT_EQ(before, DeviceBytes(0, 2 * kWords));
        } else {
            EXPECT_EQ(WireOf(mine), DeviceBytes(0, 2 * kWords));
        }
        if (!c.kill)
            EXPECT_EQ(0u, first.exitCode) << first.err;
    }
}

// Two writes at once: the device ends up holding one of them whole.
TEST_F(DeviceLockTest, TwoWritesAtOnceLeaveOneWholeInTheDevice)
{
    const std::vector<uint8_t> a = Pattern(2 * kWords, 21), b = Pattern(2 * kWords, 22);
    ASSERT_TRUE(WriteAll(File("a.bin"), a));
    ASSERT_TRUE(WriteAll(File("b.bin"), b));
    UxferProcess first, second;
    ASSERT_TRUE(first.Start("write " + Quoted(File("a.bin")) + " --raw"));
    ASSERT_TRUE(second.Start("write " + Quoted(File("b.bin")) + " --raw"));
    const UxferResult ra = first.Wait(), rb = second.Wait();
    EXPECT_EQ(0u, ra.exitCode) << ra.err;
    EXPECT_EQ(0u, rb.exitCode) << rb.err;
    const std::vector<uint8_t> memory = DeviceBytes(0, 2 * kWords);
    EXPECT_TRUE(memory == a || memory == b) << "device memory holds a mix of the two writes";
}

}  // namespace
