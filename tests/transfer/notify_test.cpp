// Device-interface notifications registered through the library.
#include "xfer_support.h"

namespace {

using XferNotification = XferTest;

TEST_F(XferNotification, WindowReceivesTheArrivalOfTheSelectedClass)
{
    ProgressWindow window;
    EXPECT_EQ(uUnRegDevNotify(), 0u);  // nothing registered yet
    ASSERT_EQ(uRegDevNotify(window.Handle()), 1u);

    ExtraInstance arriving;
    ASSERT_GE(arriving.Number(), 0);

    ASSERT_TRUE(window.WaitArrival(5000));
    EXPECT_TRUE(IsEqualGUID(window.Arrivals()[0], vdev::kDefaultClass));
    EXPECT_NE(uUnRegDevNotify(), 0u);
    EXPECT_EQ(uUnRegDevNotify(), 0u);
}

TEST_F(XferNotification, RegistersForTheClassOfTheLoaderVersion)
{
    ProgressWindow window;
    ASSERT_EQ(uSetKVVersion(272), 0u);
    ASSERT_EQ(uRegDevNotify(window.Handle()), 1u);
    uSetKVVersion(304);  // changes nothing about the registration

    // The registration goes live a moment after the call returns (on a 64-bit
    // Wine the notification service takes it up on its own time): publish the
    // class again until the window has heard of it, within generous bounds.
    bool arrived = false;
    for (int attempt = 0; attempt < 10 && !arrived; ++attempt) {
        ASSERT_TRUE(device.SetClass(vdev::kClassV2));
        arrived = window.WaitArrival(2000);
        if (!arrived) {
            device.SetClass(vdev::kDefaultClass);
            vdev::WaitInterfaces(vdev::kDefaultClass, 1, 5000);
        }
    }
    device.SetClass(vdev::kDefaultClass);
    vdev::WaitInterfaces(vdev::kDefaultClass, 1, 5000);

    ASSERT_TRUE(arrived);
    for (const GUID& cls : window.Arrivals())
        EXPECT_TRUE(IsEqualGUID(cls, vdev::kClassV2));
    EXPECT_NE(uUnRegDevNotify(), 0u);
}

}  // namespace
