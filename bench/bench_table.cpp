#include "bench_table.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench_bare.h"
#include "vdev_client.h"
#include "win/text.h"
#include "win/unique_any.h"

namespace bench {

const std::vector<std::string> kOperations = {"read", "write", "compare"};


namespace {

constexpr double kMiB = 1024.0 * 1024.0;

bool ParseWireSize(const std::string& text, uint32_t& bytes)
{
    char* end = nullptr;
    const unsigned long long number = std::strtoull(text.c_str(), &end, 0);
    unsigned long long scale = 1;
    switch (*end) {
    case 'K': case 'k': scale = 1ull << 10; ++end; break;
    case 'M': case 'm': scale = 1ull << 20; ++end; break;
    case 'G': case 'g': scale = 1ull << 30; ++end; break;
    default: break;
    }
    if (end == text.c_str() || *end != '\0' || number == 0 || number > (1ull << 40))
        return false;
    const unsigned long long wire = number * scale;
    bytes = wire >= kLargestTransfer ? kLargestTransfer : static_cast<uint32_t>(wire);
    return bytes % 4 == 0;
}

std::vector<std::string> Split(const std::string& list)
{
    std::vector<std::string> items;
    for (size_t start = 0; start <= list.size();) {
        const size_t comma = std::min(list.find(',', start), list.size());
        items.push_back(list.substr(start, comma - start));
        start = comma + 1;
    }
    return items;
}

// The first line the program wrote to standard error, for a failed row.
std::string FirstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

std::string Failure(const char* who, const ToolRun& run)
{
    char code[32];
    std::snprintf(code, sizeof code, "exit %ld", static_cast<long>(run.exitCode));
    const std::string why = FirstLine(run.err);
    return std::string(who) + " failed (" + code + (why.empty() ? "" : ": " + why) + ")";
}

bool Succeeded(const Contender& contender, const ToolRun& run)
{
    return run.seconds >= 0 && (!contender.succeeded || contender.succeeded(run));
}

// A dump file of `size` bytes of the pattern.
bool MakeSource(const std::string& file, uint32_t size)
{
    win::unique_file out(CreateFileW(win::Widen(file, CP_ACP).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out)
        return false;
    std::vector<uint8_t> chunk(1u << 20);  // a whole number of pattern periods
    for (size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = PatternByte(i);
    for (uint32_t done = 0; done < size;) {
        const DWORD piece = static_cast<DWORD>(std::min<uint32_t>(size - done, chunk.size()));
        DWORD written = 0;
        if (!WriteFile(out.get(), chunk.data(), piece, &written, nullptr) || written != piece)
            return false;
        done += piece;
    }
    return true;
}

// The bare program's requests that stand against an operation; with its file,
// a compare is a mode of its own.
const char* BareMode(const std::string& operation, bool withFile)
{
    return operation == "write" ? "write-read" : operation == "compare" && withFile ? "compare" : "read";
}

// Medians of one side's successful rounds.
Times MedianTimes(const std::vector<ToolRun>& runs)
{
    Times times;
    if (runs.empty())
        return times;
    std::vector<double> seconds, user, kernel;
    for (const ToolRun& run : runs) {
        seconds.push_back(run.seconds);
        user.push_back(run.userSeconds);
        kernel.push_back(run.kernelSeconds);
    }
    times.seconds = Median(seconds);
    times.user = Median(user);
    times.kernel = Median(kernel);
    return times;
}

}  // namespace

bool ParseBenchOptions(int argc, char** argv, const std::vector<std::string>& known, BenchOptions& options)
{
    options.operations = known;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--rounds" && i + 1 < argc) {
            options.rounds = std::atoi(argv[++i]);
            if (options.rounds < 1) {
                std::fprintf(stderr, "--rounds takes a count of at least 1\n");
                return false;
            }
        } else if (argument == "--ops" && i + 1 < argc) {
            options.operations = Split(argv[++i]);
            for (const std::string& operation : options.operations)
                if (std::find(known.begin(), known.end(), operation) == known.end()) {
                    std::fprintf(stderr, "no operation is named '%s'\n", operation.c_str());
                    return false;
                }
        } else {
            uint32_t bytes = 0;
            if (!ParseWireSize(argument, bytes)) {
                std::fprintf(stderr, "'%s' is no size on the wire in units of 4 bytes (64M, 1G, 4G)\n",
                             argument.c_str());
                return false;
            }
            options.wireSizes.push_back(bytes);
        }
    }
    if (options.wireSizes.empty())
        options.wireSizes.push_back(64u << 20);
    return true;
}

std::string WireText(uint32_t wireBytes)
{
    char text[32];
    if (wireBytes == kLargestTransfer)
        return "4 GiB";
    if (wireBytes % (1u << 30) == 0)
        std::snprintf(text, sizeof text, "%u GiB", wireBytes >> 30);
    else if (wireBytes % (1u << 20) == 0)
        std::snprintf(text, sizeof text, "%u MiB", wireBytes >> 20);
    else
        std::snprintf(text, sizeof text, "%u B", wireBytes);
    return text;
}

Row MeasureRow(uint32_t wireBytes, const std::string& operation, int rounds, const Contender& measured,
               const Contender& bare, const Contender& storing, const ToolRun& idle,
               const std::function<void()>& afterRun)
{
    Row row;
    row.wireBytes = wireBytes;
    row.operation = operation;
    // A bare side whose buffer does not fit has no time, and is not run again.
    struct Side {
        const Contender& contender;
        const char* who;
        bool fits = true;
        std::vector<ToolRun> runs;
        std::vector<double> ratios;
    };
    std::vector<ToolRun> runs;
    Side sides[] = {{bare, "the bare call", true, {}, {}}, {storing, "the bare program with its file", true, {}, {}}};
    SIZE_T peak = 0;
    for (int i = 0; i < rounds; ++i) {
        ToolRun run, bareRuns[2];
        // Round i starts at side i mod 3: the measured program, then each bare one.
        for (int k = 0; k < 3; ++k) {
            const int which = (i + k) % 3;
            if (which == 0) {
                run = RunTimed(measured.program, measured.arguments, measured.output);
            } else if (sides[which - 1].fits) {
                const Contender& contender = sides[which - 1].contender;
                bareRuns[which - 1] = RunTimed(contender.program, contender.arguments, contender.output);
            }
            afterRun();
        }
        if (!Succeeded(measured, run)) {
            row.problem = Failure("the program", run);
            return row;
        }
        runs.push_back(run);
        peak = std::max(peak, run.peakCommitted);
        std::printf("  %s %s, round %d: %.3f s", WireText(wireBytes).c_str(), operation.c_str(), i + 1, run.seconds);
        for (int b = 0; b < 2; ++b) {
            Side& side = sides[b];
            if (side.fits && bareRuns[b].exitCode == static_cast<DWORD>(kBareDoesNotFit)) {
                side.fits = false;
            } else if (side.fits && !Succeeded(side.contender, bareRuns[b])) {
                row.problem = Failure(side.who, bareRuns[b]);
                return row;
            } else if (side.fits) {
                side.runs.push_back(bareRuns[b]);
                side.ratios.push_back(run.seconds / bareRuns[b].seconds);
            }
            std::printf(", %s %.3f s", b ? "storing" : "bare", side.fits ? bareRuns[b].seconds : -1.0);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    row.measured = MedianTimes(runs);
    Times* bareTimes[] = {&row.bare, &row.storing};
    for (int b = 0; b < 2; ++b)
        if (sides[b].fits) {
            *bareTimes[b] = MedianTimes(sides[b].runs);
            bareTimes[b]->ratio = Median(sides[b].ratios);
        }
    row.overIdle = static_cast<double>(peak) - static_cast<double>(idle.peakCommitted);
    return row;
}

std::vector<Row> MeasureOperations(const BenchOptions& options, const ToolRun& idle, const MeasuredRun& measured)
{
    std::vector<Row> rows;
    // Wine's desktop process runs while some process has a window and ends
    // about a second after the last one goes: between rounds it would stop
    // and start again, its start charged to the first program that makes a
    // window (the measured one's progress window, never the bare program's)
    // and its work to every program beside it.  A Windows machine has its
    // desktop all along; the bench keeps Wine's with a hidden window.
    const win::unique_window desktop(
        CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr));
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string source = std::string(temp) + "bench-source.bin", output = std::string(temp) + "bench-output.bin",
                      bareOutput = std::string(temp) + "bench-bare-output.bin";
    const std::string bareProgram = ProgramFolder() + "uxfer_bench_bare.exe";
    vdev::Device device;
    const bool opened = device.Open(0);
    for (const uint32_t wire : options.wireSizes) {
        const uint32_t words = wire / 2;
        const auto skip = [&](const std::string& why) {
            for (const std::string& operation : options.operations)
                rows.push_back(Row{wire, operation, {}, {}, {}, 0, why});
        };
        if (!opened || !device.Reset() || !device.SetMemorySize(wire)) {
            skip("the virtual device has no memory of this size");
            continue;
        }
        const bool needsSource = std::find_if(options.operations.begin(), options.operations.end(),
                                              [](const std::string& op) { return op != "read"; }) !=
                                 options.operations.end();
        if (needsSource && !MakeSource(source, words)) {
            skip("the source file could not be made");
            continue;
        }
        bool loaded = false;  // device memory holds the source file's content
        for (const std::string& operation : options.operations) {
            const Contender bare{bareProgram, std::string(BareMode(operation, false)) + " " + std::to_string(wire),
                                 ChildOptions::Output::Discarded, nullptr};
            const std::string bareFile = operation == "read" ? bareOutput : source;
            const Contender storing{bareProgram,
                                    std::string(BareMode(operation, true)) + " " + std::to_string(wire) + " \"" +
                                        bareFile + "\"",
                                    ChildOptions::Output::Discarded, nullptr};
            if (operation == "compare" && !loaded) {
                const ToolRun load = RunTimed(bareProgram, "write " + std::to_string(wire));
                if (load.seconds < 0) {
                    rows.push_back(Row{wire, operation, {}, {}, {}, 0, Failure("loading the device", load)});
                    continue;
                }
            }
            rows.push_back(MeasureRow(wire, operation, options.rounds, measured(operation, words, source, output), bare,
                                      storing, idle, [&] {
                                          DeleteFileA(output.c_str());
                                          DeleteFileA(bareOutput.c_str());
                                      }));
            loaded = loaded || (operation == "write" && rows.back().problem.empty());
        }
        DeleteFileA(source.c_str());
    }
    if (opened) {
        device.Reset();
        device.SetMemorySize(VDEV_DEFAULT_MEMORY_BYTES);
    }
    return rows;
}

namespace {

// "0.412 s (0.10+0.08)": wall time, then user and kernel processor time.
std::string TimesText(const Times& times)
{
    char text[48];
    if (times.seconds < 0)
        return "no fit";
    std::snprintf(text, sizeof text, "%.3f s (%.2f+%.2f)", times.seconds, times.user, times.kernel);
    return text;
}

// "1.031 yes": the measured program's ratio against a bare side and whether it meets `goal`.
std::string RatioText(const Times& side, double goal)
{
    char text[24];
    if (side.ratio < 0)
        return "- n/a";
    std::snprintf(text, sizeof text, "%.3f %s", side.ratio, side.ratio <= goal ? "yes" : "no");
    return text;
}

}  // namespace

void PrintTable(const std::string& title, const std::vector<Row>& rows)
{
    std::printf("%s\n", title.c_str());
    char bareGoal[32], storingGoal[32];
    std::snprintf(bareGoal, sizeof bareGoal, "ratio (%.2f)", kTimeGoal);
    std::snprintf(storingGoal, sizeof storingGoal, "ratio (%.2f)", kStoringTimeGoal);
    std::printf("  %-7s %-9s %-22s %-22s %-12s %-22s %-12s %-19s\n", "wire", "operation", "median", "bare",
                bareGoal, "bare with file", storingGoal, "over idle (16 MiB)");
    for (const Row& row : rows) {
        std::printf("  %-7s %-9s ", WireText(row.wireBytes).c_str(), row.operation.c_str());
        if (!row.problem.empty()) {
            std::printf("%s\n", row.problem.c_str());
            continue;
        }
        std::printf("%-22s %-22s %-12s %-22s %-12s %6.1f MiB %s\n", TimesText(row.measured).c_str(),
                    TimesText(row.bare).c_str(), RatioText(row.bare, kTimeGoal).c_str(),
                    TimesText(row.storing).c_str(), RatioText(row.storing, kStoringTimeGoal).c_str(),
                    row.overIdle / kMiB, row.overIdle <= kMemoryGoalBytes ? "yes" : "no");
    }
    std::printf("  median: whole processes, from creation to end, with the processor time of the process itself\n"
                "  (user+kernel, s; the device's and Wine's server's work is not in it); bare: the same device\n"
                "  requests in a bare program of this bitness; bare with file: that program also keeping the\n"
                "  dump in a file, as a user would write it (read: the dump stored and flushed; write: the file\n"
                "  read, written, read back and compared; compare: the file read and compared); ratio: median\n"
                "  of the per-round ratios, against its goal; over idle: peak committed memory beyond the\n"
                "  program's idle run\n");
}

}  // namespace bench
