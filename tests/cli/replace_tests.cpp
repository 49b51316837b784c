// What a read leaves in place of the old dump, and what a killed read leaves.
#include <gtest/gtest.h>

#include "cli/uxfer_run.h"
#include "common/device_log.h"

using namespace dumptest;

namespace {

using ReplaceTest = UxferTest;

TEST_F(ReplaceTest, ReadOverAFileKeepsItsAttributes)
{
    ASSERT_TRUE(WriteAll(File("dump.bin"), {1, 2, 3}));
    const DWORD attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
    ASSERT_TRUE(SetFileAttributesA(File("dump.bin").c_str(), attributes));
    const std::vector<uint8_t> dump = Pattern(16, 5);
    LoadWords(0, WireOf(dump));
    UxferResult read = RunUxfer("read " + Quoted(File("dump.bin")) + " --size 16");
    EXPECT_EQ(0u, read.exitCode) << read.err;
    EXPECT_EQ(dump, ReadAll(File("dump.bin")));
    EXPECT_EQ(attributes, GetFileAttributesA(File("dump.bin").c_str()));
}

TEST_F(ReplaceTest, KilledReadLeavesNoTemporaryFile)
{
    ASSERT_TRUE(device.PendRead(1));
    UxferProcess read;
    ASSERT_TRUE(read.Start("read " + Quoted(File("dump.bin")) + " --size 4K"));
    VdevInfo info{};
    for (int i = 0; i < 1200 && device.Info(info) && !info.readPending; ++i)
        Sleep(50);
    ASSERT_TRUE(info.readPending);
    ASSERT_EQ(1u, ScratchFiles().size()) << "the temporary file is there while the read is held";
    EXPECT_FALSE(read.Wait(0).finished);  // killed
    device.ReleaseRead();
    EXPECT_TRUE(ScratchFiles().empty());
}

}  // namespace
