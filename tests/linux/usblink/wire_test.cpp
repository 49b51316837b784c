// The link against the device model served as a USB device (usbbed): what
// reaches the device for each operation, in uXfer's order, the stop after a
// failed or cancelled transfer, and the devices the link never touches.
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "usb_protocol.h"
#include "usbbed/usbbed.h"
#include "link_requests.h"
#include "usblink/bus.h"

using usblink::Code;

namespace {

constexpr uint32_t kAddress = 0x200;  // bytes; the device gets words
const usblink::Timeouts kTimeouts{2000, 5000, 200};

usblink::Request Memory(uint32_t length)
{
    return linux_tests::Memory(kAddress, length);
}

using linux_tests::Pattern;

// The log, a line a record: "status", a vendor request as "A0 value/index
// [stage words]" (its 12-byte block checked against uXfer's), "read 65536>65536",
// "write ...", "reset 2", "open"; " failed" or " cancelled" when it did not succeed.
std::vector<std::string> Trace(const std::vector<VdevLogRecord>& log)
{
    std::vector<std::string> lines;
    for (const VdevLogRecord& record : log) {
        std::string line;
        switch (record.type) {
        case VDEV_LOG_OPEN: line = "open"; break;
        case VDEV_LOG_RESET: line = "reset " + std::to_string(record.a); break;
        case VDEV_LOG_READ:
        case VDEV_LOG_WRITE:
            line = std::string(record.type == VDEV_LOG_READ ? "read " : "write ") + std::to_string(record.a) + ">" +
                   std::to_string(record.b);
            break;
        case VDEV_LOG_CONTROL: {
            VendorCommandBlock block;
            std::memcpy(&block, record.data, sizeof block);
            if (block.bRequest == REQ_STATUS) {
                line = "status";
                break;
            }
            VendorCommandBlock expected;
            VendorBlockInit(&expected, block.direction, block.bRequest, block.wValue, block.wIndex, block.wLength);
            char head[32];
            std::snprintf(head, sizeof head, "%02X %u/%u [", block.bRequest, block.wValue, block.wIndex);
            line = std::memcmp(&block, &expected, sizeof block) == 0 ? head : std::string("bad block ") + head;
            for (unsigned w = 0; w < block.wLength / 4u; ++w)
                line += (w ? " " : "") + std::to_string(StageGetWord(record.data + record.inLen, w));
            line += "]";
            break;
        }
        default: line = "type " + std::to_string(record.type);
        }
        if (record.type != VDEV_LOG_OPEN && record.type != VDEV_LOG_RESET && record.c != 0)
            line += record.c == static_cast<uint32_t>(0xC0000120) ? " cancelled" : " failed";
        lines.push_back(line);
    }
    return lines;
}

class LinkBed : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string problem;
        device = bed.Add(usbbed::kVendor, usbbed::kProduct, "1-2", VDEV_DEFAULT_MEMORY_BYTES, &problem);
        ASSERT_NE(device, nullptr) << problem;
        ids.ids = {usblink::UsbId{usbbed::kVendor, usbbed::kProduct}};
        usblink::Result result = usblink::Bus::Open(bus);
        ASSERT_TRUE(result.ok()) << result.detail;
    }

    std::unique_ptr<usblink::Link> OpenFirst(const usblink::Timeouts& timeouts = kTimeouts)
    {
        std::unique_ptr<usblink::Link> link;
        usblink::Selector first;
        const usblink::Result result = bus->OpenLink(ids, first, timeouts, link);
        EXPECT_TRUE(result.ok()) << result.detail;
        return link;
    }

    usblink::Result ReadInto(usblink::Link& link, uint32_t length, std::vector<uint8_t>& data, uint32_t& count)
    {
        data.assign(length, 0);
        return link.Read(Memory(length), [&](const usblink::Chunk& chunk) {
            std::copy(chunk.data, chunk.data + chunk.moved, data.begin() + chunk.offset);
            return true;
        }, count);
    }

    usblink::Result WriteFrom(usblink::Link& link, const std::vector<uint8_t>& data, uint32_t length, uint32_t& count)
    {
        return link.Write(Memory(length), [&](const usblink::Chunk& chunk) {
            std::copy(data.begin() + chunk.offset, data.begin() + chunk.offset + chunk.size, chunk.data);
            return true;
        }, count);
    }

    usbbed::Bed bed;
    usbbed::Device* device = nullptr;
    usblink::IdSet ids;
    std::unique_ptr<usblink::Bus> bus;
};

}  // namespace

