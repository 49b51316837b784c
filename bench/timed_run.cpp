#include "timed_run.h"

#include <psapi.h>

#include <algorithm>

#include "win/text.h"

namespace bench {

double Now()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The peak counters are read while the program runs, the last time just
// before it ends, in case the system drops them with the process.
ToolRun RunTimed(const std::string& program, const std::string& arguments, ChildOptions::Output output)
{
    ToolRun run;
    ChildOptions options;
    options.output = output;
    ChildProcess child;
    const double start = Now();
    if (!child.Start(win::Widen("\"" + program + "\" " + arguments, CP_ACP), options))
        return run;
    for (;;) {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(child.Handle(), &counters, sizeof counters)) {
            run.peakWorkingSet = std::max(run.peakWorkingSet, counters.PeakWorkingSetSize);
            run.peakCommitted = std::max(run.peakCommitted, counters.PeakPagefileUsage);
        }
        if (WaitForSingleObject(child.Handle(), 5) == WAIT_OBJECT_0)
            break;
    }
    const double end = Now();
    ChildResult result = child.Wait(INFINITE);
    run.exitCode = result.exitCode;
    if (result.finished && result.exitCode == 0)
        run.seconds = end - start;
    run.out = std::move(result.out);
    run.err = std::move(result.err);
    return run;
}

ToolRun IdleRun(const std::string& program, const std::string& arguments, ChildOptions::Output output)
{
    ToolRun idle;
    for (int i = 0; i < 5; ++i) {
        ToolRun run = RunTimed(program, arguments, output);
        if (run.seconds < 0)
            return run;
        idle.seconds = i == 0 || run.seconds < idle.seconds ? run.seconds : idle.seconds;
        idle.peakWorkingSet = std::max(idle.peakWorkingSet, run.peakWorkingSet);
        idle.peakCommitted = std::max(idle.peakCommitted, run.peakCommitted);
        idle.out = std::move(run.out);
    }
    return idle;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Fastest(const std::vector<double>& values)
{
    return *std::min_element(values.begin(), values.end());
}

}  // namespace bench
