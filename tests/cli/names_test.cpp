// File names outside the ANSI code page and paths longer than MAX_PATH: each
// names its own file, on the way in and out, and comes back intact in what
// the tool prints.
#include <gtest/gtest.h>

#include "cli/uxfer_run.h"
#include "common/device_log.h"
#include "win/text.h"
#include "framework/file.h"

using namespace dumptest;

namespace {

struct Name {
    const char* test;
    std::string file;  // UTF-8; "{long}" stands for a name that makes the path longer than MAX_PATH
    bool json;
    bool settings;  // the size comes from a settings file named after the file
};

void PrintTo(const Name& name, std::ostream* os)
{
    *os << name.test;
}

// A full path of the scratch folder, as the wide file functions take it at any length.
std::wstring Wide(const std::string& path)
{
    return L"\\\\?\\" + win::Widen(path, CP_UTF8);
}

std::vector<uint8_t> ReadWide(const std::string& path)
{
    CFile file;
    std::vector<uint8_t> bytes(1 << 16);
    uint32_t got = 0;
    if (!file.Open(Wide(path), CFile::modeRead) || !file.Read(bytes.data(), bytes.size(), got))
        got = 0;
    bytes.resize(got);
    return bytes;
}

// The path as a JSON string carries it.
std::string InJson(const std::string& path)
{
    std::string escaped;
    for (char c : path)
        escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return "\"file\":\"" + escaped + "\"";
}

class NameTest : public UxferTest, public testing::WithParamInterface<Name> {};

TEST_P(NameTest, NamesItsOwnFileAndIsPrintedIntact)
{
    // The names the ANSI code page would turn these into.
    const std::vector<uint8_t> other = {9, 9, 9, 9};
    ASSERT_TRUE(WriteAll(File("dump-a.bin"), other));
    ASSERT_TRUE(WriteAll(File("image.bin"), other));
    std::string name = GetParam().file;
    if (name == "{long}")
        name = std::string(MAX_PATH + 10 - File("").size(), 'n') + ".bin";
    const std::string path = File(name);
    const std::string json = GetParam().json ? " --json" : "";
    const std::vector<uint8_t> dump = Pattern(64, 3);
    LoadWords(0, WireOf(dump));

    std::string size = " --size 64";
    if (GetParam().settings) {
        CFile ini;
        const std::string text = "[Dump]\r\nSize=64\r\n";
        ASSERT_TRUE(ini.Open(Wide(path + ".ini"), CFile::modeCreate | CFile::modeWrite));
        ASSERT_TRUE(ini.Write(text.data(), text.size()));
        size = " --settings " + Quoted(path + ".ini");
    }
    UxferResult read = RunUxfer("read " + Quoted(path) + size + json);
    EXPECT_EQ(0u, read.exitCode) << read.err;
    EXPECT_EQ(dump, ReadWide(path));
    EXPECT_NE(read.out.find(GetParam().json ? InJson(path) : path), std::string::npos) << read.out;

    UxferResult write = RunUxfer("write " + Quoted(path) + " --addr 0x100" + json);
    EXPECT_EQ(0u, write.exitCode) << write.err;
    EXPECT_EQ(WireOf(dump), DeviceBytes(0x100, 128));
    EXPECT_NE(write.out.find(GetParam().json ? InJson(path) : path), std::string::npos) << write.out;

    EXPECT_EQ(other, ReadAll(File("dump-a.bin")));
    EXPECT_EQ(other, ReadAll(File("image.bin")));
    // And in an error message.
    UxferResult missing = RunUxfer("write " + Quoted(path + ".gone"));
    EXPECT_EQ(4u, missing.exitCode);
    EXPECT_NE(missing.err.find(path + ".gone"), std::string::npos) << missing.err;
}

INSTANTIATE_TEST_SUITE_P(Cases, NameTest,
                         testing::Values(Name{"Macron", "dump-\xC4\x81.bin", false, true},
                                         Name{"MacronInJson", "im\xC4\x81ge.bin", true, false},
                                         Name{"OutsideAnyAnsiCodePage", "dump-\xC3\xBC-\xE6\x97\xA5\xE6\x9C\xAC.bin", true, true},
                                         Name{"LongerThanMaxPath", "{long}", false, false}),
                         [](const testing::TestParamInfo<Name>& info) { return std::string(info.param.test); });

}  // namespace
