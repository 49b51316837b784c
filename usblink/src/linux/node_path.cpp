// Where Linux puts a USB device's node (usbfs under devtmpfs).
#include <cstdio>

#include "usblink/devices.h"

namespace usblink {

std::string NodePath(const DeviceInfo& device)
{
    char path[32];
    std::snprintf(path, sizeof path, "/dev/bus/usb/%03u/%03u", device.bus, device.address);
    return path;
}

}  // namespace usblink
