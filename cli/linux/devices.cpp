#include "linux/devices.h"

#include <cstdlib>

#include "errors.h"
#include "options.h"
#include "output.h"
#include "usblink/id_config.h"

namespace cli {

int ConfiguredIds(const CommonOptions& common, usblink::IdSet& ids)
{
    usblink::IdSources sources;
    sources.files = usblink::ConfigFiles(usblink::UserConfigFolder(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")));
    sources.environment = std::getenv("UXFER_USB");
    sources.options = common.usb;
    const usblink::Result loaded = usblink::LoadIds(sources, ids);
    if (!loaded.ok())
        return Fail(kExitNoMemory, "not enough memory for the configured ids");
    for (const std::string& problem : ids.problems)
        if (!common.quiet)
            PrintInfo("uxfer: " + problem + " (left out)");
    return kExitOk;
}

int ChosenDevice(const CommonOptions& common, usblink::IdSet& ids, usblink::Selector& selector)
{
    if (const int code = ConfiguredIds(common, ids))
        return code;
    selector = usblink::Selector{};
    selector.index = common.instance;
    if (!common.device)
        return kExitOk;
    if (common.instance)
        return Fail(kExitUsage, "--device and --instance both choose the device: give one of them");
    if (!usblink::ParseSelector(*common.device, selector) || !selector.byPort)
        return Fail(kExitUsage, "--device: '" + *common.device +
                                    "' is not a USB port path (BUS-PORT[.PORT...], as 'uxfer list' shows)");
    return kExitOk;
}

int OpenChosenLink(const CommonOptions& common, const usblink::Timeouts& timeouts, Buses& buses,
                   std::unique_ptr<usblink::Link>& link, std::string& problem)
{
    usblink::Result opened;
    if (common.simulate) {
        if (common.device)
            return Fail(kExitUsage, "--device picks a USB port; a simulated device is chosen with --instance");
        opened = usblink::SimBus::Open(buses.simulated);
        if (opened.ok())
            opened = buses.simulated->OpenLink(common.loaderVersion.value_or(0), common.instance, timeouts, link);
    } else {
        usblink::IdSet ids;
        usblink::Selector selector;
        if (const int code = ChosenDevice(common, ids, selector))
            return code;
        if (const int code = OpenBus(buses.usb))
            return code;
        opened = buses.usb->OpenLink(ids, selector, timeouts, link);
    }
    if (opened.ok())
        return kExitOk;
    problem = opened.detail;
    return opened.code == usblink::Code::NoMemory ? kExitNoMemory : kExitNoDevice;
}

int ConfiguredBus(const CommonOptions& common, usblink::IdSet& ids, std::unique_ptr<usblink::Bus>& bus)
{
    if (const int code = ConfiguredIds(common, ids))
        return code;
    return OpenBus(bus);
}

int OpenBus(std::unique_ptr<usblink::Bus>& bus)
{
    const usblink::Result opened = usblink::Bus::Open(bus);
    if (!opened.ok())
        return Fail(opened.code == usblink::Code::NoMemory ? kExitNoMemory : kExitNoDevice,
                    "can't use USB: " + opened.detail);
    return kExitOk;
}

}  // namespace cli
