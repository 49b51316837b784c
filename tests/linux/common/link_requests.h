// What the Linux edition's link tests send: a dump-style request and the
// bytes of a pattern a seed makes.
#pragma once

#include <cstdint>
#include <vector>

#include "usblink/link.h"

namespace linux_tests {

// A dump-style request of `length` bytes at byte `address` (the device gets words).
inline usblink::Request Memory(uint32_t address, uint32_t length)
{
    usblink::Request request;
    request.address = address;
    request.length = length;
    request.unitSize = 4;
    request.cmdValue = 1;
    return request;
}

inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
    return bytes;
}

}  // namespace linux_tests
