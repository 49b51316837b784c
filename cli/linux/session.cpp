// The call's link on Linux: the configured ids, the device chosen by
// --instance or --device among the used ones, and the USB link to it.
#include "session.h"

#include "cancel.h"
#include "errors.h"
#include "linux/devices.h"
#include "options.h"
#include "ops/usb_link.h"

namespace cli {

struct DeviceCall::Device {
    std::unique_ptr<usblink::Bus> bus;
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
    usblink::IdSet ids;
    usblink::Selector selector;
    if (const int code = ChosenDevice(common_, ids, selector))
        return code;
    if (const int code = OpenBus(device_->bus))
        return code;
    // A chunk may wait as long as the call: the call's timer ends it.
    const usblink::Timeouts timeouts{5000, 24 * 3600 * 1000u, 500};
    const usblink::Result opened = device_->bus->OpenLink(ids, selector, timeouts, device_->usb);
    if (!opened.ok())
        return Fail(kExitNoDevice, opened.detail + (opened.detail.rfind("no device", 0) == 0
                                                        ? "; run " + ops::Advised(names_, "list")
                                                        : std::string()));
    ConsoleBreak::Stops(device_->usb.get());
    device_->link.emplace(*device_->usb);
    operation_.emplace(*device_->link, common_.instance, settings_, names_);
    return Exit(operation_->Open(0));
}

}  // namespace cli
