// auto_bench.exe [--rounds N] [--ops read,write,compare] [SIZE...]
//   (under the test bed; defaults: 5 rounds, every operation, 64M)
// uXfer.Device of this program's bitness, called from VBScript in the script
// host of the same bitness, against the bare program of that bitness making
// the same device requests, each a whole process started the same way (with
// the shim, as vdevrun starts programs), at each SIZE on the wire (64M, 1G;
// 4G is the largest transfer, 0x7FFFFFFE words, for the x64 edition):
//   read     ReadToFile of FILE                 against one uXferRead;
//   write    WriteFromFile of FILE, verified    against a uXferWrite and a
//            uXferRead back;
//   compare  CompareWithFile of FILE            against one uXferRead;
// and against the bare program that also keeps the dump in a file.  For each
// row: the median time and processor time of each, the median of the
// per-round time ratios against each bare program (where its buffer fits),
// and the peak memory the script host committed beyond one that only created
// the object, each against its goal.
// The server is registered for the machine while it runs (Wine 8's COM
// activation finds no class registered for one user only), so the test bed's
// prefix must not be in use by tests.
#include <windows.h>

#include <cstdio>
#include <string>

#include "bench_table.h"
#include "uXfer.h"
#include "vdev_shim.h"

namespace {

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
    return run.out.find("auto_bench: done") != std::string::npos;
}

}  // namespace

int main(int argc, char** argv)
{
    bench::BenchOptions options;
    if (!bench::ParseBenchOptions(argc, argv, bench::kOperations, options))
        return 2;
    char systemFolder[MAX_PATH] = {};
    GetSystemDirectoryA(systemFolder, MAX_PATH);
    const std::string system = std::string(systemFolder) + "\\";
    if (!Regsvr32(system, "")) {
        std::fprintf(stderr, "auto_bench: regsvr32 of %suXferAuto.dll failed\n", ProgramFolder().c_str());
        return 2;
    }
    if (!VdevShimInstall() || !VdevShimFollowChildren((ProgramFolder() + "vdevshim.dll").c_str())) {
        std::fprintf(stderr, "auto_bench: the virtual device is not ready\n");
        Regsvr32(system, "/u ");
        return 2;
    }
    uSetDelay(0);  // shared with the server in the script host and the bare program
    uSetInstance(0);

    const std::string cscript = system + "cscript.exe";
    const std::string script = "//nologo \"" + ProgramFolder() + "auto_bench.vbs\"";
    const auto captured = ChildOptions::Output::Separate;  // the script's last line proves it got through
    const bench::ToolRun idle = bench::IdleRun(cscript, script, captured);
    const bool idleDone = idle.seconds >= 0 && ScriptDone(idle);
    const auto measured = [&](const std::string& operation, uint32_t words, const std::string& source,
                              const std::string& output) {
        const std::string file = operation == "read" ? output : source;
        return bench::Contender{cscript, script + " " + operation + " \"" + file + "\" " + std::to_string(words),
                                captured, ScriptDone};
    };
    const std::vector<bench::Row> rows =
        idleDone ? bench::MeasureOperations(options, idle, measured) : std::vector<bench::Row>{};
    uSetDelay(100);
    Regsvr32(system, "/u ");
    if (!idleDone) {
        std::fprintf(stderr, "auto_bench: the idle script failed: %s%s\n", idle.out.c_str(), idle.err.c_str());
        return 1;
    }
    char title[200];
    std::snprintf(title, sizeof title,
                  "uXfer.Device (%d-bit) from VBScript against bare uXfer calls without and with the file, %d "
                  "rounds; a script host with "
                  "only the object commits %.1f MiB:",
                  static_cast<int>(sizeof(void*) * 8), options.rounds, idle.peakCommitted / 1048576.0);
    bench::PrintTable(title, rows);
    return 0;
}
