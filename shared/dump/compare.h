// The comparison of a range read back with what was written or expected.
#pragma once

#include <cstdint>
#include <string>

namespace dump {

// The differing words, and the index of the first.
struct Difference {
    uint32_t count = 0;
    uint32_t first = 0;
};

// Compares the wire images of `size` words: whole words when raw, else the
// first byte of each, all the default format carries.
Difference CompareWire(const uint8_t* expected, const uint8_t* readBack, uint32_t size, bool raw);
// Where the first differing word is in the dump file.
uint32_t FileOffset(const Difference& difference, bool raw);
// "<finding> N of M words different, the first at file offset O, word address
// A (expected XX XX, read XX XX)", for a range of `size` words from `addr`.
std::string DifferenceText(const char* finding, const Difference& difference, uint32_t size, uint32_t addr,
                           bool raw, const uint8_t* expected, const uint8_t* readBack);

}  // namespace dump
