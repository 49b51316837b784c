// uxfer_bench_linux [--rounds N] [--ops write,compare,read] [SIZE...]
//   (defaults: 3 rounds, every operation, 64M)
// The Linux uxfer against uxfer_bench_bare_linux, the program a user would
// write instead with plain libusb calls, on one USB test bed: the program
// starts itself again under usbbed_run (a device at port 1-2 whose memory
// holds the largest size), then at each SIZE (device words, = file bytes; K,
// M, G) runs, each as a whole child process, in each round in another order:
//   write    uxfer write SRC --size S --verify  against  bare write-read SRC;
//   compare  uxfer compare SRC --size S         against  bare compare SRC;
//   read     uxfer read OUT --size S            against  bare read OUT.
// For each row: the median wall time and user+system time of each, the
// median of the per-round ratios, and uxfer's peak resident memory (the
// child's ru_maxrss) against an idle uxfer (--version), each against its goal.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "devicemodel/model_layout.h"

extern char** environ;

namespace {

constexpr double kTimeGoal = 1.05;
constexpr double kMemoryGoalMiB = 16;
constexpr uint64_t kLargestWords = 0x7FFFFFFE;
const std::vector<std::string> kOperations = {"write", "compare", "read"};
const char kPort[] = "1-2";

struct Run {
    bool ok = false;
    double seconds = 0;
    double cpu = 0;       // user + system
    double peakMiB = 0;   // ru_maxrss
    std::string output;   // stdout and stderr, kept to tell a failure
};

struct Options {
    int rounds = 3;
    std::vector<std::string> operations = kOperations;
    std::vector<uint64_t> sizes;  // words
};

std::string folder;   // of this program: uxfer, usbbed_run and the bare program are beside it
std::string scratch;  // the bench's own temporary folder

std::string ReadAll(const std::string& path)
{
    std::string text;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        char block[4096];
        for (size_t got; (got = std::fread(block, 1, sizeof block, file)) > 0;)
            text.append(block, got);
        std::fclose(file);
    }
    return text;
}

// One child, its output in a file, timed from its start to its end.
Run RunTimed(const std::vector<std::string>& command)
{
    Run run;
    const std::string log = scratch + "/child.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> argv;
    for (const std::string& argument : command)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    const auto start = std::chrono::steady_clock::now();
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        run.output = std::string("can't start ") + argv[0] + ": " + std::strerror(spawned);
        return run;
    }
    int status = 0;
    rusage usage = {};
    while (wait4(child, &status, 0, &usage) < 0) {
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    run.peakMiB = usage.ru_maxrss / 1024.0;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    run.output = ReadAll(log);
    if (!run.ok && run.output.empty())
        run.output = "exit " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return run;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool ParseSize(const char* text, uint64_t& words)
{
    char* end = nullptr;
    words = std::strtoull(text, &end, 0);
    const std::string unit = end;
    const int shift = unit.empty() ? 0 : unit == "K" ? 10 : unit == "M" ? 20 : unit == "G" ? 30 : -1;
    if (shift < 0 || words == 0)
        return false;
    words <<= shift;
    return words % 2 == 0 && words <= kLargestWords;
}

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--rounds" && i + 1 < argc) {
            options.rounds = std::atoi(argv[++i]);
            if (options.rounds < 1)
                return false;
        } else if (argument == "--ops" && i + 1 < argc) {
            options.operations.clear();
            std::string list = argv[++i];
            for (size_t start = 0; start <= list.size();) {
                const size_t comma = std::min(list.find(',', start), list.size());
                options.operations.push_back(list.substr(start, comma - start));
                if (std::find(kOperations.begin(), kOperations.end(), options.operations.back()) == kOperations.end())
                    return false;
                start = comma + 1;
            }
        } else {
            uint64_t words = 0;
            if (!ParseSize(argv[i], words))
                return false;
            options.sizes.push_back(words);
        }
    }
    if (options.sizes.empty())
        options.sizes.push_back(64u << 20);
    return true;
}

std::string SizeText(uint64_t words)
{
    char text[32];
    if (words % (1u << 30) == 0)
        std::snprintf(text, sizeof text, "%llu GiB", static_cast<unsigned long long>(words >> 30));
    else if (words % (1u << 20) == 0)
        std::snprintf(text, sizeof text, "%llu MiB", static_cast<unsigned long long>(words >> 20));
    else
        std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(words));
    return text;
}