// A write then a read of three chunks, the last short: each command between
// its idle and taken polls, then the chunks, as uXfer sends them.
TEST_F(LinkBed, WriteAndReadBackInChunks)
{
    std::unique_ptr<usblink::Link> link = OpenFirst();
    ASSERT_TRUE(link);
    const uint32_t length = 2 * usblink::kChunkBytes + 36;
    const std::vector<uint8_t> data = Pattern(length, 7);
    uint32_t count = 0;
    usblink::Result result = WriteFrom(*link, data, length, count);
    ASSERT_TRUE(result.ok()) << result.detail;
    EXPECT_EQ(count, length);

    std::vector<uint8_t> back;
    result = ReadInto(*link, length, back, count);
    ASSERT_TRUE(result.ok()) << result.detail;
    EXPECT_EQ(count, length);
    EXPECT_TRUE(back == data);
    std::vector<uint8_t> stored;
    ASSERT_TRUE(device->GetMemory(kAddress, length, stored));
    EXPECT_TRUE(stored == data);

    const std::string units = std::to_string(length / 4);
    EXPECT_EQ(Trace(device->Log()),
              (std::vector<std::string>{"open", "status", "A1 1/0 [0 0 256 " + units + "]", "status",
                                        "write 65536>65536", "write 65536>65536", "write 36>36", "status",
                                        "A0 1/0 [0 256 " + units + "]", "status", "read 65536>65536",
                                        "read 65536>65536", "read 36>36"}));
}

// A chunk that fails, or that the device holds past its timeout, ends the
// transfer with reset code 2, then a zero-length packet (write) or a drained
// packet (read) when the chunk filled its last packet.
TEST_F(LinkBed, StoppedTransferThenResetCode2)
{
    struct Case {
        const char* name;
        uint32_t knob;
        bool write;
        uint32_t length;
        Code code;
        const char* detail;
        std::vector<std::string> tail;  // the log after the command's polls
    };
    const uint32_t chunk = usblink::kChunkBytes;
    const Case cases[] = {
        {"failed read", VDEV_KNOB_FAIL_READ, false, 3 * chunk, Code::IoFailed,
         "reading the chunk at byte 65536: Input/Output Error",
         {"read 65536>65536", "read 65536>0 failed", "A3 1/2 []", "reset 2", "read 64>0"}},
        {"failed short last read", VDEV_KNOB_FAIL_READ, false, chunk + 36, Code::IoFailed,
         "reading the chunk at byte 65536: Input/Output Error",
         {"read 65536>65536", "read 36>0 failed", "A3 1/2 []", "reset 2"}},
        {"failed write", VDEV_KNOB_FAIL_WRITE, true, 2 * chunk, Code::IoFailed,
         "writing the chunk at byte 65536: Input/Output Error",
         {"write 65536>65536", "write 65536>0 failed", "A3 1/2 []", "reset 2", "write 0>0"}},
        {"read held past its timeout", VDEV_KNOB_PEND_READ, false, 3 * chunk, Code::Timeout,
         "reading the chunk at byte 65536: the device did not answer in time",
         {"read 65536>65536", "read 65536>0 cancelled", "A3 1/2 []", "reset 2", "read 64>0"}},
    };
    std::unique_ptr<usblink::Link> link = OpenFirst(usblink::Timeouts{2000, 100, 100});
    ASSERT_TRUE(link);
    const std::vector<uint8_t> data = Pattern(3 * chunk, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t first = device->Log().back().seq + 1;
        ASSERT_EQ(device->Knob(c.knob, 2), 0);
        uint32_t count = 0;
        std::vector<uint8_t> back;
        const usblink::Result result =
            c.write ? WriteFrom(*link, data, c.length, count) : ReadInto(*link, c.length, back, count);
        EXPECT_EQ(result.code, c.code);
        EXPECT_EQ(result.detail, c.detail);
        EXPECT_EQ(count, chunk);
        const std::string units = std::to_string(c.length / 4);
        std::vector<std::string> expected = {
            "status", c.write ? "A1 1/0 [0 0 256 " + units + "]" : "A0 1/0 [0 256 " + units + "]", "status"};
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(Trace(device->Log(first)), expected);
        ASSERT_EQ(device->Knob(c.knob, 0), 0);
    }
}

