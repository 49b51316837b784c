// The dump samples run by the script host of this bitness against the virtual
// device: the dump they write, the requests they make (those of uxfer read,
// write --verify and compare), and what they say when something fails.
#include "automation/auto_support.h"
#include "common/device_log.h"

namespace {

class AutoSample : public AutoTest, public testing::WithParamInterface<const char*> {
protected:
    // A failing script ends silently with exit code 0: the final line tells
    // that it ran to its end.
    std::string RunSample(const std::string& arguments, DWORD exitCode)
    {
        const CommandResult run = RunLaunched(
            "cscript.exe //nologo " + Quoted(ProgramFolder() + "samples\\script\\" + GetParam()) + " " + arguments,
            ProgramFolder());
        EXPECT_TRUE(run.finished);
        EXPECT_EQ(exitCode, run.exitCode) << run.output;
        EXPECT_TRUE(EndsWith(run.output, "dump: done\n")) << "the script stopped early:\n" << run.output;
        return run.output;
    }
    bool JScript() const { return std::string(GetParam()).find(".js") != std::string::npos; }
};

TEST_P(AutoSample, DumpsWritesAndComparesWithTheRequestsOfUxfer)
{
    const std::vector<uint8_t> wire = Pattern(2 * 4096, 11);
    LoadWords(0x100, wire);
    const std::string dump = scratch.File("dump.bin");
    const std::string output = RunSample(Quoted(dump) + " " + Quoted(dump) + " 0x100 4K", 0);
    for (const std::string& line : {"read 4096 bytes from address 0x100 into " + dump + "\n",
                                   "wrote 4096 bytes of " + dump + " and verified them\n",
                                   "compare: the device holds " + dump + "\n"})
        EXPECT_NE(std::string::npos, output.find(line)) << output;
    // Through OnProgress: a JScript function, a VBScript object put by reference.
    EXPECT_NE(std::string::npos, output.find("progress: 4096 of 4096 bytes\n")) << output;
    const auto sampleLog = device.Log();

    // uxfer of the same bitness with the same arguments, into a file of its own.
    ASSERT_TRUE(device.Reset());
    LoadWords(0x100, wire);
    const std::string tools = ProgramFolder();
    const std::string copy = scratch.File("uxfer.bin");
    for (const char* command : {"read", "write --verify", "compare"}) {
        const CommandResult run = RunCommand(Quoted(tools + "vdevrun.exe") + " " + Quoted(tools + "uxfer.exe") + " " +
                                             command + " " + Quoted(copy) + " --addr 0x100 --size 4K --quiet");
        ASSERT_EQ(0u, run.exitCode) << command << ": " << run.output;
    }
    EXPECT_EQ(dumptest::ReadAll(copy), dumptest::ReadAll(dump));
    EXPECT_EQ(4096u, dumptest::ReadAll(dump).size());

    const auto uxferLog = device.Log();
    const auto calls = VendorCalls(sampleLog), expectedCalls = VendorCalls(uxferLog);
    ASSERT_EQ(expectedCalls.size(), calls.size()) << Dump(sampleLog) << "uxfer:\n" << Dump(uxferLog);
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(expectedCalls[i].request, calls[i].request) << "request " << i;
        EXPECT_EQ(expectedCalls[i].value, calls[i].value) << "request " << i;
        EXPECT_EQ(expectedCalls[i].index, calls[i].index) << "request " << i;
        EXPECT_EQ(expectedCalls[i].stage, calls[i].stage) << "request " << i;
    }
    const auto transfers = PipeTransfers(sampleLog), expectedTransfers = PipeTransfers(uxferLog);
    ASSERT_EQ(expectedTransfers.size(), transfers.size()) << Dump(sampleLog) << "uxfer:\n" << Dump(uxferLog);
    for (size_t i = 0; i < transfers.size(); ++i) {
        EXPECT_EQ(expectedTransfers[i].type, transfers[i].type) << "transfer " << i;
        EXPECT_EQ(expectedTransfers[i].requested, transfers[i].requested) << "transfer " << i;
        EXPECT_EQ(expectedTransfers[i].moved, transfers[i].moved) << "transfer " << i;
        EXPECT_EQ(expectedTransfers[i].head, transfers[i].head) << "transfer " << i;
    }
}

TEST_P(AutoSample, SaysWhatFailedWithTheServersSentenceAndCode)
{
    ASSERT_TRUE(device.SetPlugged(false));
    std::string output = RunSample(Quoted(scratch.File("dump.bin")), 1);
    ASSERT_TRUE(device.SetPlugged(true));
    EXPECT_EQ(0u, output.find("open: ")) << output;
    EXPECT_NE(std::string::npos, output.find("no device")) << output;
    EXPECT_TRUE(EndsWith(output, " (0x80040201)\ndump: done\n")) << output;
    EXPECT_FALSE(dumptest::Exists(scratch.File("dump.bin")));

    RemoveAutoRegistration();
    output = RunSample("", 1);
    ASSERT_EQ(0, Regsvr32(""));
    EXPECT_EQ(0u, output.find("uXfer.Device can't be created: ")) << output;
    EXPECT_NE(std::string::npos, output.find("\nRegister it for your user with: regsvr32 /n /i:user uXferAuto.dll"))
        << output;
    EXPECT_EQ("", Dump(device.Log()));
}

INSTANTIATE_TEST_SUITE_P(Script, AutoSample, testing::Values("dump.vbs", "dump.js"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param).find(".vbs") != std::string::npos ? "VBScript"
                                                                                                : "JScript";
                         });

}  // namespace
