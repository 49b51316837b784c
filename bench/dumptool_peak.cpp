// dumptool_bench_peak.exe [MiB]   (under the test bed)
// Peak memory of one Read flow of the given size (default 64 MiB) from the
// virtual device into a file.  The flow should hold at most its dump and wire
// buffers, 3 x Size, plus a small constant.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "flows.h"
#include "uXfer.h"
#include "vdev_client.h"
#include "vdev_shim.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;
constexpr SIZE_T kAllowance = 8u << 20;  // code, stacks and heap bookkeeping

class SilentReporter : public dump::Reporter {
public:
    void Show(dump::Outcome outcome) override { shown = outcome; }
    dump::Outcome shown = dump::Outcome::ReadFailed;
};

PROCESS_MEMORY_COUNTERS Counters()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters;
}

}  // namespace

int main(int argc, char** argv)
{
    const uint32_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 0) : 64;
    const uint32_t size = mib << 20;
    vdev::Device device;
    if (!VdevShimInstall() || !device.Open(0) || !device.Reset() || !device.SetMemorySize(2 * size)) {
        std::fprintf(stderr, "dumptool_bench_peak: the virtual device is not ready\n");
        return 2;
    }
    uSetDelay(0);

    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    dump::DumpSettings settings;
    settings.forWrite = std::string(temp) + "dumptool-bench-peak.bin";
    settings.Size = size;

    const PROCESS_MEMORY_COUNTERS before = Counters();
    const DWORD start = GetTickCount();
    SilentReporter reporter;
    dump::ReadFlow(settings, reporter);
    const DWORD elapsed = GetTickCount() - start;
    const PROCESS_MEMORY_COUNTERS after = Counters();
    DeleteFileA(settings.forWrite.c_str());
    device.Reset();
    device.SetMemorySize(VDEV_DEFAULT_MEMORY_BYTES);

    const SIZE_T grown = after.PeakWorkingSetSize - before.PeakWorkingSetSize;
    const SIZE_T limit = SIZE_T(3) * size + kAllowance;
    std::printf("Read of %u MiB: %s in %lu ms\n", mib, dump::OutcomeText(reporter.shown), elapsed);
    std::printf("  peak working set %.1f -> %.1f MiB (+%.1f MiB)\n", before.PeakWorkingSetSize / kMiB,
                after.PeakWorkingSetSize / kMiB, grown / kMiB);
    std::printf("  peak committed   %.1f -> %.1f MiB\n", before.PeakPagefileUsage / kMiB,
                after.PeakPagefileUsage / kMiB);
    std::printf("  limit 3 x Size + %.0f MiB = %.1f MiB: %s\n", kAllowance / kMiB, limit / kMiB,
                grown <= limit ? "within" : "EXCEEDED");
    return reporter.shown == dump::Outcome::ReadSuccess && grown <= limit ? 0 : 1;
}
