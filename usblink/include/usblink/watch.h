// The arrivals and removals of the devices the bus lists, for "uxfer watch".
// Like listing, watching sends no request to any device: it only reads the
// descriptors the system keeps.
#pragma once

#include <atomic>
#include <functional>

#include "usblink/devices.h"
#include "usblink/result.h"

namespace usblink {

enum class Change { Arrival, Removal };

struct DeviceChange {
    Change change;
    // As Bus::List lists it (used, or not with its note); a removed device as
    // it was listed when it arrived.
    DeviceInfo device;
};

using ChangeHandler = std::function<void(const DeviceChange&)>;

// Hotplug: libusb's own notifications.  Polling: the device list compared
// every half second, by bus, port path, address and id, so that a replug
// between two looks is still a removal and an arrival (it gets a new address).
enum class WatchMethod { Hotplug, Polling };

// Made by Bus::StartWatch, which takes the devices present then; they are not
// reported, as the Windows edition's watch reports only changes.
class Watch {
public:
    virtual ~Watch() = default;
    virtual WatchMethod Method() const = 0;
    // Reports each change since the start, in the order they happen, on this
    // thread, until `stop` is raised; it sees the flag within 100 ms (a signal
    // handler may raise it).  No other call may use the bus meanwhile: libusb
    // would run the hotplug callback on its thread.
    virtual Result Run(const std::atomic<bool>& stop, const ChangeHandler& report) = 0;
};

}  // namespace usblink
