// The samples users run: VBScript and JScript through Wine's script host,
// started through the launcher so that the pipe shim is in the script host.
#include <string>

#include "comserver/talvix_support.h"
#include "comserver_reg/registration_support.h"
#include "vdev_client.h"

namespace {

class TalvixSample : public RegistrationTest, public testing::WithParamInterface<const char*> {
protected:
    void SetUp() override
    {
        RegistrationTest::SetUp();
        ASSERT_EQ(0, Regsvr32(dll));
        ASSERT_TRUE(device.Open(0));
        ASSERT_TRUE(device.Reset());
    }

    // The sample's output.  The script host ends a failing script silently
    // with exit code 0: only the final line tells that it ran to its end.
    std::string RunSample(DWORD exitCode = 0)
    {
        const CommandResult run = RunCommand("\"" + ProgramFolder() + "vdevrun.exe\" cscript.exe //nologo \"" + ProgramFolder() +
                                             "samples\\" + GetParam() + "\"");
        EXPECT_TRUE(run.finished);
        EXPECT_EQ(exitCode, run.exitCode);
        const std::string marker = "device_info: done\n";
        const bool complete = run.output.size() >= marker.size() &&
                              run.output.compare(run.output.size() - marker.size(), marker.size(), marker) == 0;
        EXPECT_TRUE(complete) << "the script stopped early:\n" << run.output;
        return run.output;
    }

    vdev::Device device;
};

TEST_P(TalvixSample, ReportsReleaseGenerationAndDriver)
{
    // VBScript receives the packed version through the out parameter; JScript
    // has no out parameters and reads the driver file's version instead.
    const bool vbscript = std::string(GetParam()).find(".vbs") != std::string::npos;
    EXPECT_EQ(std::string("bcdDevice: 0x0412\n"
                          "generation: 0x01000000\n"
                          "driver version: ") +
                  (vbscript ? "0x05000102" : "5.0.1.2") +
                  " (status 0x00000000, recent enough)\n"
                  "device_info: done\n",
              RunSample());
    EXPECT_EQ("dd", ControlTrace(device.Log())) << "one descriptor request per detection call";
}

TEST_P(TalvixSample, ReportsADeviceOfNoKnownGeneration)
{
    ASSERT_TRUE(device.SetDescriptor(0xF055, 0xCD02, 0x0502));
    const std::string output = RunSample();
    EXPECT_NE(std::string::npos, output.find("bcdDevice: 0x0502\ngeneration: 0x00000000\n")) << output;
}

TEST_P(TalvixSample, ReportsAMissingDevice)
{
    ASSERT_TRUE(device.SetPlugged(false));
    const std::string output = RunSample();
    ASSERT_TRUE(device.SetPlugged(true));
    EXPECT_NE(std::string::npos, output.find("bcdDevice: none (0x80030000)\ngeneration: none (0x80030000)\n"))
        << output;
    EXPECT_EQ("", ControlTrace(device.Log()));
}

TEST_P(TalvixSample, SaysWhyWithoutARegisteredServer)
{
    RemoveRegistration();
    const std::string output = RunSample(1);
    EXPECT_EQ(0u, output.find("Talvix.TVXDevice can't be created (error ")) << output;
    EXPECT_NE(std::string::npos,
              output.find("): is Talvix.dll registered? On 64-bit Windows run the 32-bit cscript "
                          "(%SystemRoot%\\SysWOW64\\cscript.exe).\ndevice_info: done\n"))
        << output;
    EXPECT_EQ("", ControlTrace(device.Log()));
}

INSTANTIATE_TEST_SUITE_P(Script, TalvixSample, testing::Values("device_info.vbs", "device_info.js"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param).find(".vbs") != std::string::npos ? "VBScript"
                                                                                                : "JScript";
                         });

}  // namespace
