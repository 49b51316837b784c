#include "wire.h"

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

}  // namespace dump
