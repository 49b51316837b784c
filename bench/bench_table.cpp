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

// The bare program's requests that stand against an operation.
const char* BareMode(const std::string& operation)
{
    return operation == "write" ? "write-read" : "read";
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
               const Contender& bare, const ToolRun& idle, const std::function<void()>& afterRun)
{
    Row row;
    row.wireBytes = wireBytes;
    row.operation = operation;
    std::vector<double> times, bareTimes, ratios;
    SIZE_T peak = 0;
    bool bareFits = true;
    for (int i = 0; i < rounds; ++i) {
        ToolRun run, bareRun;
        const auto runMeasured = [&] {
            run = RunTimed(measured.program, measured.arguments, measured.output);
            afterRun();
        };
        const auto runBare = [&] {
            if (bareFits)
                bareRun = RunTimed(bare.program, bare.arguments, bare.output);
        };
        if (i % 2) {
            runBare();
            runMeasured();
        } else {
            runMeasured();
            runBare();
        }
        if (!Succeeded(measured, run)) {
            row.problem = Failure("the program", run);
            return row;
        }
        times.push_back(run.seconds);
        peak = std::max(peak, run.peakCommitted);
        if (bareFits && bareRun.exitCode == static_cast<DWORD>(kBareDoesNotFit)) {
            bareFits = false;
        } else if (bareFits && !Succeeded(bare, bareRun)) {
            row.problem = Failure("the bare call", bareRun);
            return row;
        } else if (bareFits) {
            bareTimes.push_back(bareRun.seconds);
            ratios.push_back(run.seconds / bareRun.seconds);
        }
        std::printf("  %s %s, round %d: %.3f s, bare %.3f s\n", WireText(wireBytes).c_str(), operation.c_str(),
                    i + 1, run.seconds, bareFits ? bareRun.seconds : -1.0);
        std::fflush(stdout);
    }
    row.seconds = Median(times);
    if (bareFits) {
        row.bareSeconds = Median(bareTimes);
        row.ratio = Median(ratios);
    }
    row.overIdle = static_cast<double>(peak) - static_cast<double>(idle.peakCommitted);
    return row;
}

std::vector<Row> MeasureOperations(const BenchOptions& options, const ToolRun& idle, const MeasuredRun& measured)
{
    std::vector<Row> rows;
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string source = std::string(temp) + "bench-source.bin", output = std::string(temp) + "bench-output.bin";
    const std::string bareProgram = ProgramFolder() + "uxfer_bench_bare.exe";
    vdev::Device device;
    const bool opened = device.Open(0);
    for (const uint32_t wire : options.wireSizes) {
        const uint32_t words = wire / 2;
        const auto skip = [&](const std::string& why) {
            for (const std::string& operation : options.operations)
                rows.push_back(Row{wire, operation, -1, -1, -1, 0, why});
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
            const Contender bare{bareProgram, std::string(BareMode(operation)) + " " + std::to_string(wire),
                                 ChildOptions::Output::Discarded, nullptr};
            if (operation == "compare" && !loaded) {
                const ToolRun load = RunTimed(bareProgram, "write " + std::to_string(wire));
                if (load.seconds < 0) {
                    rows.push_back(Row{wire, operation, -1, -1, -1, 0, Failure("loading the device", load)});
                    continue;
                }
            }
            rows.push_back(MeasureRow(wire, operation, options.rounds, measured(operation, words, source, output), bare,
                                      idle, [&] { DeleteFileA(output.c_str()); }));
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

void PrintTable(const std::string& title, const std::vector<Row>& rows)
{
    std::printf("%s\n", title.c_str());
    std::printf("  %-7s %-15s %9s %9s %7s %-11s %12s %-14s\n", "wire", "operation", "median", "bare", "ratio",
                kTimeGoal > 1.06 ? "met (1.10)" : "met (1.05)", "over idle", "met (16 MiB)");
    for (const Row& row : rows) {
        std::printf("  %-7s %-15s ", WireText(row.wireBytes).c_str(), row.operation.c_str());
        if (!row.problem.empty()) {
            std::printf("%s\n", row.problem.c_str());
            continue;
        }
        char bare[16] = "no fit", ratio[16] = "-";
        const char* timeMet = "n/a";
        if (row.ratio >= 0) {
            std::snprintf(bare, sizeof bare, "%.3f s", row.bareSeconds);
            std::snprintf(ratio, sizeof ratio, "%.3f", row.ratio);
            timeMet = row.ratio <= kTimeGoal ? "yes" : "no";
        }
        std::printf("%7.3f s %9s %7s %-11s %8.1f MiB %-14s\n", row.seconds, bare, ratio, timeMet,
                    row.overIdle / kMiB, row.overIdle <= kMemoryGoalBytes ? "yes" : "no");
    }
    std::printf("  median: whole processes, from creation to end; bare: the same device requests in a bare\n"
                "  program of this bitness; over idle: peak committed memory beyond the program's idle run\n");
}

}  // namespace bench
