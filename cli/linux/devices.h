// The devices of the Linux edition: the ids the user configured (config
// files, UXFER_USB, --usb) and the one device a command chose.
#pragma once

#include <memory>

#include "usblink/bus.h"
#include "usblink/sim_bus.h"
#include "usblink/usb_ids.h"

namespace cli {

struct CommonOptions;

// The configured ids; a bad entry is told on standard error and left out.
// Prints the error and returns the exit code.
int ConfiguredIds(const CommonOptions& common, usblink::IdSet& ids);
// The ids, and the device --device or --instance chose.
int ChosenDevice(const CommonOptions& common, usblink::IdSet& ids, usblink::Selector& selector);
int OpenBus(std::unique_ptr<usblink::Bus>& bus);
// The configured ids and the bus that lists their devices.
int ConfiguredBus(const CommonOptions& common, usblink::IdSet& ids, std::unique_ptr<usblink::Bus>& bus);

// The buses a command opens, kept for as long as its link lives.
struct Buses {
    std::unique_ptr<usblink::Bus> usb;
    std::unique_ptr<usblink::SimBus> simulated;
};
// A link on the device the options chose: a USB device, or with --simulate
// a simulated one.  Fails with `problem`, the sentence that says why, and the
// exit code.
int OpenChosenLink(const CommonOptions& common, const usblink::Timeouts& timeouts, Buses& buses,
                   std::unique_ptr<usblink::Link>& link, std::string& problem);

}  // namespace cli
