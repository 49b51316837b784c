// The requests of a dump transfer, shared by the dump tool and uxfer.exe so
// that both send the device the same ones: the reset command, a 12-byte debug
// write before every transfer, and the descriptor of a read or write.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include "uXfer.h"
#endif

namespace dump {

inline constexpr uint8_t kResetCommand[12] = {0x05, 0x00, 0x00, 0x00, 0xFF, 0xFF,
                                              0x05, 0x00, 0x00, 0x00, 0xFF, 0xFF};

// One unit of the count the device receives is 4 bytes on the pipe.
constexpr uint32_t kUnitSize = 4;
constexpr uint16_t kCmdValue = 1;

// `Desc`: the library's TransferDesc, or a link's request with its fields.
template <class Desc>
Desc ResetCommandDescOf()
{
    Desc desc = {};
    desc.length = sizeof(kResetCommand);
    desc.unitSize = kUnitSize;
    desc.cmdValue = kCmdValue;
    desc.cmdIndex = 1;
    return desc;
}

// A read, write or verify of `size` file bytes at device word `addr`: the
// descriptor counts host bytes, so both double (wrapping, as 32-bit shifts
// do).  `mode` is the index word of the request; only its low 16 bits go.
template <class Desc>
Desc DeviceDescOf(uint32_t addr, uint32_t size, uint32_t mode)
{
    Desc desc = {};
    desc.address = addr << 1;
    desc.length = size << 1;
    desc.unitSize = kUnitSize;
    desc.cmdValue = kCmdValue;
    desc.cmdIndex = static_cast<uint16_t>(mode);
    return desc;
}

#ifdef _WIN32
inline TransferDesc ResetCommandDesc()
{
    return ResetCommandDescOf<TransferDesc>();
}

inline TransferDesc DeviceDesc(uint32_t addr, uint32_t size, uint32_t mode)
{
    return DeviceDescOf<TransferDesc>(addr, size, mode);
}
#endif

}  // namespace dump
