// The dump operations on the USB link against the device model served as a
// USB device (usbbed): the same operations, files and sentences as on the
// Windows link, from one source.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "ops/operation.h"
#include "ops/usb_link.h"
#include "usbbed/usbbed.h"
#include "usblink/bus.h"

namespace {

const ops::Names kNames{"--addr", "--size", "--pad", "--no-reset"};

std::vector<uint8_t> Pattern(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return bytes;
}

std::vector<uint8_t> FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The first byte of each word of device memory from word `addr`.
std::vector<uint8_t> DumpOf(usbbed::Device& device, uint32_t addr, uint32_t words)
{
    std::vector<uint8_t> wire;
    EXPECT_TRUE(device.GetMemory(addr * 2, words * 2, wire));
    std::vector<uint8_t> dump;
    for (uint32_t i = 0; i < words; ++i)
        dump.push_back(wire[2 * i]);
    return dump;
}

struct Context {
    ops::Operation& op;
    usbbed::Device& device;
    const std::string& folder;
};

ops::Error ReadFile(Context& c, uint32_t addr, uint32_t size)
{
    ops::DumpFile file("uxt");
    if (ops::Error error = file.Prepare(c.folder + "/out.bin", "out.bin"))
        return error;
    return c.op.Read(ops::Range{addr, size, 0}, file);
}

struct Case {
    const char* name;
    uint32_t knob, knobValue;  // 0: none
    int64_t timeoutSeconds;
    std::function<ops::Error(Context&)> run;
    ops::Kind kind;
    const char* sentence;  // what the error begins with
    std::function<void(Context&)> check;
};

const Case kCases[] = {
    {"ReadKeepsTheFirstByteOfEachWord", 0, 0, -1, [](Context& c) { return ReadFile(c, 0x100, 0x30001); },
     ops::Kind::None, "",
     [](Context& c) { EXPECT_EQ(FileBytes(c.folder + "/out.bin"), DumpOf(c.device, 0x100, 0x30001)); }},
    {"VerifiedWriteThenCompare", 0, 0, -1,
     [](Context& c) {
         const std::vector<uint8_t> bytes = Pattern(0x21000);
         auto source = ops::MemorySource(bytes.data(), bytes.size(), "in.bin");
         if (ops::Error error = c.op.Write(ops::Range{0x40, std::nullopt, 0}, *source, false, 0u))
             return error;
         source->Rewind();
         return c.op.Compare(ops::Range{0x40, std::nullopt, 0}, *source);
     },
     ops::Kind::None, "", [](Context& c) { EXPECT_EQ(DumpOf(c.device, 0x40, 0x21000), Pattern(0x21000)); }},
    {"CompareFindsTheFirstDifference", 0, 0, -1,
     [](Context& c) {
         std::vector<uint8_t> bytes = DumpOf(c.device, 0x40, 33);
         bytes[17] ^= 1;
         bytes[30] ^= 1;
         auto source = ops::MemorySource(bytes.data(), bytes.size(), "in.bin");
         return c.op.Compare(ops::Range{0x40, std::nullopt, 0}, *source);
     },
     ops::Kind::Mismatch, "comparison found 2 of 33 words different, the first at file offset 17, word address 0x51",
     nullptr},
    {"FailingWriteStopsWithWhatMoved", VDEV_KNOB_FAIL_WRITE, 3, -1,
     [](Context& c) {
         const std::vector<uint8_t> bytes = Pattern(0x40000);
         auto source = ops::MemorySource(bytes.data(), bytes.size(), "in.bin");
         return c.op.Write(ops::Range{0, std::nullopt, 0}, *source, false, std::nullopt);
     },
     ops::Kind::Device, "the write of 524288 wire bytes to instance 0 failed after 65536 bytes: RESULT_IO_FAILED",
     nullptr},
    {"ShortReadIsADeviceErrorAndLeavesNoFile", VDEV_KNOB_SHORT_READ, 2, -1,
     [](Context& c) { return ReadFile(c, 0, 0x20000); }, ops::Kind::Device,
     "the read of 262144 wire bytes from instance 0 moved only", [](Context& c) {
         EXPECT_NE(access((c.folder + "/out.bin").c_str(), F_OK), 0);
     }},
    {"HeldReadEndsAtTheTimeout", VDEV_KNOB_PEND_READ, 2, 1, [](Context& c) { return ReadFile(c, 0, 0x20000); },
     ops::Kind::Timeout,
     "no answer from the device in 1 s, so the transfer was stopped; try 'uxfer status' and 'uxfer reset', or a "
     "longer timeout (0: no limit)",
     nullptr},
    {"StatusAndVerifyValue", 0, 0, -1,
     [](Context& c) {
         uint8_t status[8];
         if (ops::Error error = c.op.Status(status))
             return error;
         uint8_t value[4];
         return c.op.Verify(ops::Range{0, 16, 0}, value);
     },
     ops::Kind::None, "", nullptr},
};

class OperationOnUsb : public ::testing::TestWithParam<Case> {};

TEST_P(OperationOnUsb, MeetsTheTable)
{
    const Case& c = GetParam();
    usbbed::Bed bed;
    std::string problem;
    usbbed::Device* device = bed.Add(usbbed::kVendor, usbbed::kProduct, "1-2", VDEV_DEFAULT_MEMORY_BYTES, &problem);
    ASSERT_NE(device, nullptr) << problem;
    ASSERT_TRUE(device->SetMemory(0, Pattern(0x80000)));
    if (c.knob) {
        ASSERT_EQ(device->Knob(c.knob, c.knobValue, 16), 0);
    }
    std::unique_ptr<usblink::Bus> bus;
    ASSERT_TRUE(usblink::Bus::Open(bus).ok());
    usblink::IdSet ids;
    ids.ids = {usblink::UsbId{usbbed::kVendor, usbbed::kProduct}};
    std::unique_ptr<usblink::Link> usb;
    // A chunk may wait as long as the call: its timeout is the call's.
    const usblink::Result opened = bus->OpenLink(ids, usblink::Selector{}, usblink::Timeouts{5000, 600000, 500}, usb);
    ASSERT_TRUE(opened.ok()) << opened.detail;

    char folder[] = "/tmp/uxfer-ops-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = folder;
    ops::Settings settings;
    settings.timeoutSeconds = c.timeoutSeconds;
    ops::Error error;
    {
        ops::UsbLink link(*usb);
        ops::Operation op(link, 0, settings, kNames);
        Context context{op, *device, path};
        error = c.run(context);
        EXPECT_EQ(error.kind, c.kind) << error.text;
        EXPECT_EQ(error.text.rfind(c.sentence, 0), 0u) << error.text;
        if (c.check)
            c.check(context);
    }
    std::remove((path + "/out.bin").c_str());
    rmdir(folder);
}

INSTANTIATE_TEST_SUITE_P(Table, OperationOnUsb, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
