// Bad input, ranges and numbers: each case gets its message and exit code,
// and changes nothing on disk or in the device.
#include <gtest/gtest.h>

#include <algorithm>

#include "cli/uxfer_run.h"
#include "common/device_log.h"

using namespace dumptest;

namespace {

struct BadInput {
    const char* name;
    const char* arguments;  // {dir} stands for the scratch folder
    DWORD exitCode;
    const char* message;  // a part of the one line on standard error
    const char* held = nullptr;  // a file held open by another program (reading), sharing only this:
    DWORD sharing = 0;
    const char* json = nullptr;  // with --json: the command named in the error object (empty: null)
    const char* beside = nullptr;  // a copy of uxfer.exe alone in a folder, with this DLL ("": none)
};

void PrintTo(const BadInput& input, std::ostream* os)
{
    *os << input.name;
}

class BadInputTest : public UxferTest, public testing::WithParamInterface<BadInput> {};

TEST_P(BadInputTest, RefusedWithItsMessageBeforeTouchingAnything)
{
    const std::vector<uint8_t> old = {1, 2, 3, 4};
    ASSERT_TRUE(WriteAll(File("dump.bin"), old));
    ASSERT_TRUE(WriteAll(File("image.bin"), old));
    ASSERT_TRUE(WriteAll(File("odd.bin"), {1, 2, 3}));
    const std::vector<std::string> before = ScratchFiles();

    std::string arguments = GetParam().arguments;
    for (size_t at; (at = arguments.find("{dir}")) != std::string::npos;)
        arguments.replace(at, 5, File("").substr(0, File("").size() - 1));
    const bool held = GetParam().held != nullptr;
    win::unique_file lock(held ? CreateFileA(File(GetParam().held).c_str(), GENERIC_READ, GetParam().sharing, nullptr,
                                       OPEN_EXISTING, 0, nullptr)
                         : INVALID_HANDLE_VALUE);
    ASSERT_EQ(held, lock.valid());
    dumptest::ScratchFolder alone;
    const char* beside = GetParam().beside;
    if (beside) {
        ASSERT_TRUE(CopyFileA((ProgramFolder() + "uxfer.exe").c_str(), alone.File("uxfer.exe").c_str(), FALSE));
        ASSERT_TRUE(!*beside || CopyFileA((ProgramFolder() + beside).c_str(), alone.File(beside).c_str(), FALSE));
    }
    UxferResult result = RunUxfer(arguments, "", beside ? alone.File("") : ProgramFolder());
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(GetParam().exitCode, result.exitCode) << result.err;
    if (const char* command = GetParam().json) {
        // One object on standard output, nothing else anywhere.
        const std::string named = *command ? std::string("\"") + command + "\"" : "null";
        EXPECT_EQ(0u, result.out.find("{\"command\":" + named + ",\"error\":\"")) << result.out;
        EXPECT_NE(result.out.find(GetParam().message), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("\"exit\":" + std::to_string(GetParam().exitCode) + "}\n"), std::string::npos)
            << result.out;
        EXPECT_EQ(1, std::count(result.out.begin(), result.out.end(), '\n')) << result.out;
        EXPECT_EQ("", result.err);
    } else {
        EXPECT_EQ(0u, result.err.find("uxfer: ")) << result.err;
        EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
        EXPECT_EQ("", result.out);
    }

    EXPECT_TRUE(device.Log().empty()) << Dump(device.Log());
    EXPECT_EQ(before, ScratchFiles());
    EXPECT_EQ(old, ReadAll(File("dump.bin")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadInputTest,
    testing::Values(
        BadInput{"UnknownCommand", "dump {dir}\\dump.bin", 1, "dump"},
        BadInput{"UnknownOption", "read {dir}\\dump.bin --size 4 --fast", 1,
                 "unknown option --fast; run 'uxfer read --help'"},
        BadInput{"MisspelledOption", "read {dir}\\dump.bin --szie 16", 1,
                 "unknown option --szie (did you mean --size?); run 'uxfer read --help'"},
        BadInput{"OptionBeforeTheCommand", "--simulate list", 1,
                 "options come after the command: 'uxfer list --simulate'; run 'uxfer list --help'"},
        BadInput{"OptionWithoutCommand", "--quiet", 1, "options come after the command (list, read, "},
        BadInput{"NegativeAddress", "read {dir}\\dump.bin --addr=-2 --size 4", 1,
                 "--addr: -2 is negative: give 0 to 0x7FFFFFFF"},
        BadInput{"MissingValue", "read {dir}\\dump.bin --size", 1, "--size"},
        BadInput{"NonNumericValue", "read {dir}\\dump.bin --size lots", 1, "lots"},
        BadInput{"NonNumericAddress", "write {dir}\\image.bin --addr 0xZZ", 1, "0xZZ"},
        BadInput{"ZeroSize", "read {dir}\\dump.bin --size 0", 1, "--size"},
        BadInput{"WireImageBeyond32Bits", "read {dir}\\dump.bin --size 0x80000000", 1, "'0x80000000' is too large"},
        BadInput{"SizeBeyond64Bits", "read {dir}\\dump.bin --size 99999999999999999999", 1, "is too large"},
        BadInput{"SizeBeyond32Bits", "verify --size 99999999999", 1, "'99999999999' is too large"},
        BadInput{"ReadRangeCrossesTheTop", "read {dir}\\dump.bin --addr 0x7FFFFFFF --size 2", 1,
                 "the range 0x7FFFFFFF..0x80000000 crosses the top"},
        BadInput{"WriteRangeCrossesTheTop", "write {dir}\\image.bin --addr 0x7FFFFFF8 --size 16 --pad", 1,
                 "the range 0x7FFFFFF8..0x80000007 crosses the top"},
        BadInput{"WriteRangeOfTheFileCrossesTheTop", "write {dir}\\image.bin --addr 0x7FFFFFFE", 1,
                 "the range 0x7FFFFFFE..0x80000001 crosses the top"},
        BadInput{"VerifyRangeCrossesTheTop", "verify --addr 0x40000001 --size 0x40000000", 1,
                 "the range 0x40000001..0x80000000 crosses the top"},
        BadInput{"CompareRangeOfTheFileCrossesTheTop", "compare {dir}\\image.bin --addr 0x7FFFFFFE", 1,
                 "the range 0x7FFFFFFE..0x80000001 crosses the top"},
        BadInput{"CompareShortFile", "compare {dir}\\image.bin --size 6", 1,
                 "fewer than the 6 bytes the compare needs; give a smaller --size"},
        // The requests count 2-word units: an odd size would lose its last word.
        BadInput{"OddSize", "verify --size 5", 1, "--size 0x5 is odd: the device counts units of 2 words"},
        BadInput{"OddReadAtTheTop", "read {dir}\\dump.bin --addr 0x7FFFFFFD --size 3", 1,
                 "--size 0x3 is odd and the range ends at the device's last word"},
        BadInput{"OneWordVerify", "verify --size 1", 1, "give an even size (2)"},
        BadInput{"OddFileLength", "write {dir}\\odd.bin", 1, "odd.bin holds 3 device words, an odd number"},
        BadInput{"StreamOfAFile", "read {dir}\\dump.bin:data --size 4", 4, "names a stream inside a file"},
        BadInput{"HexIntoAFile", "read {dir}\\dump.bin --size 4 --hex", 1, "give FILE '-'"},
        BadInput{"HexWithJson", "read - --size 4 --hex --json", 1, "--hex doesn't go with --json", nullptr, 0,
                 "read"},
        BadInput{"ResetCodeBeyond16Bits", "reset 0x10000", 1, "'0x10000' is too large"},
        BadInput{"ModeBeyond16Bits", "read {dir}\\dump.bin --size 4 --mode 65536", 1, "'65536' is too large"},
        BadInput{"DelayAboveItsBound", "status --delay 10001", 1, "'10001' is too large (at most 10000 ms"},
        BadInput{"TimeoutAboveItsBound", "verify --size 4 --timeout 2147484", 1, "'2147484' is too large"},
        BadInput{"ListTakesNoInstance", "list --instance 1", 1, "takes no --instance"},
        BadInput{"WatchTakesNoInstance", "watch --instance 0", 1, "takes no --instance"},
        BadInput{"JsonRange", "verify --addr 0x7FFFFFFF --size 2 --json", 1, "crosses the top", nullptr, 0, "verify"},
        BadInput{"JsonParseError", "read {dir}\\dump.bin --json --fast", 1, "--fast", nullptr, 0, "read"},
        BadInput{"JsonUnknownCommand", "dump --json", 1, "dump", nullptr, 0, ""},
        BadInput{"ReadWithoutSize", "read {dir}\\dump.bin", 1, "--size"},
        BadInput{"ReadWithoutFile", "read --size 4", 1, "FILE"},
        BadInput{"UnknownLoaderVersion", "status --loader-version 300", 1, "300"},
        BadInput{"OddRawLength", "write {dir}\\odd.bin --raw", 1, "odd.bin has 3 bytes, an odd number"},
        BadInput{"MissingInputFile", "write {dir}\\missing.bin", 4, "missing.bin"},
        BadInput{"InputIsAFolder", "write {dir}", 4, "folder"},
        BadInput{"UnreadableInputFile", "write {dir}\\image.bin", 4, "image.bin", "image.bin"},
        // Moving the dump over it would fail, after the whole transfer.
        BadInput{"OutputHeldWithoutDeleteSharing", "read {dir}\\dump.bin --size 4", 4, "dump.bin", "dump.bin",
                 FILE_SHARE_READ | FILE_SHARE_WRITE},
        BadInput{"MissingOutputFolder", "read {dir}\\nowhere\\dump.bin --size 4", 4, "nowhere"},
        BadInput{"UnwritableOutputFolder", "read {dir}\\image.bin\\dump.bin --size 4", 4, "image.bin"},
        BadInput{"MissingSettingsFile", "read --settings {dir}\\DumpSet.ini", 4, "DumpSet.ini"},
        // The library is taken from uxfer's folder only, and the one of --simulate only.
        BadInput{"SimulatedLibraryMissing", "list --simulate", 2,
                 "uXferSim.dll can't be loaded from the folder of uxfer.exe (", nullptr, 0, nullptr, "uXfer.dll"},
        BadInput{"SimulatedLibraryMissingAsJson", "status --simulate --json", 2,
                 "uXferSim.dll can't be loaded from the folder of uxfer.exe (", nullptr, 0, "status", "uXfer.dll"},
        BadInput{"LibraryMissing", "read {dir}\\dump.bin --size 4", 2,
                 "uXfer.dll can't be loaded from the folder of uxfer.exe (", nullptr, 0, nullptr, ""}),
    [](const testing::TestParamInfo<BadInput>& info) { return std::string(info.param.name); });

}  // namespace
