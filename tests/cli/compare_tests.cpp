// compare: a file against what a read of the range gives, the device left as
// it was: only the reset command and the read reach it.
#include <gtest/gtest.h>

#include "cli/uxfer_run.h"
#include "common/device_log.h"

using namespace dumptest;

namespace {

struct CompareCase {
    const char* name;
    const char* options;
    bool raw;              // the file holds the words themselves, else their first bytes
    std::vector<int> changed;  // file offsets made different from the device
    DWORD exitCode;
    const char* expected;  // a part of standard output and error
};

void PrintTo(const CompareCase& c, std::ostream* os)
{
    *os << c.name;
}

class CompareTest : public UxferTest, public testing::WithParamInterface<CompareCase> {};

TEST_P(CompareTest, ReadsBackAndFindsTheFirstDifference)
{
    const std::vector<uint8_t> wire = Pattern(600, 7);  // 300 words from 0x40, second bytes not 0xFF
    LoadWords(0x40, wire);
    std::vector<uint8_t> file = GetParam().raw ? wire : DumpOf(wire);
    for (const int offset : GetParam().changed)
        file[offset] ^= 0x5A;
    ASSERT_TRUE(WriteAll(File("image.bin"), file));
    const UxferResult result =
        RunUxfer("compare " + Quoted(File("image.bin")) + " --addr 0x40 " + GetParam().options);
    EXPECT_EQ(GetParam().exitCode, result.exitCode) << result.err;
    EXPECT_NE((result.out + result.err).find(GetParam().expected), std::string::npos) << result.out << result.err;

    const auto calls = VendorCalls(device.Log());
    ASSERT_EQ(2u, calls.size()) << Dump(device.Log());
    EXPECT_EQ(REQ_DEBUG, calls[0].request);
    EXPECT_EQ(REQ_READ, calls[1].request);
    EXPECT_EQ(wire, DeviceBytes(0x40, 600));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompareTest,
    testing::Values(
        CompareCase{"Equal", "", false, {}, 0,
                    "compared 300 bytes (600 on the wire) of "},
        CompareCase{"Different", "", false, {200, 100}, 5,
                    "uxfer: comparison found 2 of 300 words different, the first at file offset 100, word address "
                    "0xA4"},
        CompareCase{"DifferentAsJson", "--json", false, {200, 100}, 5,
                    "\"first_offset\":100,\"first_addr\":164,\"differing_words\":2,\"exit\":5}"},
        CompareCase{"SizeEndsBeforeTheDifference", "--size 100 --json", false, {100}, 0,
                    "\"command\":\"compare\",\"file\":"},
        CompareCase{"RawEqual", "--raw", true, {}, 0, "compared 600 bytes"},
        CompareCase{"RawSecondByte", "--raw", true, {201}, 5,
                    "1 of 300 words different, the first at file offset 200, word address 0xA4"}),
    [](const testing::TestParamInfo<CompareCase>& info) { return std::string(info.param.name); });

}  // namespace
