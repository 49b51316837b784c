// What the link needs of a USB stack: vendor control requests on endpoint 0
// and transfers on the interface's bulk IN and OUT endpoints.  The libusb
// backend provides it; another stack would sit beside it.
#pragma once

#include <atomic>
#include <cstdint>

#include "usb_protocol.h"
#include "usblink/result.h"

namespace usblink::detail {

class Transport {
public:
    virtual ~Transport() = default;
    // The setup packet from `block`; `stage` holds block.wLength bytes, sent
    // or received as block.bmRequestType says.  `moved`: bytes of the data stage.
    virtual Result Control(const VendorCommandBlock& block, uint8_t* stage, unsigned timeoutMs, uint32_t& moved) = 0;
    // One bulk transfer; it ends early (Cancelled) once `cancel` is raised,
    // when one is given.  A zero-length write sends a zero-length packet.
    virtual Result Bulk(bool in, uint8_t* data, uint32_t size, unsigned timeoutMs, const std::atomic<bool>* cancel,
                        uint32_t& moved) = 0;
};

}  // namespace usblink::detail
