// What the bare program (uxfer_bench_bare) shares with the benchmarks that
// run it.
#pragma once

#include <cstdint>

namespace bench {

// Its exit code when its buffer can't be had: that row has no time ratio.
constexpr int kBareDoesNotFit = 4;

// The content the benchmarks write: file byte i of a dump, which travels as
// the word (byte, 0xFF).  The bare program fills its wire image with it, so
// that its write leaves the device holding what a write of the source file
// does.
inline uint8_t PatternByte(uint64_t i)
{
    return static_cast<uint8_t>(i * 7 + 1);
}

}  // namespace bench
