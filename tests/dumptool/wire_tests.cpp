// The word conversion: the in-place forms give exactly what the copying forms
// give, for sizes around the vector widths the compiler may use.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "dump/wire.h"

namespace {

std::vector<uint8_t> Pattern(uint32_t bytes)
{
    std::vector<uint8_t> data(bytes);
    for (uint32_t i = 0; i < bytes; ++i)
        data[i] = static_cast<uint8_t>(i * 7 + 3);
    return data;
}

const uint32_t kSizes[] = {1, 2, 3, 15, 16, 17, 31, 32, 33, 64, 65, 4097};

TEST(WireInPlace, ExpandsTheDumpHeldInTheFirstHalf)
{
    for (uint32_t size : kSizes) {
        const std::vector<uint8_t> dump = Pattern(size);
        std::vector<uint8_t> expected(2 * size);
        dump::WireFromDump(dump.data(), size, expected.data());
        std::vector<uint8_t> buffer(2 * size, 0xAA);
        std::copy(dump.begin(), dump.end(), buffer.begin());
        dump::WireInPlace(buffer.data(), size);
        EXPECT_EQ(buffer, expected) << "size " << size;
    }
}

TEST(DumpInPlace, LeavesTheDumpInTheFirstHalf)
{
    for (uint32_t size : kSizes) {
        const std::vector<uint8_t> wire = Pattern(2 * size);
        std::vector<uint8_t> expected(size);
        dump::DumpFromWire(wire.data(), size, expected.data());
        std::vector<uint8_t> buffer = wire;
        dump::DumpInPlace(buffer.data(), size);
        EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + size), expected) << "size " << size;
    }
}

TEST(DumpInPlace, InPiecesAsTheWireImageArrivesGivesTheSameDump)
{
    const uint32_t size = 1000;
    const std::vector<uint8_t> wire = Pattern(2 * size);
    std::vector<uint8_t> whole = wire;
    dump::DumpInPlace(whole.data(), size);
    // Pieces of odd lengths, each converted once its wire bytes are in and
    // checked not to touch what is still to arrive.
    std::vector<uint8_t> buffer(2 * size, 0xEE);
    uint32_t done = 0;
    for (uint32_t end : {1u, 7u, 8u, 300u, 301u, 999u, size}) {
        std::copy(wire.begin() + 2 * done, wire.begin() + 2 * end, buffer.begin() + 2 * done);
        dump::DumpInPlace(buffer.data(), done, end);
        EXPECT_TRUE(std::all_of(buffer.begin() + 2 * end, buffer.end(), [](uint8_t b) { return b == 0xEE; }))
            << "up to " << end;
        done = end;
    }
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + size),
              std::vector<uint8_t>(whole.begin(), whole.begin() + size));
}

TEST(WireInPlace, RoundTripsThroughDumpInPlace)
{
    const std::vector<uint8_t> dump = Pattern(1000);
    std::vector<uint8_t> buffer(2000);
    std::copy(dump.begin(), dump.end(), buffer.begin());
    dump::WireInPlace(buffer.data(), 1000);
    for (uint32_t i = 0; i < 1000; ++i)
        ASSERT_EQ(buffer[2 * i + 1], 0xFF) << "word " << i;
    dump::DumpInPlace(buffer.data(), 1000);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 1000), dump);
}

TEST(DumpMatchesWire, FindsADifferenceInAnyFirstByteAndIgnoresTheSecond)
{
    for (uint32_t size : kSizes) {
        const std::vector<uint8_t> dump = Pattern(size);
        std::vector<uint8_t> wire(2 * size);
        dump::WireFromDump(dump.data(), size, wire.data());
        for (uint32_t i = 0; i < size; ++i)
            wire[2 * i + 1] = static_cast<uint8_t>(i);
        EXPECT_TRUE(dump::DumpMatchesWire(dump.data(), wire.data(), size)) << "size " << size;
        for (uint32_t at : {0u, size / 2, size - 1}) {
            std::vector<uint8_t> changed = wire;
            changed[2 * at] ^= 0x01;
            EXPECT_FALSE(dump::DumpMatchesWire(dump.data(), changed.data(), size)) << "size " << size << " at " << at;
        }
    }
}

}  // namespace
