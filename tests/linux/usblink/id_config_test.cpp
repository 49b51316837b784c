// "uxfer usb add": the system config and udev rule as root, the user's config
// and the line for root as a user, in folders of the test's own.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "temp_folder.h"
#include "usblink/id_config.h"

using usblink::AddOutcome;
using usblink::Installer;
using usblink::UsbId;

namespace {

const UsbId kId{0x1234, 0xCD02};
const UsbId kOther{0xABCD, 0xCD03};
const char kRule[] = "SUBSYSTEM==\"usb\", ATTR{idVendor}==\"1234\", ATTR{idProduct}==\"cd02\", TAG+=\"uaccess\"";

mode_t Mode(const std::string& path)
{
    struct stat info = {};
    stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

}  // namespace

TEST(IdConfig, Folders)
{
    EXPECT_EQ(usblink::UserConfigFolder("/x/config", "/home/u"), "/x/config/uxfer");
    EXPECT_EQ(usblink::UserConfigFolder(nullptr, "/home/u"), "/home/u/.config/uxfer");
    EXPECT_EQ(usblink::UserConfigFolder("", "/home/u"), "/home/u/.config/uxfer");
    EXPECT_EQ(usblink::UserConfigFolder("relative", "/home/u"), "/home/u/.config/uxfer");
    EXPECT_EQ(usblink::UserConfigFolder(nullptr, nullptr), "");
    EXPECT_EQ(usblink::ConfigFiles("/home/u/.config/uxfer"),
              (std::vector<std::string>{"/etc/uxfer/usb.conf", "/home/u/.config/uxfer/usb.conf"}));
    EXPECT_EQ(usblink::ConfigFiles(""), (std::vector<std::string>{"/etc/uxfer/usb.conf"}));
    const usblink::AddFolders root = usblink::FoldersFor(Installer::Root, "/home/u/.config/uxfer");
    EXPECT_EQ(root.config + " " + root.udevRules, "/etc/uxfer /etc/udev/rules.d");
    const usblink::AddFolders user = usblink::FoldersFor(Installer::User, "/home/u/.config/uxfer");
    EXPECT_EQ(user.config + " " + user.udevRules, "/home/u/.config/uxfer ");
}

TEST(IdConfig, AddAsRoot)
{
    TempFolder root;
    ASSERT_FALSE(root.Path().empty());
    const usblink::AddFolders folders{root / "etc/uxfer", root / "etc/udev/rules.d"};
    AddOutcome outcome;
    ASSERT_TRUE(usblink::AddId(kId, Installer::Root, folders, outcome).ok());
    EXPECT_TRUE(outcome.configAdded);
    EXPECT_TRUE(outcome.ruleAdded);
    EXPECT_EQ(outcome.rootLine, "");
    const std::string config = folders.config + "/usb.conf";
    const std::string rules = folders.udevRules + "/70-uxfer.rules";
    EXPECT_EQ(ReadText(config), "# VID:PID of the devices uxfer may use, one a line.\n1234:cd02\n");
    EXPECT_EQ(ReadText(rules),
              "# Written by uxfer usb add: the seated user may open these devices.\n" + std::string(kRule) + "\n");
    EXPECT_EQ(Mode(config), 0644u);

    // Again: nothing added twice, not even written in another case.
    ASSERT_TRUE(usblink::AddId(UsbId{0x1234, 0xcd02}, Installer::Root, folders, outcome).ok());
    EXPECT_FALSE(outcome.configAdded);
    EXPECT_FALSE(outcome.ruleAdded);
    EXPECT_EQ(ReadText(rules).find(kRule), ReadText(rules).rfind(kRule));

    // What a file held is kept, its mode too; an id an administrator wrote
    // in another form is found.
    WriteText(config, "# lab\n0x1234:CD02 # bench\nbad line");
    chmod(config.c_str(), 0640);
    ASSERT_TRUE(usblink::AddId(kId, Installer::Root, folders, outcome).ok());
    EXPECT_FALSE(outcome.configAdded);
    ASSERT_TRUE(usblink::AddId(kOther, Installer::Root, folders, outcome).ok());
    EXPECT_TRUE(outcome.configAdded);
    EXPECT_TRUE(outcome.ruleAdded);
    EXPECT_EQ(ReadText(config), "# lab\n0x1234:CD02 # bench\nbad line\nabcd:cd03\n");
    EXPECT_EQ(Mode(config), 0640u);
    EXPECT_NE(ReadText(rules).find(std::string(kRule) + "\n" + usblink::UdevRule(kOther) + "\n"), std::string::npos);

    // Replaced whole: no temporary file is left beside them.
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folders.config))
        entries += entry.is_regular_file();
    EXPECT_EQ(entries, 1u);
}

TEST(IdConfig, AddAsUser)
{
    TempFolder home;
    ASSERT_FALSE(home.Path().empty());
    const usblink::AddFolders folders{home / ".config/uxfer", home / "rules"};
    AddOutcome outcome;
    ASSERT_TRUE(usblink::AddId(kId, Installer::User, folders, outcome).ok());
    EXPECT_TRUE(outcome.configAdded);
    EXPECT_FALSE(outcome.ruleAdded);
    EXPECT_EQ(outcome.rootLine, "uxfer usb add 1234:cd02");
    EXPECT_EQ(ReadText(folders.config + "/usb.conf"),
              "# VID:PID of the devices uxfer may use, one a line.\n1234:cd02\n");
    EXPECT_FALSE(std::filesystem::exists(folders.udevRules));

    // A folder that can't be made is said with its path.
    WriteText(home / "file", "");
    const usblink::Result refused =
        usblink::AddId(kId, Installer::User, usblink::AddFolders{home / "file/uxfer", ""}, outcome);
    EXPECT_EQ(refused.code, usblink::Code::IoFailed);
    EXPECT_EQ(refused.detail, "can't make the folder " + home / "file/uxfer" + ": Not a directory");
}
