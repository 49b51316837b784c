#include "dump/wire.h"

namespace dump {

void DumpFromWire(const uint8_t* wire, uint32_t size, uint8_t* dump)
{
    for (uint32_t i = 0; i < size; ++i)
        dump[i] = wire[2 * i];
}

void WireFromDump(const uint8_t* dump, uint32_t size, uint8_t* wire)
{
    for (uint32_t i = 0; i < size; ++i) {
        wire[2 * i] = dump[i];
        wire[2 * i + 1] = 0xFF;
    }
}

void DumpInPlace(uint8_t* buffer, uint32_t size)
{
    DumpInPlace(buffer, 0, size);
}

void DumpInPlace(uint8_t* buffer, uint32_t first, uint32_t end)
{
    for (uint32_t i = first; i < end; ++i)
        buffer[i] = buffer[2 * i];
}

void WireInPlace(uint8_t* buffer, uint32_t size)
{
    for (uint32_t i = size; i-- > 0;) {
        buffer[2 * i + 1] = 0xFF;
        buffer[2 * i] = buffer[i];
    }
}

}  // namespace dump
