// The commands that don't move memory: list, status, verify, reset, watch,
// the version and the help texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <regex>

#include "cli/uxfer_run.h"
#include "common/device_log.h"
#include "common/processes.h"

using namespace dumptest;

namespace {

using CommandTest = UxferTest;

TEST_F(CommandTest, VersionAndHelpForTheToolAndEveryCommand)
{
    UxferResult version = RunUxfer("--version");
    EXPECT_EQ(0u, version.exitCode);
    EXPECT_EQ("uxfer 1.1.0\n", version.out);

    UxferResult help = RunUxfer("--help");
    EXPECT_EQ(0u, help.exitCode);
    for (const char* text : {"list", "read", "write", "verify", "status", "reset", "watch", "130",
                             "Usage: uxfer COMMAND [OPTIONS]", "Commands:"})
        EXPECT_NE(help.out.find(text), std::string::npos) << text << " missing from\n" << help.out;
    EXPECT_EQ(help.out.find("SUBCOMMAND"), std::string::npos) << help.out;
    for (const char* command : {"list", "read", "write", "verify", "status", "reset", "watch"}) {
        UxferResult commandHelp = RunUxfer(std::string(command) + " --help");
        EXPECT_EQ(0u, commandHelp.exitCode) << command;
        EXPECT_NE(commandHelp.out.find(command), std::string::npos) << commandHelp.out;
    }
    EXPECT_NE(RunUxfer("read --help").out.find("--settings"), std::string::npos);
    EXPECT_NE(RunUxfer("write --help").out.find("--pad"), std::string::npos);
    EXPECT_NE(RunUxfer("watch --help").out.find("--timeout"), std::string::npos);
    EXPECT_NE(RunUxfer("status --help").out.find("shared by every process"), std::string::npos);
    EXPECT_TRUE(device.Log().empty()) << Dump(device.Log());
}

TEST_F(CommandTest, ListNamesEachInstanceWithItsPath)
{
    VdevInfo info;
    ASSERT_TRUE(device.Info(info));
    UxferResult list = RunUxfer("list");
    EXPECT_EQ(0u, list.exitCode) << list.err;
    EXPECT_EQ("0  " + std::string(info.interfacePath) + "\n", list.out);

    UxferResult json = RunUxfer("list --json");
    EXPECT_EQ(0u, json.exitCode) << json.err;
    EXPECT_NE(json.out.find("\"interface\":\"{F826D4FB-"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"count\":1"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"index\":0"), std::string::npos) << json.out;
    EXPECT_EQ(1, std::count(json.out.begin(), json.out.end(), '\n')) << json.out;
}

TEST_F(CommandTest, ListWithoutDeviceOfTheClassSaysWhichClassWasSearched)
{
    // Loader version 272 selects another interface class, which no instance publishes.
    UxferResult list = RunUxfer("list --loader-version 272");
    EXPECT_EQ(2u, list.exitCode);
    EXPECT_EQ("", list.out);
    EXPECT_NE(list.err.find("uxfer: no device of interface class {"), std::string::npos) << list.err;
    EXPECT_EQ(std::string::npos, list.err.find("{F826D4FB")) << list.err;
    EXPECT_NE(list.err.find("is the device plugged in, and its driver installed?"), std::string::npos) << list.err;
    EXPECT_NE(list.err.find("'uxfer list --simulate'"), std::string::npos) << list.err;
    UxferResult json = RunUxfer("list --loader-version 272 --json");
    EXPECT_EQ(2u, json.exitCode);
    EXPECT_NE(json.out.find("\"count\":0,"), std::string::npos) << json.out;
    EXPECT_NE(RunUxfer("list --loader-version 288").exitCode, 2u);
}

TEST_F(CommandTest, StatusSpellsOutTheBits)
{
    const uint8_t rest[7] = {1, 2, 3, 4, 5, 6, 7};
    ASSERT_TRUE(device.SetStatusBytes(rest));
    UxferResult status = RunUxfer("status");
    EXPECT_EQ(0u, status.exitCode) << status.err;
    EXPECT_EQ("status: 00 01 02 03 04 05 06 07  active: no  error: no\n", status.out);

    ASSERT_TRUE(device.ErrorAtPoll(1));
    UxferResult json = RunUxfer("status --json");
    EXPECT_EQ(0u, json.exitCode) << json.err;
    EXPECT_NE(json.out.find("\"bytes\":[8,1,2,3,4,5,6,7]"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"active\":false"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"error\":true"), std::string::npos) << json.out;
    EXPECT_EQ(0u, CountType(device.Log(), VDEV_LOG_READ));
}

TEST_F(CommandTest, StatusOfAMissingInstanceNamesItAndTheHint)
{
    UxferResult status = RunUxfer("status --instance 3");
    EXPECT_EQ(2u, status.exitCode);
    EXPECT_NE(status.err.find("uxfer: "), std::string::npos);
    EXPECT_NE(status.err.find("{F826D4FB-"), std::string::npos) << status.err;
    EXPECT_NE(status.err.find("uxfer list"), std::string::npos) << status.err;
    EXPECT_EQ(1, std::count(status.err.begin(), status.err.end(), '\n')) << status.err;
}

// An answer shorter than its request is a device error, not a value.
TEST_F(CommandTest, ShortAnswersAreDeviceErrors)
{
    const struct {
        const char* arguments;
        bool (*arm)(vdev::Device& device);
        const char* message;
    } cases[] = {
        {"status", [](vdev::Device& d) { return d.ShortStatusReply(5); }, "was answered with 5 of its 8 bytes"},
        {"verify --size 4", [](vdev::Device& d) { return d.ShortRead(1, 2); }, "the verify request to instance 0 failed"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(device.Reset() && c.arm(device));
        UxferResult result = RunUxfer(c.arguments);
        EXPECT_EQ(3u, result.exitCode) << c.arguments << ": " << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_EQ("", result.out);
    }
}

TEST_F(CommandTest, VerifyPrintsTheFourBytesAsReceived)
{
    // The device answers the 32-bit sum of the words of the range.
    LoadWords(0x10, {0x34, 0x12, 0x44, 0x44});
    UxferResult verify = RunUxfer("verify --addr 0x10 --size 4 --mode 3");
    EXPECT_EQ(0u, verify.exitCode) << verify.err;
    EXPECT_EQ("verify: 78 56 00 00\n", verify.out);

    const auto calls = VendorCalls(device.Log());
    ASSERT_EQ(1u, calls.size()) << Dump(device.Log());
    EXPECT_EQ(REQ_DEBUG, calls[0].request);
    EXPECT_EQ(Words({0x10, 2}), calls[0].stage);

    UxferResult json = RunUxfer("verify --addr 16 --size 4 --json");
    EXPECT_NE(json.out.find("\"value\":[120,86,0,0]"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"addr\":16"), std::string::npos) << json.out;
}

TEST_F(CommandTest, ResetSendsTheCodeOverAConnectionOfItsOwn)
{
    UxferResult reset = RunUxfer("reset 7");
    EXPECT_EQ(0u, reset.exitCode) << reset.err;
    UxferResult plain = RunUxfer("reset");
    EXPECT_EQ(0u, plain.exitCode) << plain.err;
    std::vector<uint32_t> codes;
    for (const auto& r : device.Log())
        if (r.type == VDEV_LOG_RESET)
            codes.push_back(r.a);
    EXPECT_EQ((std::vector<uint32_t>{7, 2}), codes) << Dump(device.Log());

    ASSERT_TRUE(device.FailControl(1, REQ_RESET));
    EXPECT_EQ(3u, RunUxfer("reset").exitCode);
}

TEST_F(CommandTest, WatchSeesAnInstanceAddedAndRemoved)
{
    UxferProcess watch;
    ASSERT_TRUE(watch.Start("watch --timeout 30"));
    // It says so once it is registered.
    for (int i = 0; i < 600 && watch.ErrorsSoFar().find("watching") == std::string::npos; ++i)
        Sleep(50);
    ASSERT_NE(watch.ErrorsSoFar().find("watching interface class {F826D4FB-"), std::string::npos)
        << watch.ErrorsSoFar();

    const int added = vdev::AddInstance();
    ASSERT_GE(added, 1);
    EXPECT_TRUE(vdev::WaitInterfaces(vdev::kDefaultClass, 2, 10000));
    std::string path;
    {
        vdev::Device second;
        VdevInfo info;
        ASSERT_TRUE(second.Open(added));
        ASSERT_TRUE(second.Info(info));
        path = info.interfacePath;
    }
    EXPECT_TRUE(vdev::RemoveInstance(added));
    EXPECT_TRUE(vdev::WaitInterfaces(vdev::kDefaultClass, 1, 10000));

    UxferResult result = watch.Wait(120000);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(0u, result.exitCode) << result.err;
    // Local time stamps, and each path spelled as list spells it.
    const std::string stamp = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d  )";
    std::string quoted;
    for (char c : path)
        quoted += std::string(std::strchr(R"(\^$.|?*+()[]{})", c) ? "\\" : "") + c;
    EXPECT_TRUE(std::regex_match(result.out, std::regex(stamp + "arrival  " + quoted + "\n" + stamp + "removal  " +
                                                        quoted + "\n")))
        << result.out;
}

TEST_F(CommandTest, WatchEndsOnCtrlCWithSuccess)
{
    // A console of its own without a window: the control event needs one.
    UxferProcess watch;
    ASSERT_TRUE(watch.Start("watch", "", CREATE_NO_WINDOW));
    for (int i = 0; i < 600 && watch.ErrorsSoFar().find("watching") == std::string::npos; ++i)
        Sleep(50);
    ASSERT_NE(watch.ErrorsSoFar().find("Ctrl+C stops"), std::string::npos) << watch.ErrorsSoFar();
    EXPECT_EQ(0u, RunProgram("cli_ctrl_c.exe", std::to_string(watch.Id()), 60000).exitCode);
    UxferResult result = watch.Wait(60000);
    EXPECT_TRUE(result.finished) << "still watching after Ctrl+C";
    EXPECT_EQ(0u, result.exitCode) << result.err;
    EXPECT_EQ("", result.out);
}

}  // namespace
