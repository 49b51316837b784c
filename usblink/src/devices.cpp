#include "usblink/devices.h"

#include <algorithm>
#include <tuple>

namespace usblink {

namespace {

// A decimal number of 1 to 3 digits up to `limit`.
bool ParseSmall(std::string_view text, unsigned limit, unsigned& value)
{
    if (text.empty() || text.size() > 3)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return value <= limit;
}

bool ParsePortPath(std::string_view text, uint8_t& bus, std::vector<uint8_t>& ports)
{
    const size_t dash = text.find('-');
    unsigned number;
    if (dash == std::string_view::npos || !ParseSmall(text.substr(0, dash), 255, number) || number == 0)
        return false;
    bus = static_cast<uint8_t>(number);
    std::string_view rest = text.substr(dash + 1);
    ports.clear();
    for (;;) {
        const size_t dot = rest.find('.');
        if (!ParseSmall(rest.substr(0, dot), 255, number) || number == 0)
            return false;
        ports.push_back(static_cast<uint8_t>(number));
        if (dot == std::string_view::npos)
            return true;
        rest.remove_prefix(dot + 1);
    }
}

}  // namespace

std::string PortPathText(uint8_t bus, const std::vector<uint8_t>& ports)
{
    std::string text = std::to_string(bus) + "-";
    for (size_t i = 0; i < ports.size(); ++i) {
        if (i > 0)
            text += '.';
        text += std::to_string(ports[i]);
    }
    return text;
}

std::string PortPathText(const DeviceInfo& device)
{
    return PortPathText(device.bus, device.ports);
}

void SortDevices(std::vector<DeviceInfo>& devices)
{
    std::stable_sort(devices.begin(), devices.end(), [](const DeviceInfo& a, const DeviceInfo& b) {
        return std::tie(a.bus, a.ports) < std::tie(b.bus, b.ports);
    });
}

bool ParseSelector(std::string_view text, Selector& selector)
{
    Selector parsed;
    if (text.find('-') != std::string_view::npos) {
        parsed.byPort = true;
        if (!ParsePortPath(text, parsed.bus, parsed.ports))
            return false;
    } else {
        if (text.empty() || text.size() > 9)
            return false;
        for (char c : text) {
            if (c < '0' || c > '9')
                return false;
            parsed.index = parsed.index * 10 + (c - '0');
        }
    }
    selector = parsed;
    return true;
}

std::string SelectorText(const Selector& selector)
{
    return selector.byPort ? "port " + PortPathText(selector.bus, selector.ports)
                           : "instance " + std::to_string(selector.index);
}

int FindSelected(const std::vector<DeviceInfo>& devices, const Selector& selector, std::string& problem)
{
    uint32_t usedSeen = 0;
    for (size_t i = 0; i < devices.size(); ++i) {
        const DeviceInfo& device = devices[i];
        if (selector.byPort) {
            if (device.bus != selector.bus || device.ports != selector.ports)
                continue;
            if (device.used)
                return static_cast<int>(i);
            problem = "the device at port " + PortPathText(device) + " (" + IdText(device.id) +
                      ") is not used: " + device.note;
            return -1;
        }
        if (device.used && usedSeen++ == selector.index)
            return static_cast<int>(i);
    }
    if (selector.byPort)
        problem = "no device at port " + PortPathText(selector.bus, selector.ports);
    else
        problem = "no device at instance " + std::to_string(selector.index) + " (" + std::to_string(usedSeen) +
                  " present)";
    return -1;
}

}  // namespace usblink
