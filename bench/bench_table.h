// What uxfer_bench and auto_bench share: the wire sizes and operations asked
// for on the command line, a program measured against two bare programs of the
// same bitness in interleaved rounds, one that only makes the device requests
// and one that also keeps the dump in a file (what a user would write
// instead), and the table of the results against the goals.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "timed_run.h"

namespace bench {

// The largest transfer on the wire: 0x7FFFFFFE words, as the device counts
// units of 2 words (the protocol's range less its last word).
constexpr uint32_t kLargestTransfer = 0xFFFFFFFCu;
// Against the bare requests, a 64-bit program is held to a tighter time goal
// than a 32-bit one; against the bare program with its file, both to 1.05.
constexpr double kTimeGoal = sizeof(void*) == 8 ? 1.05 : 1.10;
constexpr double kStoringTimeGoal = 1.05;
// A transfer of any size may hold this much beyond what the program holds idle.
constexpr double kMemoryGoalBytes = 16.0 * 1024 * 1024;

struct BenchOptions {
    std::vector<uint32_t> wireSizes;
    std::vector<std::string> operations;
    int rounds = 5;
};

// [--rounds N] [--ops a,b] [SIZE...]: SIZE is bytes on the wire, a multiple
// of 4, with K, M or G ("64M", "1G"); 4G, or more, is the largest transfer.
// Defaults: 64M and every operation of `known`.  False, with the reason on
// standard error, for anything else.
bool ParseBenchOptions(int argc, char** argv, const std::vector<std::string>& known, BenchOptions& options);

// "64 MiB", "1 GiB", "4 GiB" (the largest transfer).
std::string WireText(uint32_t wireBytes);

// One program run of a row: its command, how its output is kept, and what
// tells a successful run (by default: exit code 0).
struct Contender {
    std::string program;
    std::string arguments;
    ChildOptions::Output output = ChildOptions::Output::Discarded;
    std::function<bool(const ToolRun&)> succeeded;
};

// Medians of one program's rounds: wall time, and its own processor time.
struct Times {
    double seconds = -1;  // -1: no run (the bare program's buffer does not fit)
    double user = 0, kernel = 0;
    double ratio = -1;  // the measured program's: median of the per-round ratios against this one
};

struct Row {
    uint32_t wireBytes = 0;
    std::string operation;
    Times measured;      // the program measured
    Times bare;          // the bare device requests
    Times storing;       // the bare program with its file
    double overIdle = 0;  // peak committed bytes beyond the idle program's
    std::string problem;  // why the row has no result
};

// `rounds` rounds of `measured`, `bare` and `storing`, each round in another
// order so that no side always runs first; `afterRun` follows every run
// (removing an output file, say).  The measured program's memory counts
// against `idle`.
Row MeasureRow(uint32_t wireBytes, const std::string& operation, int rounds, const Contender& measured,
               const Contender& bare, const Contender& storing, const ToolRun& idle,
               const std::function<void()>& afterRun);

// The operations both benchmarks measure, each against the bare program's
// same device requests, without and with the file: "read" (a dump into a
// file), "write" (a file written and read back to verify it) and "compare" (a
// range read back and compared with a file).
extern const std::vector<std::string> kOperations;

// The run of the measured program for `operation` on `words` words from
// address 0: `source` is the file a write or compare takes, `output` the file
// a read makes.
using MeasuredRun = std::function<Contender(const std::string& operation, uint32_t words,
                                            const std::string& source, const std::string& output)>;

// Every operation of `options` at every size, on instance 0 with memory of
// that size (the source file's content is in it before a compare), the
// device reset and back to its default size at the end.
std::vector<Row> MeasureOperations(const BenchOptions& options, const ToolRun& idle, const MeasuredRun& measured);

// The table: size, operation, medians, ratio and memory, each against its goal.
void PrintTable(const std::string& title, const std::vector<Row>& rows);

}  // namespace bench
