// The simulated devices as the link reaches them: the device model in this
// process over the simulated devices' folder (simdevice/, sim/store.h), which
// every process of the user shares, as uXferSim.dll's devices on Windows.  A
// link on one speaks the protocol request for request as on a USB device, and
// each request reaches the model under the store's lock.
//
// A device is chosen as on Windows: the N-th present (plugged) device of an
// interface class, in the order of devices.ini.  The class is that of a loader
// version (272, 288, 304; 0 is the default class), as --loader-version gives it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "usblink/link.h"
#include "usblink/result.h"
#include "usblink/usb_ids.h"

namespace usblink {

struct SimulatedDevice {
    uint32_t instance = 0;     // the N that chooses it in its class
    uint32_t section = 0;      // its [device] of devices.ini, from 0; its memory is device<section>.img
    UsbId id;                  // of its descriptor
    uint32_t memoryBytes = 0;
};

class SimBus {
public:
    // The devices of sim::DefaultFolder() (UXFERSIM_HOME, else
    // $XDG_STATE_HOME/uxfer-sim, else ~/.local/state/uxfer-sim), the folder made
    // where missing.  OpenFailed with why it can't be.
    static Result Open(std::unique_ptr<SimBus>& bus);
    ~SimBus();
    SimBus(const SimBus&) = delete;
    SimBus& operator=(const SimBus&) = delete;

    const std::string& Folder() const;

    // The present devices of the class, in the order their N counts them.
    // OpenFailed when devices.ini can't be applied ("no simulated device:
    // devices.ini line 2: ..."), or the loader version is none.
    Result List(uint32_t loaderVersion, std::vector<SimulatedDevice>& devices);
    // A link to the `instance`-th of them, which has the device to itself as
    // a claimed USB interface gives it: another link on it, in this process
    // or another, is refused until this one ends (or its process does).
    // OpenFailed with one sentence when there is no such device, it is in
    // use, or it fails the open (fail_open).
    Result OpenLink(uint32_t loaderVersion, uint32_t instance, const Timeouts& timeouts, std::unique_ptr<Link>& link);

    struct Impl;

private:
    explicit SimBus(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace usblink
