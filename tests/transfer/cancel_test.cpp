// Cancelling a running transfer: from another thread while a chunk is held
// in the device or before the first chunk, from the progress window between
// chunks, and with no device for the cancel connection.
#include <thread>

#include "transfer/xfer_support.h"
#include "usb_protocol.h"

namespace {

const std::vector<std::string> kCancelConnection = {"\nCUsb()", "\n~CUsb()"};

// A read of `length` bytes on its own thread.
class BackgroundRead {
public:
    explicit BackgroundRead(uint32_t length) : desc_(Desc(0, length)), buffer_(length)
    {
        thread_ = std::thread([this] { result_ = uXferRead(&desc_, buffer_.data(), &count_); });
    }
    ~BackgroundRead() { Join(); }
    BackgroundRead(const BackgroundRead&) = delete;
    BackgroundRead& operator=(const BackgroundRead&) = delete;
    void Join()
    {
        if (thread_.joinable())
            thread_.join();
    }
    uint32_t Result() const { return result_; }
    uint32_t Count() const { return count_; }

private:
    TransferDesc desc_;
    std::vector<uint8_t> buffer_;
    uint32_t result_ = 0xDEAD;
    uint32_t count_ = 0xDEAD;
    std::thread thread_;
};

class XferCancel : public XferOpenTest {
protected:

    bool WaitFor(bool (*condition)(vdev::Device&))
    {
        for (Stopwatch clock; clock.Ms() < 5000; Sleep(2))
            if (condition(device))
                return true;
        return false;
    }
};

bool ReadIsHeld(vdev::Device& device)
{
    VdevInfo info;
    return device.Info(info) && info.readPending;
}

bool ReadCommandTaken(vdev::Device& device)
{
    return !Requests(device.Log(), REQ_READ).empty();
}

TEST_F(XferCancel, ReleasesAChunkHeldInTheDevice)
{
    ASSERT_TRUE(device.PendRead(2));
    BackgroundRead read(3 * 65536);
    ASSERT_TRUE(WaitFor(ReadIsHeld));
    DebugTexts texts;

    EXPECT_EQ(uSetCancel(2), RESULT_OK);
    read.Join();

    EXPECT_EQ(read.Result(), RESULT_OK);
    EXPECT_EQ(read.Count(), 65536u);
    std::vector<VdevLogRecord> log = Log();
    EXPECT_EQ(Trace(log), (std::vector<std::string>{"ctl A0", "read 65536>65536", "ctl A3", "reset 2",
                                                    "read 65536>0 failed", "ctl A3", "reset 2", "read 64>0"}));
    for (const VdevLogRecord& r : log)
        if (r.type == VDEV_LOG_RESET) {
            EXPECT_EQ(r.b, 1u) << "the first reset drops the held read";
            break;
        }
    EXPECT_EQ(texts.Take(), kCancelConnection);
}

TEST_F(XferCancel, BeforeTheFirstChunk)
{
    // Long enough a wait after the command for the cancel to land in it.
    uSetDelay(600);
    BackgroundRead read(3 * 65536);
    ASSERT_TRUE(WaitFor(ReadCommandTaken));

    EXPECT_EQ(uSetCancel(2), RESULT_OK);
    read.Join();

    EXPECT_EQ(read.Result(), RESULT_OK);
    EXPECT_EQ(read.Count(), 0u);
    EXPECT_EQ(Trace(Log()), (std::vector<std::string>{"ctl A0", "ctl A3", "reset 2", "ctl A3", "reset 2",
                                                      "read 64>0"}));
}

TEST_F(XferCancel, WithoutDeviceStillStopsTheTransfer)
{
    ASSERT_TRUE(device.PendRead(1));
    BackgroundRead read(3 * 65536);
    ASSERT_TRUE(WaitFor(ReadIsHeld));

    uSetInstance(1);  // no such instance: the cancel connection can't open
    EXPECT_EQ(uSetCancel(2), RESULT_OPEN_FAILED);
    uSetInstance(0);
    ASSERT_TRUE(device.ReleaseRead());
    read.Join();

    EXPECT_EQ(read.Result(), RESULT_OK);
    EXPECT_EQ(read.Count(), 65536u);
    EXPECT_EQ(Trace(Log(), true),
              (std::vector<std::string>{"ctl A0", "read 65536>65536", "ctl A3", "reset 2", "read 64>0"}));
}

TEST_F(XferCancel, WithNoDeviceAtAllOpensNothing)
{
    ASSERT_TRUE(device.SetPlugged(false));
    ASSERT_TRUE(vdev::WaitInterfaces(vdev::kDefaultClass, 0, 5000));
    DebugTexts texts;

    EXPECT_EQ(uSetCancel(2), RESULT_OPEN_FAILED);

    EXPECT_EQ(texts.Take(),
              (std::vector<std::string>{"\nCUsb()", "\nSetupDiEnumDeviceInterfaces() failed!\n", "\n~CUsb()"}));
    EXPECT_TRUE(Trace(Log(), true).empty());
}

struct WindowCancel {
    static void Hook(void* self) { static_cast<WindowCancel*>(self)->result = uSetCancel(2); }
    uint32_t result = 0xDEAD;
};

TEST_F(XferCancel, FromTheProgressWindowBetweenChunks)
{
    ProgressWindow window;
    WindowCancel cancel;
    window.OnProgress(WindowCancel::Hook, &cancel);
    uSetMsgWnd(window.Handle());
    uSetMsgFlag(1);
    TransferDesc desc = Desc(0, 3 * 65536);
    std::vector<uint8_t> buffer(desc.length);
    uint32_t count = 0;

    EXPECT_EQ(uXferRead(&desc, buffer.data(), &count), RESULT_OK);
    EXPECT_EQ(count, 65536u);
    EXPECT_EQ(uXferWrite(&desc, buffer.data(), &count), RESULT_OK);
    EXPECT_EQ(count, 65536u);

    EXPECT_EQ(cancel.result, RESULT_OK);
    EXPECT_EQ(window.Progress(), (std::vector<uint32_t>{65536, 65536}));
    EXPECT_EQ(Trace(Log()), (std::vector<std::string>{"ctl A0", "read 65536>65536", "ctl A3", "reset 2", "ctl A3",
                                                      "reset 2", "read 64>0", "ctl A1", "write 65536>65536", "ctl A3",
                                                      "reset 2", "ctl A3", "reset 2", "write 0>0"}));
}

TEST_F(XferCancel, FailedResetAfterACancelIsAFailure)
{
    ProgressWindow window;
    struct FailNextReset {
        static void Hook(void* self)
        {
            auto* me = static_cast<FailNextReset*>(self);
            me->cancelled = uSetCancel(2);
            me->device->FailControl(1, REQ_RESET);
        }
        vdev::Device* device;
        uint32_t cancelled;
    } hook{&device, 0xDEAD};
    window.OnProgress(FailNextReset::Hook, &hook);
    uSetMsgWnd(window.Handle());
    uSetMsgFlag(1);
    TransferDesc desc = Desc(0, 2 * 65536);
    std::vector<uint8_t> buffer(desc.length);
    uint32_t count = 0;

    EXPECT_EQ(uXferRead(&desc, buffer.data(), &count), RESULT_IO_FAILED);

    EXPECT_EQ(hook.cancelled, RESULT_OK);
    EXPECT_EQ(count, 65536u);
    EXPECT_EQ(Trace(Log()),
              (std::vector<std::string>{"ctl A0", "read 65536>65536", "ctl A3", "reset 2", "ctl A3 failed"}));
}

}  // namespace
