// samples/dump.cmd under the command interpreter, started through the
// launcher: the shim follows cmd into every uxfer.exe it starts.
#include <gtest/gtest.h>

#include "common/device_log.h"
#include "common/processes.h"
#include "uxfer_run.h"

using namespace dumptest;

namespace {

class SampleTest : public UxferTest {
protected:
    CommandResult RunSample(const std::string& arguments)
    {
        const std::string folder = ::ProgramFolder();
        // cmd drops the first and the last quote of what follows /c: the whole line goes in one more pair.
        return RunCommand(Quoted(folder + "vdevrun.exe") + " cmd.exe /c \"" + Quoted(folder + "samples\\dump.cmd") +
                              " " + arguments + "\"",
                          180000, folder);
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

TEST_F(SampleTest, StopsAtTheFailingStepWithItsExitCode)
{
    ASSERT_TRUE(WriteAll(File("image.bin"), Pattern(100, 11)));
    CommandResult noDevice = RunSample(Quoted(File("backup.bin")) + " " + Quoted(File("image.bin")) + " 5");
    EXPECT_EQ(2u, noDevice.exitCode) << noDevice.output;
    EXPECT_NE(noDevice.output.find("dump: reading the device failed (uxfer exit code 2)"), std::string::npos)
        << noDevice.output;
    EXPECT_EQ(std::string::npos, noDevice.output.find("dump: writing"));
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
