// The configured ids: config files, UXFER_USB and --usb options, and the
// sentences that name a bad entry's place.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "temp_folder.h"
#include "usblink/usb_ids.h"

using usblink::IdSet;
using usblink::UsbId;

namespace {

std::vector<std::string> Texts(const IdSet& set)
{
    std::vector<std::string> texts;
    for (const UsbId& id : set.ids)
        texts.push_back(usblink::IdText(id));
    return texts;
}

struct ConfigCase {
    const char* name;
    const char* text;
    std::vector<std::string> ids;
    std::vector<std::string> problems;
};

}  // namespace

TEST(UsbIds, ConfigText)
{
    const auto Bad = [](int line, const std::string& entry) {
        return "usb.conf line " + std::to_string(line) + ": \"" + entry +
               "\" is not a VID:PID (two hex numbers of up to 4 digits, e.g. 1234:cd02)";
    };
    const ConfigCase cases[] = {
        {"empty", "", {}, {}},
        {"comments and blanks", "# ids\n\n   \n\t# more\n", {}, {}},
        {"one a line", "1234:cd02\nABCD:CD03\n", {"1234:cd02", "abcd:cd03"}, {}},
        {"short and 0x forms", "1:2\n0x0a0b:0XCD02\n", {"0001:0002", "0a0b:cd02"}, {}},
        {"comment after an id, blanks and CRLF", "  1234:cd02  # the bench unit\r\n", {"1234:cd02"}, {}},
        {"no newline at the end", "1234:cd02", {"1234:cd02"}, {}},
        {"an id twice is one", "1234:cd02\n1234:CD02\n", {"1234:cd02"}, {}},
        {"bad lines named by number",
         "1234:cd02\n12345:cd02\n# fine\nzz:cd02\n1234\n1234:cd02:1\n1234 cd02\n",
         {"1234:cd02"},
         {Bad(2, "12345:cd02"), Bad(4, "zz:cd02"), Bad(5, "1234"), Bad(6, "1234:cd02:1"), Bad(7, "1234 cd02")}},
    };
    for (const ConfigCase& c : cases) {
        SCOPED_TRACE(c.name);
        IdSet set;
        ASSERT_TRUE(usblink::ParseConfigText(c.text, "usb.conf", set).ok());
        EXPECT_EQ(Texts(set), c.ids);
        EXPECT_EQ(set.problems, c.problems);
    }
}

// Files in order (a missing one adds nothing), then UXFER_USB, then --usb;
// each bad entry named by its source.
TEST(UsbIds, Sources)
{
    TempFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    WriteText(folder / "system.conf", "1111:cd02\nnot an id\n");
    WriteText(folder / "user.conf", "2222:cd03\n1111:cd02\n");

    usblink::IdSources sources;
    sources.files = {folder / "system.conf", folder / "missing.conf", folder / "user.conf"};
    const std::string environment = "3333:cd02, 4444:cd02\t5555:CD03,,bad";
    sources.environment = environment.c_str();
    sources.options = {"6666:cd02", "7777:cd02,8888:cd02"};
    IdSet set;
    ASSERT_TRUE(usblink::LoadIds(sources, set).ok());
    EXPECT_EQ(Texts(set), (std::vector<std::string>{"1111:cd02", "2222:cd03", "3333:cd02", "4444:cd02",
                                                    "5555:cd03", "6666:cd02"}));
    const std::string why = " is not a VID:PID (two hex numbers of up to 4 digits, e.g. 1234:cd02)";
    EXPECT_EQ(set.problems, (std::vector<std::string>{folder / "system.conf" + " line 2: \"not an id\"" + why,
                                                      "UXFER_USB: \"bad\"" + why,
                                                      "--usb: \"7777:cd02,8888:cd02\"" + why}));

    // Nothing configured anywhere: no id at all, none built in.
    IdSet none;
    ASSERT_TRUE(usblink::LoadIds(usblink::IdSources{{folder / "missing.conf"}, nullptr, {}}, none).ok());
    EXPECT_TRUE(none.ids.empty());
    EXPECT_TRUE(none.problems.empty());

    // A config that is there but can't be read is said, not skipped.
    IdSet unreadable;
    ASSERT_TRUE(usblink::LoadIds(usblink::IdSources{{folder.Path()}, nullptr, {}}, unreadable).ok());
    ASSERT_EQ(unreadable.problems.size(), 1u);
    EXPECT_EQ(unreadable.problems[0].rfind(folder.Path() + ": can't be read", 0), 0u) << unreadable.problems[0];
}