// Verify, status, reset and the debug commands as uXfer sends them.
TEST_F(LinkBed, CommandsAsUxferSendsThem)
{
    std::unique_ptr<usblink::Link> link = OpenFirst();
    ASSERT_TRUE(link);
    ASSERT_TRUE(device->SetMemory(kAddress, Pattern(16, 3)));
    uint8_t value[4] = {};
    usblink::Result result = link->Verify(Memory(16), value);
    ASSERT_TRUE(result.ok()) << result.detail;
    const VdevLogRecord answer = device->Log().back();
    ASSERT_EQ(answer.dataLen, 4u);
    EXPECT_EQ(std::vector<uint8_t>(value, value + 4), std::vector<uint8_t>(answer.data, answer.data + 4));

    uint8_t status[8];
    uint32_t count = 0;
    result = link->Status(status, count);
    EXPECT_TRUE(result.ok()) << result.detail;
    EXPECT_EQ(count, 8u);
    result = link->Reset(5);
    EXPECT_TRUE(result.ok()) << result.detail;

    const uint8_t command[12] = {0x05, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x05, 0x00, 0x00, 0x00, 0xFF, 0xFF};
    usblink::Request debug;
    debug.length = sizeof command;
    debug.cmdValue = 1;
    debug.cmdIndex = 1;
    result = link->DebugWrite(debug, command, count);
    EXPECT_TRUE(result.ok()) << result.detail;
    EXPECT_EQ(count, 12u);
    debug.length = 16;
    debug.cmdIndex = 2;
    uint8_t answered[16] = {};
    result = link->DebugRead(debug, answered, count);
    EXPECT_TRUE(result.ok()) << result.detail;
    EXPECT_EQ(count, 16u);
    EXPECT_EQ(answered[15], 15u);  // the model's debug bytes count up

    EXPECT_EQ(Trace(device->Log()),
              (std::vector<std::string>{"open", "status", "AA 1/0 [256 4]", "status", "read 4>4", "status",
                                        "A3 1/5 []", "reset 5", "status", "AA 1/1 [12]", "status", "write 12>12",
                                        "status", "AA 1/2 [16]", "status", "read 16>16"}));

    // A device that reports an error in a wait gets no command.
    const uint32_t first = device->Log().back().seq + 1;
    ASSERT_EQ(device->Knob(VDEV_KNOB_ERROR_AT_POLL, 1), 0);
    result = link->Verify(Memory(16), value);
    EXPECT_EQ(result.code, Code::IoFailed);
    EXPECT_EQ(result.detail, "the device reports an error (status byte 0x08)");
    EXPECT_EQ(Trace(device->Log(first)), std::vector<std::string>{"status"});
}

usblink::Link* signalledLink = nullptr;

void CancelOnSignal(int)
{
    signalledLink->Cancel();
}

