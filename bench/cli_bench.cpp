// uxfer_bench.exe [--rounds N] [--ops read,write,compare] [SIZE...]
//   (under the test bed; defaults: 5 rounds, every operation, 64M)
// uxfer.exe of this program's bitness against the bare program of the same
// bitness making the same device requests, each a whole process started the
// same way, at each SIZE on the wire (64M, 1G; 4G is the largest transfer,
// 0x7FFFFFFE words, for the x64 edition):
//   read     uxfer read FILE --size W         against one uXferRead;
//   write    uxfer write FILE --size W --verify  against a uXferWrite and a
//            uXferRead back;
//   compare  uxfer compare FILE --size W      against one uXferRead.
// uxfer adds its parsing, file checks, conversion and file to the bare
// program's requests; the bare program with its file does what a user would
// write instead of uxfer (the dump stored and flushed, or the file read and
// compared).  For each row: the median time and processor time of each, the
// median of the per-round time ratios against each bare program (where its
// buffer fits), and the peak memory uxfer committed beyond an idle uxfer
// (--version), each against its goal.
#include <windows.h>

#include <cstdio>
#include <string>

#include "bench_table.h"
#include "uXfer.h"
#include "vdev_shim.h"

int main(int argc, char** argv)
{
    bench::BenchOptions options;
    if (!bench::ParseBenchOptions(argc, argv, bench::kOperations, options))
        return 2;
    if (!VdevShimInstall() || !VdevShimFollowChildren((ProgramFolder() + "vdevshim.dll").c_str())) {
        std::fprintf(stderr, "uxfer_bench: the virtual device is not ready\n");
        return 2;
    }
    uSetDelay(0);  // shared with the uxfer processes
    uSetInstance(0);

    const std::string uxfer = ProgramFolder() + "uxfer.exe";
    const auto captured = ChildOptions::Output::Separate;  // the first error line tells a failed row
    const bench::ToolRun idle = bench::IdleRun(uxfer, "--version", captured);
    const auto measured = [&](const std::string& operation, uint32_t words, const std::string& source,
                              const std::string& output) {
        const std::string file = operation == "read" ? output : source;
        return bench::Contender{uxfer,
                                operation + " \"" + file + "\" --size " + std::to_string(words) + " --quiet" +
                                    (operation == "write" ? " --verify" : ""),
                                captured, nullptr};
    };
    const std::vector<bench::Row> rows =
        idle.seconds < 0 ? std::vector<bench::Row>{} : bench::MeasureOperations(options, idle, measured);
    uSetDelay(100);
    if (idle.seconds < 0) {
        std::fprintf(stderr, "uxfer_bench: an idle uxfer failed\n");
        return 1;
    }
    char title[160];
    std::snprintf(title, sizeof title,
                  "uxfer.exe (%d-bit) against bare uXfer calls without and with the file, %d rounds; an idle uxfer "
                  "commits %.1f MiB:",
                  static_cast<int>(sizeof(void*) * 8), options.rounds, idle.peakCommitted / 1048576.0);
    bench::PrintTable(title, rows);
    return 0;
}
