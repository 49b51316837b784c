// Two uxfer processes at once, each on its own instance: the instance index is
// shared by every process of the library, so each must still reach its own
// device, and no process waits for the lock that guards it without end.
#include <gtest/gtest.h>

#include "cli/uxfer_run.h"
#include "common/device_log.h"

using namespace dumptest;

namespace {

class InstancesTest : public UxferTest {
protected:
    void TearDown() override
    {
        second = vdev::Device();
        if (added > 0) {
            EXPECT_TRUE(vdev::RemoveInstance(added));
            EXPECT_TRUE(vdev::WaitInterfaces(vdev::kDefaultClass, 1, 10000));
        }
        UxferTest::TearDown();
    }
    int added = -1;
    vdev::Device second;
};

// The instance lock as every uxfer names it.
const wchar_t kInstanceLock[] = L"Global\\uXferInstanceSelect";

TEST_F(InstancesTest, TwoReadsContendingForTheInstanceLockEachGetTheirOwnDevicesData)
{
    added = vdev::AddInstance();
    ASSERT_GE(added, 1);
    ASSERT_TRUE(vdev::WaitInterfaces(vdev::kDefaultClass, 2, 10000));
    ASSERT_TRUE(second.Open(added));
    ASSERT_TRUE(second.Reset());
    // The second interface in enumeration order is instance 1 of the tool.
    const std::vector<uint8_t> first = Pattern(2 * 200 * 1024, 7), other = Pattern(2 * 200 * 1024, 8);
    ASSERT_TRUE(device.LoadMemory(0, first.data(), first.size()));
    ASSERT_TRUE(second.LoadMemory(0, other.data(), other.size()));

    // This process holds the lock, as a uxfer between selecting and opening
    // does: both reads start and must wait for it, touching no device.
    win::unique_handle lock(CreateMutexW(nullptr, FALSE, kInstanceLock));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(lock.get(), 0));
    // The first read, once it has the lock, is held in its device while the second one runs from start to end.
    ASSERT_TRUE(device.PendRead(1));
    UxferProcess a, b;
    ASSERT_TRUE(a.Start("read " + Quoted(File("a.bin")) + " --size 200K --instance 0"));
    ASSERT_TRUE(b.Start("read " + Quoted(File("b.bin")) + " --size 200K --instance 1"));
    Sleep(2000);
    EXPECT_TRUE(device.Log().empty()) << "a read went ahead without the lock: " << Dump(device.Log());
    EXPECT_TRUE(second.Log().empty()) << "a read went ahead without the lock: " << Dump(second.Log());
    ASSERT_TRUE(ReleaseMutex(lock.get()));

    UxferResult rb = b.Wait();
    EXPECT_EQ(0u, rb.exitCode) << rb.err;
    EXPECT_EQ(DumpOf(other), ReadAll(File("b.bin")));
    // The first read may still be on its way to the device when the second ends.
    VdevInfo info{};
    for (int i = 0; i < 200 && device.Info(info) && !info.readPending; ++i)
        Sleep(50);
    EXPECT_TRUE(info.readPending) << "the first read is still held";
    EXPECT_FALSE(dumptest::Exists(File("a.bin")));

    ASSERT_TRUE(device.ReleaseRead());
    UxferResult ra = a.Wait();
    EXPECT_EQ(0u, ra.exitCode) << ra.err;
    EXPECT_EQ(DumpOf(first), ReadAll(File("a.bin")));
}

TEST_F(InstancesTest, ALockHeldTooLongIsAnErrorNotAHang)
{
    win::unique_handle lock(CreateMutexW(nullptr, FALSE, kInstanceLock));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(lock.get(), 0));
    UxferResult status = RunUxfer("status");
    ReleaseMutex(lock.get());
    ASSERT_TRUE(status.finished);
    EXPECT_EQ(2u, status.exitCode) << status.err;
    EXPECT_NE(status.err.find("has held the instance lock"), std::string::npos) << status.err;
    EXPECT_TRUE(device.Log().empty()) << Dump(device.Log());
}

}  // namespace
