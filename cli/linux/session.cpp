// The call's link on Linux: the device chosen by --instance or --device among
// the used ones of the configured ids (or with --simulate a simulated one),
// and the USB link to it.
#include "session.h"

#include "cancel.h"
#include "errors.h"
#include "linux/devices.h"
#include "options.h"
#include "ops/usb_link.h"

namespace cli {

struct DeviceCall::Device {
    Buses buses;
    std::unique_ptr<usblink::Link> usb;
    std::optional<ops::UsbLink> link;
    ~Device() { ConsoleBreak::Stops(nullptr); }
};

void DeviceCall::DeviceDeleter::operator()(Device* device) const
{
    delete device;
}

int DeviceCall::Open(Opens)
{
    if (ConsoleBreak::Requested())
        return Exit(ops::Fail(ops::Kind::Cancelled, "cancelled"));
    device_.reset(new Device);
    // A chunk may wait as long as the call: the call's timer ends it.
    const usblink::Timeouts timeouts{5000, 24 * 3600 * 1000u, 500};
    std::string problem;
    if (const int code = OpenChosenLink(common_, timeouts, device_->buses, device_->usb, problem))
        return problem.empty() ? code
                               : Fail(code, problem + (problem.rfind("no ", 0) == 0
                                                           ? "; run " + ops::Advised(names_, "list")
                                                           : std::string()));
    ConsoleBreak::Stops(device_->usb.get());
    device_->link.emplace(*device_->usb);
    operation_.emplace(*device_->link, common_.instance, settings_, names_);
    return Exit(operation_->Open(0));
}

}  // namespace cli
