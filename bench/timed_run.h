// Whole child processes timed from creation to end, with the peak memory
// counters read while they run: what the benchmarks comparing two programs
// measure.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/processes.h"

namespace bench {

// Seconds on the performance counter.
double Now();

struct ToolRun {
    double seconds = -1;  // -1: it did not start or did not exit with 0
    DWORD exitCode = 0xFFFFFFFF;
    SIZE_T peakWorkingSet = 0;
    SIZE_T peakCommitted = 0;
    double userSeconds = 0;    // processor time of the program itself, in user mode
    double kernelSeconds = 0;  // and in the kernel
    std::string out;  // standard output, when asked to capture it
    std::string err;  // standard error, likewise
};

// Runs `program` (a full path) with `arguments` and waits for its end.
ToolRun RunTimed(const std::string& program, const std::string& arguments,
                 ChildOptions::Output output = ChildOptions::Output::Discarded);

// What a program holds before any transfer: code, runtime and the system's
// own.  A run this short may end between two samples of its counters, which
// then miss its last growth: the largest peak of a few runs counts, and the
// shortest time.
ToolRun IdleRun(const std::string& program, const std::string& arguments,
                ChildOptions::Output output = ChildOptions::Output::Discarded);

double Median(std::vector<double> values);
double Fastest(const std::vector<double>& values);

}  // namespace bench
