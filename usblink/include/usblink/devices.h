// The devices the link lists and selects, in a stable order: by bus, then by
// port path, which stays the same when a device is plugged into the same
// port again (its device address does not).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "usblink/usb_ids.h"

namespace usblink {

struct DeviceInfo {
    UsbId id;
    uint8_t bus = 0;
    std::vector<uint8_t> ports;  // from the root hub down
    uint8_t address = 0;
    // Its id is configured and its interface has one bulk IN and one bulk OUT
    // endpoint: the only devices the link sends requests to.
    bool used = false;
    // Why a listed device is not used, with what would change that.
    std::string note;
};

// "1-1.4": the bus, then the ports joined by dots.
std::string PortPathText(uint8_t bus, const std::vector<uint8_t>& ports);
std::string PortPathText(const DeviceInfo& device);
// The device's node, which its permissions guard: "/dev/bus/usb/001/002".
std::string NodePath(const DeviceInfo& device);

// By bus, then by port path (a hub before the devices behind it).
void SortDevices(std::vector<DeviceInfo>& devices);

// Which device: the N-th of the used ones in the order above, or the one at
// a port path.
struct Selector {
    bool byPort = false;
    uint32_t index = 0;
    uint8_t bus = 0;
    std::vector<uint8_t> ports;
};
// "N" (decimal) or "BUS-PORT[.PORT...]"; false for anything else.
bool ParseSelector(std::string_view text, Selector& selector);
std::string SelectorText(const Selector& selector);
// The position in `devices` (sorted) of the selected used device; -1 with
// `problem` saying why there is none.
int FindSelected(const std::vector<DeviceInfo>& devices, const Selector& selector, std::string& problem);

}  // namespace usblink
