// The USB stack of this system as the link sees it: the configured devices
// and the family's devices of vendors not configured, and links to the used
// ones.  No request reaches a device that is not used: listing only reads
// descriptors the system keeps.
#pragma once

#include <memory>
#include <vector>

#include "usblink/devices.h"
#include "usblink/link.h"
#include "usblink/result.h"
#include "usblink/usb_ids.h"
#include "usblink/watch.h"

namespace usblink {

class Bus {
public:
    static Result Open(std::unique_ptr<Bus>& bus);
    ~Bus();
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    // The devices whose id is in `ids` and those with a family product id,
    // sorted (SortDevices); the ones not used carry a note.
    Result List(const IdSet& ids, std::vector<DeviceInfo>& devices);
    // Opens the selected used device and claims its interface.  OpenFailed
    // with one sentence when it can't be had: no such device, no permission
    // on its node (with the command that configures its id), in use.
    Result OpenLink(const IdSet& ids, const Selector& which, const Timeouts& timeouts, std::unique_ptr<Link>& link);
    // A watch of the devices List would list: with libusb's hotplug when
    // `wanted` is Hotplug and libusb has it, else by polling.
    Result StartWatch(const IdSet& ids, WatchMethod wanted, std::unique_ptr<Watch>& watch);

    struct Impl;

private:
    explicit Bus(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace usblink
