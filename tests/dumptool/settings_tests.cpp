// DumpSet.ini beside the executable: defaults, the summary text, and what a
// chosen path writes back.
#include <gtest/gtest.h>

#include <cstring>

#include "win/text.h"
#include "dumptool/test_files.h"
#include "settings.h"
#include "win/unique_any.h"

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
    const dump::DumpSettings s = dump::LoadSettings(win::WidePath(other));
    EXPECT_EQ(s.forRead, "C:\\in.bin");
    EXPECT_EQ(s.forWrite, "C:\\out.bin");
    EXPECT_EQ(s.Size, 512u);
    EXPECT_EQ(s.Addr, 16u);
    EXPECT_EQ(s.readMode, 2u);
    EXPECT_EQ(s.writeMode, 3u);

    const dump::DumpSettings missing = dump::LoadSettings(win::WidePath(folder.File("Missing.ini")));
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
    dump::StorePath(dump::kKeyForWrite, L"C:\\picked\\new.bin");
    dump::DumpSettings s = dump::LoadSettings();
    EXPECT_EQ(s.forRead, "C:\\a.bin");
    EXPECT_EQ(s.forWrite, "C:\\picked\\new.bin");
    EXPECT_EQ(s.Size, 12u);
    EXPECT_EQ(s.Addr, 5u);
    EXPECT_EQ(ReadText(SettingsFile()).find("readMode"), std::string::npos);

    dump::StorePath(dump::kKeyForRead, L"C:\\picked\\image.bin");
    s = dump::LoadSettings();
    EXPECT_EQ(s.forRead, "C:\\picked\\image.bin");
    EXPECT_EQ(s.forWrite, "C:\\picked\\new.bin");
}

TEST_F(SettingsTest, StoringCreatesAMissingFile)
{
    dump::StorePath(dump::kKeyForRead, L"C:\\x.bin");
    EXPECT_EQ(dump::LoadSettings().forRead, "C:\\x.bin");
    EXPECT_EQ(dump::LoadSettings().Size, 0x2000u);
}

// Which file is read, and where a picked path is saved: the user's own file
// wins; a program folder that can't be written sends the save to a copy of
// its file in the user's folder; without either nothing moves.
TEST_F(SettingsTest, UserFileWinsAndTakesSavesTheProgramFolderRefuses)
{
    const std::string beside = "[Dump]\r\nforRead=C:\\a.bin\r\nforWrite=C:\\b.bin\r\nSize=12\r\nAddr=5\r\n";
    const struct {
        const char* name;
        const char* user;  // the user's file before, or null for none
        bool locked;       // the file beside the program can't be written
        uint32_t size;     // Size read before the save
        bool savedBeside;  // where the picked path went
    } cases[] = {
        {"user file wins", "[Dump]\r\nSize=77\r\n", false, 77, false},
        {"file beside the program locked", nullptr, true, 12, false},
        {"no user file", nullptr, false, 12, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveSettings();
        WriteSettings(beside);
        if (c.user) {
            CreateDirectoryA(UserSettingsFile().substr(0, UserSettingsFile().rfind('\\')).c_str(), nullptr);
            ASSERT_TRUE(WriteAll(UserSettingsFile(), std::vector<uint8_t>(c.user, c.user + strlen(c.user))));
        }
        // Readers only, as a folder the user may not write allows (the test
        // bed runs as a user that no read-only attribute stops).
        const win::unique_file lock(c.locked ? CreateFileA(SettingsFile().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                           nullptr, OPEN_EXISTING, 0, nullptr)
                                             : INVALID_HANDLE_VALUE);
        ASSERT_EQ(lock.valid(), c.locked);
        EXPECT_EQ(dump::LoadSettings().Size, c.size);

        dump::StorePath(dump::kKeyForWrite, L"C:\\picked.bin");
        const dump::DumpSettings after = dump::LoadSettings();
        EXPECT_EQ(after.forWrite, "C:\\picked.bin");
        EXPECT_EQ(after.Size, c.size) << "the other keys stay";
        EXPECT_EQ(after.forRead, c.user ? "" : "C:\\a.bin");
        EXPECT_EQ(ReadText(SettingsFile()) == beside, !c.savedBeside);
        EXPECT_EQ(Exists(UserSettingsFile()), !c.savedBeside);
    }
}

}  // namespace
