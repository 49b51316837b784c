// The order of devices, port paths, and the selection by index or port.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "usblink/devices.h"

using usblink::DeviceInfo;
using usblink::Selector;

namespace {

DeviceInfo Device(uint8_t bus, std::vector<uint8_t> ports, uint8_t address, bool used)
{
    DeviceInfo device;
    device.id = usblink::UsbId{0x1234, 0xCD02};
    device.bus = bus;
    device.ports = std::move(ports);
    device.address = address;
    device.used = used;
    if (!used)
        device.note = "its vendor id is not configured";
    return device;
}

}  // namespace

TEST(Devices, OrderByBusThenPort)
{
    // As the system might enumerate them: by address, which a replug changes.
    std::vector<DeviceInfo> devices = {Device(2, {1}, 3, true),       Device(1, {2}, 9, true),
                                       Device(1, {1, 4}, 2, false),   Device(1, {1, 10}, 5, true),
                                       Device(1, {1, 4, 2}, 7, true), Device(1, {1}, 4, true)};
    usblink::SortDevices(devices);
    std::vector<std::string> order;
    for (const DeviceInfo& device : devices)
        order.push_back(usblink::PortPathText(device));
    EXPECT_EQ(order, (std::vector<std::string>{"1-1", "1-1.4", "1-1.4.2", "1-1.10", "1-2", "2-1"}));
    EXPECT_EQ(usblink::NodePath(devices[4]), "/dev/bus/usb/001/009");
}

TEST(Devices, Selectors)
{
    struct Case {
        const char* text;
        bool valid;
        const char* canonical;
    };
    const Case cases[] = {
        {"0", true, "instance 0"}, {"12", true, "instance 12"}, {"1-1", true, "port 1-1"},
        {"3-1.4.2", true, "port 3-1.4.2"}, {"", false, ""}, {"-1", false, ""}, {"1-", false, ""},
        {"1-1.", false, ""}, {"1-1..2", false, ""}, {"0-1", false, ""}, {"1-0", false, ""},
        {"256-1", false, ""}, {"1-1.256", false, ""}, {"x", false, ""}, {"1-a", false, ""},
        {"1234567890", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Selector selector;
        ASSERT_EQ(usblink::ParseSelector(c.text, selector), c.valid);
        if (c.valid) {
            EXPECT_EQ(usblink::SelectorText(selector), c.canonical);
        }
    }
}
