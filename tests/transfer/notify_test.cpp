// Device-interface notifications registered through the library, and the
// registration slot that all processes share.
#include <cstring>

#include "transfer/xfer_support.h"

namespace {

class XferNotification : public XferTest {
protected:
    void SetUp() override
    {
        XferTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(ListenForDeviceChanges(device)) << "no device-change messages reach this process";
    }
};

// The 64-bit cells of uXfer.dll's shared section, as this process maps it,
// whose high half is this process's id.
std::vector<volatile LONGLONG*> CellsNamingThisProcess()
{
    std::vector<volatile LONGLONG*> cells;
    auto* image = reinterpret_cast<uint8_t*>(GetModuleHandleA("uXfer.dll"));
    if (!image)
        return cells;
    const auto* headers =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(image + reinterpret_cast<const IMAGE_DOS_HEADER*>(image)->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(headers);
    for (unsigned i = 0; i < headers->FileHeader.NumberOfSections; ++i, ++section) {
        if (std::strncmp(reinterpret_cast<const char*>(section->Name), "shared", IMAGE_SIZEOF_SHORT_NAME) != 0)
            continue;
        auto* first = reinterpret_cast<volatile LONGLONG*>(image + section->VirtualAddress);
        for (DWORD at = 0; at + 8 <= section->Misc.VirtualSize; at += 8) {
            volatile LONGLONG* cell = first + at / 8;
            if (static_cast<DWORD>(static_cast<uint64_t>(*cell) >> 32) == GetCurrentProcessId())
                cells.push_back(cell);
        }
    }
    return cells;
}

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

// A process that registered and ended may have had the id this one has now.
// Its slot names this process, but with a registration this one never made:
// the slot is emptied and nothing is withdrawn here.
TEST_F(XferNotification, SlotOfAnEndedProcessWithThisIdWithdrawsNothing)
{
    ProgressWindow window;
    ASSERT_TRUE(CellsNamingThisProcess().empty());
    ASSERT_EQ(uRegDevNotify(window.Handle()), 1u);
    const std::vector<volatile LONGLONG*> cells = CellsNamingThisProcess();
    ASSERT_EQ(cells.size(), 1u) << "the slot names the registering process";

    const LONGLONG mine = *cells[0];
    const LONGLONG earlier = mine ^ 0x80000000;  // a tag no process was given in this run
    ASSERT_EQ(InterlockedCompareExchange64(cells[0], earlier, mine), mine);
    EXPECT_EQ(uUnRegDevNotify(), 0u);
    EXPECT_EQ(*cells[0], 0) << "the slot is emptied";

    // The registration made here still delivers.
    ExtraInstance arriving;
    ASSERT_GE(arriving.Number(), 0);
    EXPECT_TRUE(window.WaitArrival(5000));
}

}  // namespace