// A read the device holds ends when another thread cancels, by a call or
// through a signal handler: the transfer is cancelled, reset code 2 follows;
// later calls are refused, sending nothing, until the cancel is cleared.
TEST_F(LinkBed, CancelOfAHeldRead)
{
    struct sigaction action = {};
    action.sa_handler = CancelOnSignal;
    action.sa_flags = SA_RESTART;
    struct sigaction before = {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &before), 0);
    const pthread_t reader = pthread_self();
    for (const bool bySignal : {false, true}) {
        SCOPED_TRACE(bySignal ? "by a signal" : "by a call");
        const uint32_t first = device->Log().empty() ? 0 : device->Log().back().seq + 1;
        std::unique_ptr<usblink::Link> link = OpenFirst();
        ASSERT_TRUE(link);
        signalledLink = link.get();
        ASSERT_EQ(device->Knob(VDEV_KNOB_PEND_READ, 1), 0);
        bool held = false;
        std::thread canceller([&] {
            // Bounded: the read is held within milliseconds, or the test fails.
            for (int i = 0; i < 5000 && !held; ++i) {
                held = device->ReadHeld();
                if (!held)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (bySignal)
                pthread_kill(reader, SIGUSR1);
            else
                link->Cancel();
        });
        std::vector<uint8_t> back;
        uint32_t count = 0;
        usblink::Result result = ReadInto(*link, 2 * usblink::kChunkBytes, back, count);
        canceller.join();
        EXPECT_TRUE(held);
        EXPECT_EQ(result.code, Code::Cancelled) << result.detail;
        EXPECT_EQ(count, 0u);
        const std::vector<std::string> cancelled = {"open", "status", "A0 1/0 [0 256 32768]", "status",
                                                    "read 65536>0 cancelled", "A3 1/2 []", "reset 2", "read 64>0"};
        EXPECT_EQ(Trace(device->Log(first)), cancelled);

        result = ReadInto(*link, 4, back, count);
        EXPECT_EQ(result.code, Code::Cancelled);
        EXPECT_EQ(result.detail, "cancelled before it started; nothing sent");
        EXPECT_EQ(Trace(device->Log(first)), cancelled);

        link->ClearCancel();
        result = ReadInto(*link, 4, back, count);
        EXPECT_TRUE(result.ok()) << result.detail;
    }
    sigaction(SIGUSR1, &before, nullptr);
}

// Listed by bus and port, selected among the used ones; another maker's device with this family's product
// id is listed as not used with the line that would enable it, and neither
// listing nor selecting it nor using the others sends it anything.
TEST_F(LinkBed, OrderAndNoRequestToAnotherMakersDevice)
{
    std::string problem;
    usbbed::Device* foreign = bed.AddForeign(0x1234, 0xCD02, "1-1", &problem);
    ASSERT_NE(foreign, nullptr) << problem;
    usbbed::Device* behindHub = bed.Add(usbbed::kVendor, usbbed::kProduct, "1-3.2", VDEV_DEFAULT_MEMORY_BYTES, &problem);
    ASSERT_NE(behindHub, nullptr) << problem;

    std::vector<usblink::DeviceInfo> devices;
    usblink::Result result = bus->List(ids, devices);
    ASSERT_TRUE(result.ok()) << result.detail;
    std::vector<std::string> listed;
    for (const usblink::DeviceInfo& info : devices)
        listed.push_back(usblink::PortPathText(info) + " " + usblink::IdText(info.id) + (info.used ? "" : " " + info.note));
    const std::string ours = usblink::IdText(usblink::UsbId{usbbed::kVendor, usbbed::kProduct});
    EXPECT_EQ(listed, (std::vector<std::string>{
                          "1-1 1234:cd02 its vendor id is not configured; to use it: uxfer usb add 1234:cd02",
                          "1-2 " + ours, "1-3.2 " + ours}));

    // Instance 1 is the second used device, whatever came between.
    usblink::Selector selector;
    ASSERT_TRUE(usblink::ParseSelector("1", selector));
    std::unique_ptr<usblink::Link> link;
    result = bus->OpenLink(ids, selector, kTimeouts, link);
    ASSERT_TRUE(result.ok()) << result.detail;
    EXPECT_EQ(link->Device().address, behindHub->Address());
    uint8_t status[8];
    uint32_t count = 0;
    result = link->Status(status, count);
    EXPECT_TRUE(result.ok()) << result.detail;
    EXPECT_EQ(count, 8u);
    EXPECT_EQ(Trace(behindHub->Log()), (std::vector<std::string>{"open", "status"}));
    EXPECT_TRUE(device->Log().empty());

    const std::pair<const char*, std::string> refused[] = {
        {"1-1", "the device at port 1-1 (1234:cd02) is not used: its vendor id is not configured; "
                "to use it: uxfer usb add 1234:cd02"},
        {"2", "no device at instance 2 (2 present)"},
        {"1-4", "no device at port 1-4"}};
    for (const auto& [text, problem] : refused) {
        ASSERT_TRUE(usblink::ParseSelector(text, selector));
        result = bus->OpenLink(ids, selector, kTimeouts, link);
        EXPECT_EQ(result.code, Code::OpenFailed);
        EXPECT_EQ(result.detail, problem);
    }
    EXPECT_TRUE(foreign->Requests().empty());
}