// A source file that is not one repeated byte, written a block at a time
// so that this process stays small (its children's peaks start from it).
bool MakeSource(const std::string& path, uint64_t bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    std::vector<unsigned char> block(1u << 20);
    bool ok = true;
    for (uint64_t at = 0; ok && at < bytes; at += block.size()) {
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<unsigned char>((at + i) * 7 + ((at + i) >> 12));
        ok = std::fwrite(block.data(), 1, std::min<uint64_t>(block.size(), bytes - at), file) > 0;
    }
    return std::fclose(file) == 0 && ok;
}

struct Row {
    uint64_t words = 0;
    std::string operation;
    double uxferSeconds = 0, uxferCpu = 0, bareSeconds = 0, bareCpu = 0;
    double wallRatio = 0, cpuRatio = 0;
    double uxferPeak = 0, barePeak = 0;
    std::string problem;
};

Row Measure(uint64_t words, const std::string& operation, int rounds, const std::string& source)
{
    Row row;
    row.words = words;
    row.operation = operation;
    const std::string output = scratch + "/dump.bin", size = std::to_string(words);
    const std::string file = operation == "read" ? output : source;
    std::vector<std::string> uxfer = {folder + "/uxfer", operation, file, "--size", size, "--quiet"};
    if (operation == "write")
        uxfer.push_back("--verify");
    const std::vector<std::string> bare = {folder + "/uxfer_bench_bare_linux",
                                           operation == "write" ? "write-read" : operation, size, file};
    std::vector<double> uxferSeconds, uxferCpu, bareSeconds, bareCpu, wallRatios, cpuRatios;
    for (int round = 0; round < rounds; ++round) {
        Run runs[2];
        for (int k = 0; k < 2; ++k) {
            // Each round in the other order, so that neither always runs first.
            const int which = (k + round) % 2;
            runs[which] = RunTimed(which == 0 ? uxfer : bare);
            std::remove(output.c_str());
            if (!runs[which].ok) {
                row.problem = (which == 0 ? "uxfer: " : "bare: ") + runs[which].output;
                row.problem.erase(row.problem.find_last_not_of("\n") + 1);
                return row;
            }
        }
        uxferSeconds.push_back(runs[0].seconds);
        uxferCpu.push_back(runs[0].cpu);
        bareSeconds.push_back(runs[1].seconds);
        bareCpu.push_back(runs[1].cpu);
        wallRatios.push_back(runs[0].seconds / runs[1].seconds);
        cpuRatios.push_back(runs[0].cpu / std::max(runs[1].cpu, 1e-3));
        row.uxferPeak = std::max(row.uxferPeak, runs[0].peakMiB);
        row.barePeak = std::max(row.barePeak, runs[1].peakMiB);
    }
    row.uxferSeconds = Median(uxferSeconds);
    row.uxferCpu = Median(uxferCpu);
    row.bareSeconds = Median(bareSeconds);
    row.bareCpu = Median(bareCpu);
    row.wallRatio = Median(wallRatios);
    row.cpuRatio = Median(cpuRatios);
    return row;
}

// This process's own peak, MiB: a child's ru_maxrss starts from it, as the
// kernel counts the pages of the process that started it until its exec.
double OwnPeak()
{
    const std::string status = ReadAll("/proc/self/status");
    const size_t at = status.find("VmHWM:");
    return at == std::string::npos ? 0 : std::atof(status.c_str() + at + 6) / 1024;
}

