// Two uxfer processes at once, each on its own instance: the instance index is
// shared by every process of the library, so each must still reach its own device.
#include <gtest/gtest.h>

#include "common/device_log.h"
#include "uxfer_run.h"

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

TEST_F(InstancesTest, TwoReadsAtOnceEachGetTheirOwnDevicesData)
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

    // The first read is held in its device while the second one runs from start to end.
    ASSERT_TRUE(device.PendRead(1));
    UxferProcess a, b;
    ASSERT_TRUE(a.Start("read " + Quoted(File("a.bin")) + " --size 200K --instance 0"));
    VdevInfo info{};
    for (int i = 0; i < 1200 && device.Info(info) && !info.readPending; ++i)
        Sleep(50);
    ASSERT_TRUE(info.readPending);
    ASSERT_TRUE(b.Start("read " + Quoted(File("b.bin")) + " --size 200K --instance 1"));
    UxferResult rb = b.Wait();
    EXPECT_EQ(0u, rb.exitCode) << rb.err;
    EXPECT_EQ(DumpOf(other), ReadAll(File("b.bin")));
    EXPECT_FALSE(dumptest::Exists(File("a.bin"))) << "the first read is still held";

    ASSERT_TRUE(device.ReleaseRead());
    UxferResult ra = a.Wait();
    EXPECT_EQ(0u, ra.exitCode) << ra.err;
    EXPECT_EQ(DumpOf(first), ReadAll(File("a.bin")));
}

}  // namespace
