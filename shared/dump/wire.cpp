#include "dump/wire.h"

#include <cstring>

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

namespace {

// Four words at a time: a transfer converts gigabytes, and a byte at a time
// the conversion holds the transfer up between two chunks.  The wire is
// little-endian, as the host.
uint32_t Load(const uint8_t* bytes)
{
    uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

void Store(uint8_t* bytes, uint32_t value)
{
    std::memcpy(bytes, &value, sizeof value);
}

// The first bytes of the two words in `wire`.
uint32_t FirstBytes(uint32_t wire)
{
    return (wire & 0xFFu) | ((wire >> 8) & 0xFF00u);
}

// The two dump bytes in the low half of `dump` as two words.
uint32_t AsWords(uint32_t dump)
{
    return (dump & 0xFFu) | ((dump & 0xFF00u) << 8) | 0xFF00FF00u;
}

// Dump bytes i..i+3 from wire bytes 2i..2i+7.
uint32_t GatherFour(const uint8_t* wire)
{
    return FirstBytes(Load(wire)) | (FirstBytes(Load(wire + 4)) << 16);
}

}  // namespace

void DumpInPlace(uint8_t* buffer, uint32_t size)
{
    DumpInPlace(buffer, 0, size);
}

void DumpInPlace(uint8_t* buffer, uint32_t first, uint32_t end)
{
    uint32_t i = first;
    // Wire bytes 2i.. are read before dump bytes i.. are written, and lie past
    // every dump byte written before.
    for (; end - i >= 4; i += 4)
        Store(buffer + i, GatherFour(buffer + 2 * i));
    for (; i < end; ++i)
        buffer[i] = buffer[2 * i];
}

void WireInPlace(uint8_t* buffer, uint32_t size)
{
    uint32_t i = size;
    for (; i % 4; --i) {
        buffer[2 * i - 1] = 0xFF;
        buffer[2 * i - 2] = buffer[i - 1];
    }
    // Dump bytes i..i+3 are read before wire bytes 2i..2i+7 are written, and
    // lie below every wire byte written before.
    while (i > 0) {
        i -= 4;
        const uint32_t dump = Load(buffer + i);
        Store(buffer + 2 * i, AsWords(dump));
        Store(buffer + 2 * i + 4, AsWords(dump >> 16));
    }
}

bool DumpMatchesWire(const uint8_t* dump, const uint8_t* wire, uint32_t size)
{
    uint32_t i = 0;
    for (; size - i >= 4; i += 4)
        if (Load(dump + i) != GatherFour(wire + 2 * i))
            return false;
    for (; i < size; ++i)
        if (dump[i] != wire[2 * i])
            return false;
    return true;
}

}  // namespace dump
