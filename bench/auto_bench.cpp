// auto_bench.exe [MiB] [rounds]   (under the test bed; defaults 64 and 5)
// A dump through the automation object from a script against the same dump by
// uxfer, each a whole process started the same way (with the shim, as vdevrun
// starts programs), timed from creation to end in interleaved rounds:
//   cscript //nologo auto_bench_read.vbs FILE S: the script host, uXfer.Device
//     created, one ReadToFile of S words from address 0;
//   uxfer read FILE --size S --quiet.
// Both send the reset command and one read, convert and write the file
// through a temporary one.  Prints the median of the per-round time ratios
// (goal: at most 1.05) and each process's peak committed memory (goal: the
// script host's no more than uxfer's).  The server is registered for the
// machine while it runs (Wine 8's COM activation finds no class registered
// for one user only), so the test bed's prefix must not be in use by tests.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "timed_run.h"
#include "uXfer.h"
#include "vdev_client.h"
#include "vdev_shim.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kTimeGoal = 1.05;

// The system folder's regsvr32, of this program's bitness (a 32-bit program's
// System32 leads to SysWOW64 on a 64-bit Windows).
bool Regsvr32(const std::string& system, const std::string& switches)
{
    const CommandResult run =
        RunCommand("\"" + system + "regsvr32.exe\" /s " + switches + "\"" + ProgramFolder() + "uXferAuto.dll\"");
    return run.finished && run.exitCode == 0;
}

bool ScriptDone(const bench::ToolRun& run)
{
    return run.seconds > 0 && run.out.find("auto_bench_read: done") != std::string::npos;
}

}  // namespace

int main(int argc, char** argv)
{
    const uint32_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 0) : 64;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const uint32_t size = mib << 20;
    char systemFolder[MAX_PATH] = {};
    GetSystemDirectoryA(systemFolder, MAX_PATH);
    const std::string system = std::string(systemFolder) + "\\";
    if (!Regsvr32(system, "")) {
        std::fprintf(stderr, "auto_bench: regsvr32 of %suXferAuto.dll failed\n", ProgramFolder().c_str());
        return 2;
    }
    vdev::Device device;
    if (!VdevShimInstall() || !VdevShimFollowChildren((ProgramFolder() + "vdevshim.dll").c_str()) || !device.Open(0) ||
        !device.Reset() || !device.SetMemorySize(2 * size)) {
        std::fprintf(stderr, "auto_bench: the virtual device is not ready\n");
        Regsvr32(system, "/u ");
        return 2;
    }
    uSetDelay(0);  // shared with the uxfer processes and the server in the script host
    uSetInstance(0);
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string file = std::string(temp) + "auto-bench.bin";

    const std::string uxfer = ProgramFolder() + "uxfer.exe", cscript = system + "cscript.exe";
    const std::string read = "read \"" + file + "\" --size " + std::to_string(size) + " --quiet";
    const std::string script = "//nologo \"" + ProgramFolder() + "auto_bench_read.vbs\"";
    const std::string scriptRead = script + " \"" + file + "\" " + std::to_string(size);
    // Both captured the same way: the script's last line proves it got through.
    const auto captured = ChildOptions::Output::Separate;
    const bench::ToolRun idleTool = bench::IdleRun(uxfer, "--version", captured);
    const bench::ToolRun idleScript = bench::IdleRun(cscript, script, captured);
    bool ok = idleTool.seconds > 0 && ScriptDone(idleScript);
    if (!ok)
        std::fprintf(stderr, "auto_bench: the idle runs failed: %s\n", idleScript.out.c_str());
    std::vector<double> ratios, scriptTimes, toolTimes;
    SIZE_T scriptPeak = 0, toolPeak = 0;
    for (int i = 0; i < rounds && ok; ++i) {
        // Alternate the order so that neither side always runs second.
        bench::ToolRun scriptRun, tool;
        if (i % 2) {
            tool = bench::RunTimed(uxfer, read, captured);
            DeleteFileA(file.c_str());
            scriptRun = bench::RunTimed(cscript, scriptRead, captured);
        } else {
            scriptRun = bench::RunTimed(cscript, scriptRead, captured);
            DeleteFileA(file.c_str());
            tool = bench::RunTimed(uxfer, read, captured);
        }
        DeleteFileA(file.c_str());
        std::printf("  round %d: script ReadToFile %.3f s, uxfer read %.3f s, ratio %.3f\n", i + 1,
                    scriptRun.seconds, tool.seconds, scriptRun.seconds / tool.seconds);
        ok = ScriptDone(scriptRun) && tool.seconds > 0;
        if (!ok)
            std::fprintf(stderr, "auto_bench: a read failed: %s\n", scriptRun.out.c_str());
        ratios.push_back(scriptRun.seconds / tool.seconds);
        scriptTimes.push_back(scriptRun.seconds);
        toolTimes.push_back(tool.seconds);
        scriptPeak = std::max(scriptPeak, scriptRun.peakCommitted);
        toolPeak = std::max(toolPeak, tool.peakCommitted);
    }
    device.Reset();
    device.SetMemorySize(VDEV_DEFAULT_MEMORY_BYTES);
    uSetDelay(100);
    Regsvr32(system, "/u ");
    if (!ok)
        return 1;

    const double ratio = bench::Median(ratios);
    std::printf("ReadToFile of %u MiB from VBScript against uxfer read (%u MiB on the wire), %d rounds, medians:\n",
                mib, 2 * mib, rounds);
    std::printf("  script %.3f s, uxfer %.3f s (whole processes; an idle script host with the object takes %.3f s,\n"
                "  an idle uxfer %.3f s)\n",
                bench::Median(scriptTimes), bench::Median(toolTimes), idleScript.seconds, idleTool.seconds);
    std::printf("  time ratio %.3f (goal at most %.2f): %s\n", ratio, kTimeGoal, ratio <= kTimeGoal ? "met" : "MISSED");
    // Other work on the machine only ever adds time: the fastest runs are the
    // least disturbed, and their ratio tells whether the median was luck.
    std::printf("  fastest script %.3f s against fastest uxfer %.3f s: ratio %.3f\n", bench::Fastest(scriptTimes),
                bench::Fastest(toolTimes), bench::Fastest(scriptTimes) / bench::Fastest(toolTimes));
    std::printf("  peak committed: script host %.1f MiB, uxfer %.1f MiB (goal: the script host's no more): %s\n",
                scriptPeak / kMiB, toolPeak / kMiB, scriptPeak <= toolPeak ? "met" : "MISSED");
    std::printf("  beyond an idle process: script host %.1f MiB (idle %.1f MiB), uxfer %.1f MiB (idle %.1f MiB)\n",
                (static_cast<double>(scriptPeak) - static_cast<double>(idleScript.peakCommitted)) / kMiB,
                idleScript.peakCommitted / kMiB,
                (static_cast<double>(toolPeak) - static_cast<double>(idleTool.peakCommitted)) / kMiB,
                idleTool.peakCommitted / kMiB);
    return 0;
}
