// The device holds every file byte in a 16-bit word: file byte i travels as
// wire bytes 2i and 2i+1.  Reads keep the first byte of each word; writes send
// each byte as the pair (byte, 0xFF).
#pragma once

#include <cstdint>

namespace dump {

// The largest dump whose wire image (twice its size) has a 32-bit length.
constexpr uint32_t kMaxDumpSize = 0x7FFFFFFFu;

constexpr bool WireFits(uint32_t dumpSize)
{
    return dumpSize <= kMaxDumpSize;
}

// dump[i] = wire[2i], for i < size.
void DumpFromWire(const uint8_t* wire, uint32_t size, uint8_t* dump);
// wire[2i] = dump[i], wire[2i+1] = 0xFF, for i < size.
void WireFromDump(const uint8_t* dump, uint32_t size, uint8_t* wire);

// The same conversions inside one buffer of 2 * size bytes, for callers that
// can't afford a second copy of the dump.  DumpInPlace leaves the dump in the
// first `size` bytes (going forward, byte i is read at 2i before anything
// overwrites it); WireInPlace expands the dump held in the first `size` bytes
// (going backward, for the same reason).
void DumpInPlace(uint8_t* buffer, uint32_t size);
// Dump bytes first..end-1 of DumpInPlace, for a wire image converted as it
// arrives: needs wire bytes up to 2 * end and all dump bytes before `first`
// converted, and touches no byte at or past `end`.
void DumpInPlace(uint8_t* buffer, uint32_t first, uint32_t end);
void WireInPlace(uint8_t* buffer, uint32_t size);

// Whether dump[i] == wire[2i] for every i < size.
bool DumpMatchesWire(const uint8_t* dump, const uint8_t* wire, uint32_t size);

}  // namespace dump