void PrintTable(const Options& options, double idlePeak, const std::vector<Row>& rows)
{
    std::printf("uxfer against a bare libusb program making the same requests, %d rounds; an idle uxfer peaks at "
                "%.1f MiB resident:\n",
                options.rounds, idlePeak);
    std::printf("  %-7s %-9s %-16s %-16s %-15s %-10s %-22s %s\n", "size", "operation", "uxfer s (cpu)", "bare s (cpu)",
                "ratio (1.05)", "cpu ratio", "uxfer peak (idle+16)", "bare peak");
    for (const Row& row : rows) {
        std::printf("  %-7s %-9s ", SizeText(row.words).c_str(), row.operation.c_str());
        if (!row.problem.empty()) {
            std::printf("%s\n", row.problem.c_str());
            continue;
        }
        char uxfer[32], bare[32], ratio[32], peak[32];
        std::snprintf(uxfer, sizeof uxfer, "%.2f (%.2f)", row.uxferSeconds, row.uxferCpu);
        std::snprintf(bare, sizeof bare, "%.2f (%.2f)", row.bareSeconds, row.bareCpu);
        std::snprintf(ratio, sizeof ratio, "%.3f %s", row.wallRatio, row.wallRatio <= kTimeGoal ? "PASS" : "MISS");
        std::snprintf(peak, sizeof peak, "%.1f MiB %s", row.uxferPeak,
                      row.uxferPeak - idlePeak <= kMemoryGoalMiB ? "PASS" : "MISS");
        std::printf("%-16s %-16s %-15s %-10.2f %-22s %.1f MiB\n", uxfer, bare, ratio, row.cpuRatio, peak,
                    row.barePeak);
    }
    std::printf("  size: device words (= file bytes; twice that on the wire); s: median wall time of the whole\n"
                "  process, with its own user+system time (the bed's work is not in it); ratio: median of the\n"
                "  per-round wall-time ratios uxfer/bare, against 1.05; peak: largest ru_maxrss of the child,\n"
                "  against the idle uxfer's plus 16 MiB; every child's peak includes the %.1f MiB this\n"
                "  process held when it started it\n",
                OwnPeak());
}

int Bench(const Options& options)
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : P_tmpdir) + "/uxfer_bench.XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data()))
        return std::fprintf(stderr, "uxfer_bench_linux: no temporary folder: %s\n", std::strerror(errno)), 2;
    scratch = name.data();
    // The largest of a few idle runs: one this short may not show its usual peak.
    double idlePeak = 0;
    for (int i = 0; i < 3; ++i) {
        const Run idle = RunTimed({folder + "/uxfer", "--version"});
        if (!idle.ok)
            return std::fprintf(stderr, "uxfer_bench_linux: an idle uxfer failed: %s\n", idle.output.c_str()), 1;
        idlePeak = std::max(idlePeak, idle.peakMiB);
    }
    std::vector<Row> rows;
    const std::string source = scratch + "/source.bin";
    for (uint64_t words : options.sizes) {
        if (!MakeSource(source, words))
            return std::fprintf(stderr, "uxfer_bench_linux: can't make %s\n", source.c_str()), 2;
        // A compare finds the source's content in the device.
        const bool writes = std::find(options.operations.begin(), options.operations.end(), "write") !=
                            options.operations.end();
        if (!writes)
            RunTimed({folder + "/uxfer", "write", source, "--size", std::to_string(words), "--quiet"});
        for (const std::string& operation : options.operations) {
            rows.push_back(Measure(words, operation, options.rounds, source));
            std::fprintf(stderr, "uxfer_bench_linux: %s %s done\n", SizeText(words).c_str(), operation.c_str());
        }
        std::remove(source.c_str());
    }
    std::remove((scratch + "/child.log").c_str());
    rmdir(scratch.c_str());
    PrintTable(options, idlePeak, rows);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool inBed = argc > 1 && std::strcmp(argv[1], "--in-bed") == 0;
    Options options;
    if (!ParseOptions(argc - inBed, argv + inBed, options)) {
        std::fprintf(stderr, "usage: uxfer_bench_linux [--rounds N] [--ops write,compare,read] [SIZE...]\n"
                             "  SIZE: device words (= file bytes), an even count with K, M or G; default 64M\n");
        return 2;
    }
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return 2;
    self[length] = '\0';
    folder = std::string(self, std::strrchr(self, '/') - self);
    if (inBed)
        return Bench(options);
    // One bed for the whole run, its device's memory as large as the largest size on the wire.
    const uint64_t memory = 2 * *std::max_element(options.sizes.begin(), options.sizes.end());
    std::vector<std::string> command = {folder + "/usbbed_run", "--device", kPort,
                                        "--knob", std::string(kPort) + ":" + std::to_string(VDEV_KNOB_MEMORY_BYTES) + ":" + std::to_string(memory),
                                        "--", self, "--in-bed"};
    command.insert(command.end(), argv + 1, argv + argc);
    std::vector<char*> args;
    for (std::string& argument : command)
        args.push_back(argument.data());
    args.push_back(nullptr);
    execv(args[0], args.data());
    std::fprintf(stderr, "uxfer_bench_linux: can't start %s: %s\n", args[0], std::strerror(errno));
    return 2;
}
