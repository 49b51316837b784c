#include "dump/compare.h"

#include <cstdio>

#include "dump/numbers.h"

namespace dump {

Difference CompareWire(const uint8_t* expected, const uint8_t* readBack, uint32_t size, bool raw)
{
    Difference difference;
    for (uint32_t i = 0; i < size; ++i) {
        const bool same = expected[2 * i] == readBack[2 * i] && (!raw || expected[2 * i + 1] == readBack[2 * i + 1]);
        if (!same && difference.count++ == 0)
            difference.first = i;
    }
    return difference;
}

uint32_t FileOffset(const Difference& difference, bool raw)
{
    return raw ? difference.first * 2 : difference.first;
}

std::string DifferenceText(const char* finding, const Difference& difference, uint32_t size, uint32_t addr,
                           bool raw, const uint8_t* expected, const uint8_t* readBack)
{
    const uint32_t first = difference.first;
    char detail[96];
    std::snprintf(detail, sizeof detail, " (expected %02X %02X, read %02X %02X)", expected[2 * first],
                  expected[2 * first + 1], readBack[2 * first], readBack[2 * first + 1]);
    return std::string(finding) + " " + std::to_string(difference.count) + " of " + std::to_string(size) +
           " words different, the first at file offset " + std::to_string(FileOffset(difference, raw)) +
           ", word address " + HexText(addr + first) + detail;
}

}  // namespace dump
