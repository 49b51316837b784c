// Where uXferAuto.dll takes uXfer.dll from: beside itself (or the system
// folder), never the host's current folder or PATH.  A copy of the server
// alone in a folder, registered for the machine, with a working uXfer.dll
// planted where the loader's search would look; the compiled client creates
// the object with the planted folder current or on PATH.
#include "automation/auto_support.h"

namespace {

struct LoadCase {
    const char* name;
    bool beside;   // uXfer.dll beside the copy of the server
    bool onPath;   // the planted uXfer.dll on PATH rather than in the current folder
    bool created;  // else the creation fails with ERROR_MOD_NOT_FOUND
};

void PrintTo(const LoadCase& c, std::ostream* os)
{
    *os << c.name;
}

// Back to the suite's registration of the DLL in the program folder.
class AutoCopies : public AutoTest {
protected:
    void TearDown() override { EXPECT_EQ(0, Regsvr32("")); }
};

class AutoLoad : public AutoCopies, public testing::WithParamInterface<LoadCase> {};

TEST_P(AutoLoad, TakesUxferFromItsOwnFolderOnly)
{
    const LoadCase& c = GetParam();
    dumptest::ScratchFolder server, planted, current;
    const std::string uxfer = ProgramFolder() + "uXfer.dll";
    ASSERT_TRUE(CopyFileA(AutoDll().c_str(), server.File("uXferAuto.dll").c_str(), FALSE));
    if (c.beside) {
        ASSERT_TRUE(CopyFileA(uxfer.c_str(), server.File("uXfer.dll").c_str(), FALSE));
    }
    ASSERT_TRUE(CopyFileA(uxfer.c_str(), planted.File("uXfer.dll").c_str(), FALSE));
    const std::string folder = c.onPath ? current.File("") : planted.File("");
    char path[32768] = {};
    GetEnvironmentVariableA("PATH", path, sizeof path);
    if (c.onPath)
        SetEnvironmentVariableA("PATH", (planted.File("") + ";" + path).c_str());
    const int registered = Regsvr32("", server.File("uXferAuto.dll"), folder);
    const CommandResult run =
        RunLaunched(Quoted(ProgramFolder() + "dispatch_client.exe") + " " + Quoted(current.File("dump.bin")), folder);
    SetEnvironmentVariableA("PATH", path);
    ASSERT_EQ(0, registered);
    if (c.created) {
        EXPECT_EQ(0u, run.exitCode) << run.output;
    } else {
        EXPECT_NE(0u, run.exitCode);
        EXPECT_NE(std::string::npos, run.output.find("can't be created (0x8007007E)")) << run.output;
    }
}

INSTANTIATE_TEST_SUITE_P(Places, AutoLoad,
                         testing::Values(LoadCase{"Beside", true, false, true},
                                         LoadCase{"PlantedInTheCurrentFolder", false, false, false},
                                         LoadCase{"PlantedOnPath", false, true, false}),
                         [](const testing::TestParamInfo<LoadCase>& info) { return std::string(info.param.name); });

// uXfer.Device and uXfer.SimDevice in one script host process, from copies of
// both servers in a folder of their own: uXferAutoSim.dll calls the
// uXferSim.dll beside it, never the uXfer.dll there.
struct BothCase {
    const char* name;
    bool simBeside;        // the program folder's uXferSim.dll copied beside the servers
    const char* expected;  // the script's output
};

void PrintTo(const BothCase& c, std::ostream* os)
{
    *os << c.name;
}

class AutoBoth : public AutoCopies, public testing::WithParamInterface<BothCase> {};

TEST_P(AutoBoth, EachClassCallsItsOwnLibraryInOneProcess)
{
    dumptest::ScratchFolder server;
    const char* files[] = {"uXferAuto.dll", "uXferAutoSim.dll", "uXfer.dll", "uXferSim.dll"};
    for (size_t i = 0; i < (GetParam().simBeside ? 4u : 3u); ++i)
        ASSERT_TRUE(CopyFileA((ProgramFolder() + files[i]).c_str(), server.File(files[i]).c_str(), FALSE))
            << files[i];
    // Both objects held at once; each calls into its library, which lists its
    // devices: the simulated one lists the one device of a fresh folder.
    const char text[] = "var held = [], names = ['uXfer.Device', 'uXfer.SimDevice'];\r\n"
                        "for (var i = 0; i < 2; i++) try {\r\n"
                        "  held[i] = new ActiveXObject(names[i]);\r\n"
                        "  var d = new VBArray(held[i].Devices()).toArray();\r\n"
                        "  WScript.Echo(names[i] + ': created' + (i ? ', ' + d.length + ' ' + d[0].substr(0, 25) : ''));\r\n"
                        "} catch (e) { WScript.Echo(names[i] + ': not created'); }\r\nWScript.Echo('done');\r\n";
    ASSERT_TRUE(dumptest::WriteAll(server.File("both.js"), std::vector<uint8_t>(text, text + sizeof text - 1)));
    ASSERT_EQ(0, Regsvr32("", server.File("uXferAuto.dll")));
    ASSERT_EQ(0, Regsvr32("", server.File("uXferAutoSim.dll")));
    dumptest::ScratchFolder simulated;
    SetEnvironmentVariableA("UXFERSIM_HOME", simulated.Path().c_str());
    const CommandResult run = RunLaunched("cscript.exe //nologo " + Quoted(server.File("both.js")), server.File(""));
    SetEnvironmentVariableA("UXFERSIM_HOME", nullptr);
    EXPECT_EQ(0, Regsvr32("/u", server.File("uXferAutoSim.dll")));
    EXPECT_EQ(GetParam().expected, run.output);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, AutoBoth,
    testing::Values(BothCase{"SimLibraryBeside", true,
                             "uXfer.Device: created\nuXfer.SimDevice: created, 1 \\\\?\\uxfersim#device#0000#\ndone\n"},
                    BothCase{"SimLibraryMissing", false,
                             "uXfer.Device: created\nuXfer.SimDevice: not created\ndone\n"}),
    [](const testing::TestParamInfo<BothCase>& info) { return std::string(info.param.name); });

}  // namespace
