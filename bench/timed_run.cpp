#include "timed_run.h"

#include <psapi.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>

#include "win/text.h"
#include "win/unique_any.h"

namespace bench {

double Now()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

namespace {

bool UnderWine()
{
    static const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

std::string ReadSmallFile(const std::string& path)
{
    std::string text;
    const win::unique_file file(CreateFileA(path.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
    char buffer[4096];
    DWORD got = 0;
    while (file && ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got)
        text.append(buffer, got);
    return text;
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A child's own processor time.  Wine 8 answers GetProcessTimes of another
// process with the caller's times, so under Wine the child's Unix process is
// found in /proc by its command line (Wine gives it the Windows one: the
// program, then the arguments) and its stat read.  Times only grow: the
// largest reading counts, since the process's entry goes when it has ended.
class ProcessorTimes {
public:
    ProcessorTimes(const std::string& program, const std::string& arguments)
        : name_(Lower(program.substr(program.find_last_of("\\/") + 1)))
    {
        for (const char c : arguments)
            if (c != '"')
                arguments_ += c;
    }
    void Read(HANDLE process, ToolRun& run)
    {
        double user = 0, kernel = 0;
        if (!UnderWine()) {
            FILETIME created, ended, kernelTime, userTime;
            if (!GetProcessTimes(process, &created, &ended, &kernelTime, &userTime))
                return;
            user = Seconds(userTime);
            kernel = Seconds(kernelTime);
        } else if (!UnixTimes(user, kernel)) {
            return;
        }
        run.userSeconds = std::max(run.userSeconds, user);
        run.kernelSeconds = std::max(run.kernelSeconds, kernel);
    }

private:
    static double Seconds(const FILETIME& time)
    {
        return (static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime) / 1e7;
    }
    // The child's /proc entry: the program's name at the end of the first
    // field, then the arguments, one a field.
    bool Find()
    {
        WIN32_FIND_DATAA found;
        const win::unique_find search(FindFirstFileA("Z:\\proc\\*", &found));
        for (bool more = search.valid(); more; more = FindNextFileA(search.get(), &found)) {
            if (!std::isdigit(static_cast<unsigned char>(found.cFileName[0])))
                continue;
            const std::string entry = std::string("Z:\\proc\\") + found.cFileName + "\\";
            std::string line = ReadSmallFile(entry + "cmdline");
            const size_t first = line.find('\0');
            if (first == std::string::npos)
                continue;
            const std::string program = Lower(line.substr(0, first));
            std::string rest = line.substr(first + 1);
            while (!rest.empty() && rest.back() == '\0')
                rest.pop_back();
            std::replace(rest.begin(), rest.end(), '\0', ' ');
            if (rest == arguments_ && program.size() >= name_.size() &&
                program.compare(program.size() - name_.size(), name_.size(), name_) == 0) {
                stat_ = entry + "stat";
                return true;
            }
        }
        return false;
    }
    bool UnixTimes(double& user, double& kernel)
    {
        if (stat_.empty() && !Find())
            return false;
        // Fields 14 and 15 (utime, stime), in ticks of 1/100 s, after the
        // parenthesised name (field 2), which may hold spaces.
        const std::string stat = ReadSmallFile(stat_);
        const size_t name = stat.rfind(')');
        if (name == std::string::npos)
            return false;
        unsigned long long ticks[2] = {};
        if (std::sscanf(stat.c_str() + name + 1, " %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu %llu",
                        &ticks[0], &ticks[1]) != 2)
            return false;
        user = ticks[0] / 100.0;
        kernel = ticks[1] / 100.0;
        return true;
    }

    std::string name_, arguments_, stat_;
};

// Waits up to `ms` for `process` to end, answering meanwhile the messages of
// this thread's windows (a window that doesn't answer holds up its senders).
bool Ended(HANDLE process, DWORD ms)
{
    const DWORD woke = MsgWaitForMultipleObjects(1, &process, FALSE, ms, QS_ALLINPUT);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
    return woke == WAIT_OBJECT_0;
}

}  // namespace

// The peak counters and processor times are read while the program runs, the
// last time just before it ends, in case the system drops them with the
// process, and once more after.
ToolRun RunTimed(const std::string& program, const std::string& arguments, ChildOptions::Output output)
{
    ToolRun run;
    ChildOptions options;
    options.output = output;
    ChildProcess child;
    ProcessorTimes times(program, arguments);
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
        times.Read(child.Handle(), run);
        if (Ended(child.Handle(), 5))
            break;
    }
    const double end = Now();
    times.Read(child.Handle(), run);
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
