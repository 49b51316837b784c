// dump_bench_wire.exe [MiB]
// Time of the word conversion both ways for a dump of the given size (default
// 64 MiB), next to memcpy of the same wire size (twice the dump).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dump/wire.h"

namespace {

template <typename Work>
double BestMs(Work work)
{
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    double best = 1e30;
    for (int round = 0; round < 5; ++round) {
        QueryPerformanceCounter(&start);
        work();
        QueryPerformanceCounter(&end);
        const double ms = 1000.0 * double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
        if (ms < best)
            best = ms;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    const uint32_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 0) : 64;
    const uint32_t size = mib << 20;
    std::vector<uint8_t> dump(size), back(size), wire(2 * size), copy(2 * size);
    for (uint32_t i = 0; i < size; ++i)
        dump[i] = static_cast<uint8_t>(i * 31 + 7);

    const double toWire = BestMs([&] { dump::WireFromDump(dump.data(), size, wire.data()); });
    const double fromWire = BestMs([&] { dump::DumpFromWire(wire.data(), size, back.data()); });
    const double memcpyMs = BestMs([&] { std::memcpy(copy.data(), wire.data(), wire.size()); });
    if (back != dump) {
        std::printf("round trip mismatch\n");
        return 1;
    }
    const double wireMiB = 2.0 * mib;
    std::printf("dump %u MiB, wire %.0f MiB (best of 5)\n", mib, wireMiB);
    std::printf("  WireFromDump  %8.2f ms  %8.0f MiB/s of wire  %5.2f x memcpy\n", toWire, wireMiB / toWire * 1000,
                toWire / memcpyMs);
    std::printf("  DumpFromWire  %8.2f ms  %8.0f MiB/s of wire  %5.2f x memcpy\n", fromWire,
                wireMiB / fromWire * 1000, fromWire / memcpyMs);
    std::printf("  memcpy        %8.2f ms  %8.0f MiB/s\n", memcpyMs, wireMiB / memcpyMs * 1000);
    return 0;
}
