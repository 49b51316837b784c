// samples/dump.cmd under the command interpreter, started through the
// launcher: the shim follows cmd into every uxfer.exe it starts.
#include <gtest/gtest.h>

#include "cli/uxfer_run.h"
#include "common/device_log.h"
#include "common/processes.h"

using namespace dumptest;

namespace {

// A path as a parameter of the batch file.  Wine's cmd expands the text of a
// parameter once more where the script uses it, so a literal % goes in
// doubled there (Windows' cmd takes it as it is).
std::string Parameter(const std::string& path)
{
    std::string text;
    for (char c : path)
        text += c == '%' ? std::string("%%") : std::string(1, c);
    return Quoted(text);
}

class SampleTest : public UxferTest {
protected:
    // Runs `script` in the scratch folder, with the program folder (and its
    // uxfer.exe) on PATH or not.
    CommandResult RunSample(const std::string& arguments, bool onPath = true,
                            const std::string& script = ::ProgramFolder() + "samples\\dump.cmd")
    {
        const std::string folder = ::ProgramFolder();
        char saved[32768] = {};
        GetEnvironmentVariableA("PATH", saved, sizeof saved);
        if (onPath)
            SetEnvironmentVariableA("PATH", (folder + ";" + saved).c_str());
        // cmd drops the first and the last quote of what follows /c: the whole line goes in one more pair.
        CommandResult run = RunCommand(Quoted(folder + "vdevrun.exe") + " cmd.exe /c \"" + Quoted(script) + " " +
                                           arguments + "\"",
                                       180000, File(""));
        SetEnvironmentVariableA("PATH", saved);
        return run;
    }
    // dump.cmd with uxfer.exe and uXfer.dll beside it, in the scratch folder.
    std::string CopyBeside()
    {
        const std::string folder = ::ProgramFolder();
        EXPECT_TRUE(CopyFileA((folder + "uxfer.exe").c_str(), File("uxfer.exe").c_str(), FALSE));
        EXPECT_TRUE(CopyFileA((folder + "uXfer.dll").c_str(), File("uXfer.dll").c_str(), FALSE));
        EXPECT_TRUE(CopyFileA((folder + "samples\\dump.cmd").c_str(), File("dump.cmd").c_str(), FALSE));
        return File("dump.cmd");
    }
};

TEST_F(SampleTest, SavesTheOldContentsThenWritesAndVerifiesTheImage)
{
    const std::vector<uint8_t> before = Pattern(2 * 4000, 9), image = Pattern(4000, 10);
    LoadWords(0, before);
    ASSERT_TRUE(WriteAll(File("image.bin"), image));

    CommandResult run = RunSample(Quoted(File("backup.bin")) + " " + Quoted(File("image.bin")));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_EQ(DumpOf(before), ReadAll(File("backup.bin")));
    EXPECT_EQ(WireOf(image), DeviceBytes(0, 8000));
    EXPECT_NE(run.output.find("dump: saving 4000 bytes of instance 0"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("dump: done"), std::string::npos) << run.output;
}

// Characters cmd gives a meaning to, in both paths; uxfer.exe found on PATH
// or beside the script.
TEST_F(SampleTest, TakesAnyFileNameAndFindsUxfer)
{
    struct Case {
        const char* backup;
        const char* image;
        bool beside;
    };
    const Case cases[] = {
        {"old) (copy.bin", "new (image.bin", false},
        {"a & b.bin", "x&y.bin", false},
        {"up^arrow.bin", "^^x ^.bin", false},
        {"100% sure.bin", "50%off%.bin", false},
        {"wow!.bin", "!x! y!.bin", false},
        {"my backup.bin", "my image.bin", true},
        {"b (1) & ^ % !.bin", "i (2) & ^ % !.bin", true},
    };
    uint32_t seed = 20;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.backup) + " | " + c.image + (c.beside ? " | beside" : " | on PATH"));
        ASSERT_TRUE(device.Reset());
        const std::vector<uint8_t> before = Pattern(2 * 300, ++seed), image = Pattern(300, ++seed);
        LoadWords(0, before);
        ASSERT_TRUE(WriteAll(File(c.image), image));

        const CommandResult run = RunSample(Parameter(File(c.backup)) + " " + Parameter(File(c.image)), !c.beside,
                                            c.beside ? CopyBeside() : ::ProgramFolder() + "samples\\dump.cmd");
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(0u, run.exitCode) << run.output;
        EXPECT_EQ(DumpOf(before), ReadAll(File(c.backup)));
        EXPECT_EQ(WireOf(image), DeviceBytes(0, 600));
        EXPECT_NE(run.output.find("dump: saving 300 bytes of instance 0 into \"" + File(c.backup) + "\"\n"),
                  std::string::npos)
            << run.output;
        EXPECT_NE(run.output.find("dump: done"), std::string::npos) << run.output;
    }
}

TEST_F(SampleTest, StopsAtTheFailingStepWithItsExitCode)
{
    ASSERT_TRUE(WriteAll(File("image.bin"), Pattern(100, 11)));
    CommandResult noDevice = RunSample(Quoted(File("backup.bin")) + " " + Quoted(File("image.bin")) + " 5");
    EXPECT_EQ(2u, noDevice.exitCode) << noDevice.output;
    EXPECT_NE(noDevice.output.find("dump: reading the device failed (uxfer exit code 2)"), std::string::npos)
        << noDevice.output;
    EXPECT_EQ(std::string::npos, noDevice.output.find("dump: writing"));
    EXPECT_TRUE(device.Log().empty());

    // Neither beside the script nor on PATH.
    CommandResult noUxfer = RunSample(Quoted(File("backup.bin")) + " " + Quoted(File("image.bin")), false);
    EXPECT_EQ(9009u, noUxfer.exitCode) << noUxfer.output;
    EXPECT_NE(noUxfer.output.find("dump: uxfer.exe is neither beside this script (\"" + ::ProgramFolder() +
                                  "samples\\\") nor on PATH"),
              std::string::npos)
        << noUxfer.output;
    EXPECT_TRUE(device.Log().empty());

    // Words past the end of memory are lost: the read-back differs.
    ASSERT_TRUE(device.SetMemorySize(100));
    CommandResult mismatch = RunSample(Quoted(File("backup.bin")) + " " + Quoted(File("image.bin")));
    ASSERT_TRUE(device.SetMemorySize(VDEV_DEFAULT_MEMORY_BYTES));
    EXPECT_EQ(5u, mismatch.exitCode) << mismatch.output;
    EXPECT_NE(mismatch.output.find("dump: the device holds something else"), std::string::npos) << mismatch.output;
    EXPECT_EQ(std::string::npos, mismatch.output.find("dump: done"));
}

}  // namespace
