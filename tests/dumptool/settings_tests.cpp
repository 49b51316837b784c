// DumpSet.ini beside the executable: defaults, the summary text, and what a
// chosen path writes back.
#include <gtest/gtest.h>

#include "framework/file.h"
#include "settings.h"
#include "test_files.h"

using namespace dumptest;

namespace {

class SettingsTest : public testing::Test {
protected:
    void SetUp() override { RemoveSettings(); }
    void TearDown() override { RemoveSettings(); }
};

TEST_F(SettingsTest, DefaultsWithoutAFile)
{
    const dump::DumpSettings s = dump::LoadSettings();
    EXPECT_EQ(s.forRead, "");
    EXPECT_EQ(s.forWrite, "");
    EXPECT_EQ(s.Size, 0x2000u);
    EXPECT_EQ(s.Addr, 0u);
    EXPECT_EQ(s.readMode, 0u);
    EXPECT_EQ(s.writeMode, 0u);
    EXPECT_EQ(dump::ComposeSummary(s),
              "Check the following parameters before read/write:\n"
              " Read from file: \n"
              " Write to file:  \n"
              " Size: 0x2000 (B)\n"
              " Address: 0x0\n"
              "You can change these at 'DumpSet.ini'.");
    EXPECT_FALSE(Exists(SettingsFile())) << "loading writes nothing";
}

TEST_F(SettingsTest, ReadsEveryKeyFromTheFileBesideTheProgram)
{
    WriteSettings("[Dump]\r\nforRead=C:\\data\\image.bin\r\nforWrite=C:\\data\\dump.bin\r\nSize=4096\r\n"
                  "Addr=256\r\nreadMode=65537\r\nwriteMode=7\r\n");
    const dump::DumpSettings s = dump::LoadSettings();
    EXPECT_EQ(s.forRead, "C:\\data\\image.bin");
    EXPECT_EQ(s.forWrite, "C:\\data\\dump.bin");
    EXPECT_EQ(s.Size, 4096u);
    EXPECT_EQ(s.Addr, 256u);
    EXPECT_EQ(s.readMode, 65537u);
    EXPECT_EQ(s.writeMode, 7u);
    EXPECT_EQ(dump::ComposeSummary(s),
              "Check the following parameters before read/write:\n"
              " Read from file: C:\\data\\image.bin\n"
              " Write to file:  C:\\data\\dump.bin\n"
              " Size: 0x1000 (B)\n"
              " Address: 0x100\n"
              "You can change these at 'DumpSet.ini'.");
}

TEST_F(SettingsTest, ReadsASettingsFileElsewhereByItsPath)
{
    WriteSettings("[Dump]\r\nSize=1\r\nAddr=1\r\n");  // beside the program: not the one asked for
    ScratchFolder folder;
    const std::string other = folder.File("Other.ini");
    const std::string text = "[Dump]\r\nforRead=C:\\in.bin\r\nforWrite=C:\\out.bin\r\nSize=512\r\nAddr=16\r\n"
                             "readMode=2\r\nwriteMode=3\r\n";
    ASSERT_TRUE(WriteAll(other, std::vector<uint8_t>(text.begin(), text.end())));
    const dump::DumpSettings s = dump::LoadSettings(WidePath(other));
    EXPECT_EQ(s.forRead, "C:\\in.bin");
    EXPECT_EQ(s.forWrite, "C:\\out.bin");
    EXPECT_EQ(s.Size, 512u);
    EXPECT_EQ(s.Addr, 16u);
    EXPECT_EQ(s.readMode, 2u);
    EXPECT_EQ(s.writeMode, 3u);

    const dump::DumpSettings missing = dump::LoadSettings(WidePath(folder.File("Missing.ini")));
    EXPECT_EQ(missing.Size, 0x2000u) << "a missing file gives the defaults";
    EXPECT_EQ(missing.Addr, 0u);
    EXPECT_EQ(missing.forWrite, "");
}

TEST_F(SettingsTest, LongPathIsReadWhole)
{
    const std::string path = "C:\\" + std::string(300, 'p') + "\\" + std::string(600, 'q');
    WriteSettings("[Dump]\r\nforWrite=" + path + "\r\n");
    EXPECT_EQ(dump::LoadSettings().forWrite, path);
}

TEST_F(SettingsTest, StoringAPathWritesOnlyItsKey)
{
    WriteSettings("[Dump]\r\nforRead=C:\\a.bin\r\nforWrite=C:\\b.bin\r\nSize=12\r\nAddr=5\r\n");
    dump::StorePath(dump::kKeyForWrite, "C:\\picked\\new.bin");
    dump::DumpSettings s = dump::LoadSettings();
    EXPECT_EQ(s.forRead, "C:\\a.bin");
    EXPECT_EQ(s.forWrite, "C:\\picked\\new.bin");
    EXPECT_EQ(s.Size, 12u);
    EXPECT_EQ(s.Addr, 5u);
    EXPECT_EQ(ReadText(SettingsFile()).find("readMode"), std::string::npos);

    dump::StorePath(dump::kKeyForRead, "C:\\picked\\image.bin");
    s = dump::LoadSettings();
    EXPECT_EQ(s.forRead, "C:\\picked\\image.bin");
    EXPECT_EQ(s.forWrite, "C:\\picked\\new.bin");
}

TEST_F(SettingsTest, StoringCreatesAMissingFile)
{
    dump::StorePath(dump::kKeyForRead, "C:\\x.bin");
    EXPECT_EQ(dump::LoadSettings().forRead, "C:\\x.bin");
    EXPECT_EQ(dump::LoadSettings().Size, 0x2000u);
}

}  // namespace
