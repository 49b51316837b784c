// list: the devices of the configured ids, numbered as --instance counts
// them (by bus, then port path), with their port path for --device; and the
// devices with a product id of this family whose vendor id isn't configured,
// marked as not used, with the command that would use them.  Only descriptors
// the system keeps are read: no request reaches any device.
#include <string>
#include <vector>

#include "commands.h"
#include "errors.h"
#include "linux/devices.h"
#include "output.h"
#include "usblink/devices.h"
#include "usblink/sim_bus.h"

namespace cli {

namespace {

// With --simulate: the present simulated devices of the class, each with its
// memory image.
int ListSimulated(const CommonOptions& common)
{
    std::unique_ptr<usblink::SimBus> bus;
    std::vector<usblink::SimulatedDevice> devices;
    usblink::Result listed = usblink::SimBus::Open(bus);
    if (listed.ok())
        listed = bus->List(common.loaderVersion.value_or(0), devices);
    if (!listed.ok())
        return Fail(kExitNoDevice, listed.detail, {{"count", 0}});
    if (devices.empty())
        return Fail(kExitNoDevice,
                    "no simulated device is present in " + bus->Folder() + "; 'uxfer sim plug' plugs one in",
                    {{"count", 0}});
    Json instances = Json::array();
    for (const usblink::SimulatedDevice& device : devices) {
        const std::string image = bus->Folder() + "/device" + std::to_string(device.section) + ".img";
        instances.push_back({{"index", device.instance}, {"path", image}});
        if (!common.json)
            PrintLine(std::to_string(device.instance) + "  " + image);
    }
    if (common.json)
        PrintJson({{"command", "list"}, {"count", devices.size()}, {"instances", instances}});
    return kExitOk;
}

}  // namespace

int RunList(const CommonOptions& common)
{
    if (common.simulate)
        return ListSimulated(common);
    usblink::IdSet ids;
    std::unique_ptr<usblink::Bus> bus;
    if (const int code = ConfiguredBus(common, ids, bus))
        return code;
    std::vector<usblink::DeviceInfo> devices;
    const usblink::Result listed = bus->List(ids, devices);
    if (!listed.ok())
        return Fail(kExitNoDevice, "can't list the USB devices: " + listed.detail);
    size_t used = 0;
    Json instances = Json::array(), unused = Json::array();
    std::vector<std::string> lines;
    for (const usblink::DeviceInfo& device : devices) {
        const std::string port = usblink::PortPathText(device), id = usblink::IdText(device.id);
        if (device.used) {
            instances.push_back({{"index", used}, {"port", port}, {"id", id}, {"node", usblink::NodePath(device)}});
            lines.push_back(std::to_string(used++) + "  " + port + "  " + id + "  " + usblink::NodePath(device));
        } else {
            unused.push_back({{"port", port}, {"id", id}, {"note", device.note}});
            lines.push_back("-  " + port + "  " + id + "  not used: " + device.note);
        }
    }
    if (used == 0) {
        std::string problem = "no device of a configured id is present";
        problem += ids.ids.empty() ? ": no id is configured; 'uxfer usb add VID:PID' configures one, --usb VID:PID "
                                     "uses one for a command"
                                   : ": is the device plugged in? 'uxfer usb add VID:PID' configures another id";
        for (const std::string& line : lines)
            problem += "\n" + line;
        return Fail(kExitNoDevice, problem, {{"count", 0}, {"unused", unused}});
    }
    if (common.json)
        PrintJson({{"command", "list"}, {"count", used}, {"instances", instances}, {"unused", unused}});
    else
        for (const std::string& line : lines)
            PrintLine(line);
    return kExitOk;
}

}  // namespace cli
