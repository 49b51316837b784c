// Vantor.exe as a user meets it: started through the launcher, its dialog
// driven from this process against the virtual device.
#include <gtest/gtest.h>

#include "common/device_log.h"
#include "dumptool/test_files.h"
#include "dumptool/vantor_session.h"
#include "uXfer.h"
#include "vdev_client.h"
#include "win/unique_any.h"

using namespace dumptest;

namespace {

constexpr int kRead = 1000;
constexpr int kWrite = 1001;
constexpr int kSummary = 1007;
constexpr int kPickForRead = 1008;
constexpr int kPickForWrite = 1009;
constexpr int kForRead = 1010;
constexpr int kForWrite = 1011;
constexpr WPARAM kAboutCommand = 0x0010;

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

class DialogTest : public testing::Test {
protected:
    // The delay lives in uXfer's shared section: Vantor's waits take it too.
    static void SetUpTestSuite() { uSetDelay(0); }

    void SetUp() override
    {
        ASSERT_TRUE(device.Open(0));
        ASSERT_TRUE(device.Reset());
        RemoveSettings();
    }
    void TearDown() override { RemoveSettings(); }

    void Settings(const std::string& forRead, const std::string& forWrite, uint32_t size, uint32_t addr,
                  uint32_t readMode = 0, uint32_t writeMode = 0)
    {
        WriteSettings("[Dump]\r\nforRead=" + forRead + "\r\nforWrite=" + forWrite + "\r\nSize=" +
                      std::to_string(size) + "\r\nAddr=" + std::to_string(addr) + "\r\nreadMode=" +
                      std::to_string(readMode) + "\r\nwriteMode=" + std::to_string(writeMode) + "\r\n");
    }

    vdev::Device device;
    ScratchFolder scratch;
    VantorSession vantor;
};

TEST_F(DialogTest, OpensWithDefaultsWithoutASettingsFile)
{
    ASSERT_TRUE(vantor.Start());
    EXPECT_EQ(vantor.Text(vantor.Dialog()), L"Vantor");
    EXPECT_EQ(vantor.ControlText(kSummary),
              L"Check the following parameters before read/write:\n"
              L" Read from file: \n"
              L" Write to file:  \n"
              L" Size: 0x2000 (B)\n"
              L" Address: 0x0\n"
              L"You can change these at 'DumpSet.ini'.");
    EXPECT_EQ(vantor.ControlText(kForRead), L"");
    EXPECT_EQ(vantor.ControlText(kForWrite), L"");
    EXPECT_EQ(vantor.ControlText(kRead), L"Read");
    EXPECT_EQ(vantor.ControlText(kWrite), L"Write");
    EXPECT_EQ(vantor.ControlText(kPickForRead), L"read file...");
    EXPECT_EQ(vantor.ControlText(kPickForWrite), L"write file...");

    const LONG style = GetWindowLongW(vantor.Dialog(), GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_TRUE(GetWindowLongW(vantor.Dialog(), GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_FALSE(Exists(SettingsFile()));
    EXPECT_EQ(vantor.Close(), 0);
}

TEST_F(DialogTest, ReadStoresTheDumpAndSaysSo)
{
    std::vector<uint8_t> memory(0x400);
    for (size_t i = 0; i < memory.size(); ++i)
        memory[i] = static_cast<uint8_t>(i * 7 + 1);
    ASSERT_TRUE(device.LoadMemory(0, memory.data(), memory.size()));
    const std::string dumpFile = scratch.File("dump.bin");
    Settings(scratch.File("in.bin"), dumpFile, 0x100, 0x80, 0x20003);
    ASSERT_TRUE(vantor.Start());
    EXPECT_NE(vantor.ControlText(kSummary).find(L" Size: 0x100 (B)\n Address: 0x80\n"), std::wstring::npos);
    EXPECT_EQ(vantor.ControlText(kForWrite), Wide(dumpFile));

    vantor.Click(kRead);
    std::wstring caption;
    EXPECT_EQ(vantor.TakeMessage(&caption), L"Read file success!");
    EXPECT_EQ(caption, L"Vantor");

    const auto dumped = ReadAll(dumpFile);
    ASSERT_EQ(dumped.size(), 256u);
    for (size_t i = 0; i < dumped.size(); ++i)
        ASSERT_EQ(dumped[i], memory[2 * (0x80 + i)]) << "byte " << i;
    const auto log = device.Log();
    const auto calls = VendorCalls(log);
    ASSERT_EQ(calls.size(), 2u) << Dump(log);
    EXPECT_EQ(calls[0].request, REQ_DEBUG);
    EXPECT_EQ(calls[1].request, REQ_READ);
    EXPECT_EQ(calls[1].index, 3);
    EXPECT_EQ(calls[1].Word(1), 0x80u);
    EXPECT_EQ(calls[1].Word(2), 128u);
    EXPECT_EQ(PipeTransfers(log)[0].head, ByteList({0x05, 0, 0, 0, 0xFF, 0xFF, 0x05, 0, 0, 0, 0xFF, 0xFF}));
    EXPECT_EQ(CountType(log, VDEV_LOG_CLOSE), CountType(log, VDEV_LOG_OPEN));
    EXPECT_EQ(vantor.Close(), 0);
}

TEST_F(DialogTest, WriteSendsTheFileAsWordPairs)
{
    const std::string image = scratch.File("image.bin");
    ASSERT_TRUE(WriteAll(image, ByteList({1, 2, 3, 4})));
    Settings(image, scratch.File("dump.bin"), 3, 0x10, 0, 0x1234);
    ASSERT_TRUE(vantor.Start());
    vantor.Click(kWrite);
    EXPECT_EQ(vantor.TakeMessage(), L"Write file success!");

    std::vector<uint8_t> memory(8);
    ASSERT_TRUE(device.ReadMemory(0x20, memory.data(), memory.size()));
    EXPECT_EQ(memory, ByteList({0x01, 0xFF, 0x02, 0xFF, 0x03, 0xFF, 0, 0}));
    const auto calls = VendorCalls(device.Log());
    ASSERT_EQ(calls.size(), 2u) << Dump(device.Log());
    EXPECT_EQ(calls[1].request, REQ_WRITE);
    EXPECT_EQ(calls[1].index, 0x1234);
    EXPECT_EQ(vantor.Close(), 0);
}

TEST_F(DialogTest, FailuresShowTheirMessagesAndKeepTheOldDump)
{
    const std::string dumpFile = scratch.File("dump.bin");
    const auto previous = ByteList({'k', 'e', 'e', 'p'});
    ASSERT_TRUE(WriteAll(dumpFile, previous));
    Settings(scratch.File("missing.bin"), dumpFile, 64, 0);
    ASSERT_TRUE(vantor.Start());

    vantor.Click(kWrite);
    EXPECT_EQ(vantor.TakeMessage(), L"Open file to read failed!");
    ASSERT_TRUE(device.FailRead(1));
    vantor.Click(kRead);
    EXPECT_EQ(vantor.TakeMessage(), L"Read file failed!");
    EXPECT_EQ(ReadAll(dumpFile), previous);
    ASSERT_TRUE(device.FailControl(1, REQ_DEBUG));
    vantor.Click(kRead);
    EXPECT_EQ(vantor.TakeMessage(), L"Send reset cmd failed!");
    ASSERT_TRUE(device.SetPlugged(false));
    vantor.Click(kRead);
    EXPECT_EQ(vantor.TakeMessage(), L"Open USB failed!");
    EXPECT_EQ(ReadAll(dumpFile), previous);
    ASSERT_TRUE(device.SetPlugged(true));
    EXPECT_EQ(vantor.Close(), 0);
}

TEST_F(DialogTest, SizeBeyondTheWireBufferIsRefusedUpFront)
{
    Settings(scratch.File("in.bin"), scratch.File("dump.bin"), 0x80000000u, 0);
    ASSERT_TRUE(vantor.Start());
    EXPECT_NE(vantor.ControlText(kSummary).find(L" Size: 0x80000000 (B)\n"), std::wstring::npos);
    vantor.Click(kRead);
    EXPECT_EQ(vantor.TakeMessage(), L"Allocate memory failed!");
    EXPECT_FALSE(Exists(scratch.File("dump.bin")));
    EXPECT_TRUE(device.Log().empty()) << Dump(device.Log());
    EXPECT_EQ(vantor.Close(), 0);
}

TEST_F(DialogTest, WriteFilePickerChangesThePathAtOnce)
{
    const std::string image = scratch.File("image.bin");
    Settings(image, scratch.File("old.bin"), 8, 0);
    ASSERT_TRUE(vantor.Start());
    const std::wstring summary = vantor.ControlText(kSummary);

    vantor.Click(kPickForWrite);
    HWND picker = vantor.WaitPopup();
    ASSERT_TRUE(picker);
    const std::string chosen = scratch.File("picked.bin");
    ASSERT_TRUE(vantor.ChooseFile(picker, Wide(chosen)));
    EXPECT_EQ(vantor.ControlText(kForWrite), Wide(chosen));
    EXPECT_EQ(vantor.ControlText(kSummary), summary);
    const std::string ini = ReadText(SettingsFile());
    EXPECT_NE(ini.find("forWrite=" + chosen), std::string::npos) << ini;
    EXPECT_NE(ini.find("forRead=" + image), std::string::npos) << ini;

    vantor.Click(kRead);
    EXPECT_EQ(vantor.TakeMessage(), L"Read file success!");
    EXPECT_EQ(ReadAll(chosen).size(), 8u);
    EXPECT_FALSE(Exists(scratch.File("old.bin")));
    EXPECT_EQ(vantor.Close(), 0);

    // The next start shows the chosen path in the summary.
    VantorSession again;
    ASSERT_TRUE(again.Start());
    EXPECT_NE(again.ControlText(kSummary).find(L" Write to file:  " + Wide(chosen) + L"\n"), std::wstring::npos);
    EXPECT_EQ(again.Close(), 0);
}

TEST_F(DialogTest, ReadFilePickerWritesOnlyItsKeyAndCancelChangesNothing)
{
    const std::string dumpFile = scratch.File("dump.bin");
    Settings(scratch.File("old.bin"), dumpFile, 2, 0);
    const std::string image = scratch.File("image.bin");
    ASSERT_TRUE(WriteAll(image, ByteList({0x5A, 0xC3})));
    ASSERT_TRUE(vantor.Start());

    vantor.Click(kPickForRead);
    HWND picker = vantor.WaitPopup();
    ASSERT_TRUE(picker);
    vantor.CancelPicker(picker);
    EXPECT_EQ(vantor.ControlText(kForRead), Wide(scratch.File("old.bin")));
    EXPECT_NE(ReadText(SettingsFile()).find("forRead=" + scratch.File("old.bin")), std::string::npos);

    vantor.Click(kPickForRead);
    picker = vantor.WaitPopup();
    ASSERT_TRUE(picker);
    ASSERT_TRUE(vantor.ChooseFile(picker, Wide(image)));
    EXPECT_EQ(vantor.ControlText(kForRead), Wide(image));
    const std::string ini = ReadText(SettingsFile());
    EXPECT_NE(ini.find("forRead=" + image), std::string::npos) << ini;
    EXPECT_NE(ini.find("forWrite=" + dumpFile), std::string::npos) << ini;

    vantor.Click(kWrite);
    EXPECT_EQ(vantor.TakeMessage(), L"Write file success!");
    std::vector<uint8_t> memory(4);
    ASSERT_TRUE(device.ReadMemory(0, memory.data(), memory.size()));
    EXPECT_EQ(memory, ByteList({0x5A, 0xFF, 0xC3, 0xFF}));
    EXPECT_EQ(vantor.Close(), 0);
}

// A picked name that the ANSI settings file can't hold unchanged is refused:
// never stored, never swapped for a look-alike.
TEST_F(DialogTest, PickedNameOutsideTheCodePageIsRefused)
{
    const std::string dumpFile = scratch.File("dump.bin");
    const std::string lookalike = scratch.File("dump-w.bin");
    ASSERT_TRUE(WriteAll(lookalike, ByteList({'w'})));
    Settings(scratch.File("image.bin"), dumpFile, 4, 0);
    const std::string ini = ReadText(SettingsFile());
    const struct {
        int button;
        int shown;
        const wchar_t* name;
    } cases[] = {
        {kPickForWrite, kForWrite, L"dump-\u0175.bin"},  // best fit: dump-w.bin
        {kPickForRead, kForRead, L"image-\u0915.bin"},   // no character of the code page at all
    };
    ASSERT_TRUE(vantor.Start());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        const std::wstring before = vantor.ControlText(c.shown);
        vantor.Click(c.button);
        HWND picker = vantor.WaitPopup();
        ASSERT_TRUE(picker);
        ASSERT_TRUE(vantor.ChooseFile(picker, Wide(scratch.File("")) + c.name));
        EXPECT_EQ(vantor.TakeMessage(),
                  L"The file name can't be used: it has characters outside the system code page, and DumpSet.ini "
                  L"can only hold names made of those. Pick a file whose name uses only characters of the system "
                  L"code page.");
        EXPECT_EQ(vantor.ControlText(c.shown), before);
    }
    EXPECT_EQ(ReadText(SettingsFile()), ini);

    vantor.Click(kRead);
    EXPECT_EQ(vantor.TakeMessage(), L"Read file success!");
    EXPECT_EQ(ReadAll(dumpFile).size(), 4u);
    EXPECT_EQ(ReadAll(lookalike), ByteList({'w'}));
    EXPECT_EQ(vantor.Close(), 0);
}

TEST_F(DialogTest, AboutBoxFromTheSystemMenu)
{
    ASSERT_TRUE(vantor.Start());
    // Alt+Space opens the system menu; End selects its last entry, Enter chooses it.
    PostMessageW(vantor.Dialog(), WM_SYSCOMMAND, SC_KEYMENU, ' ');
    ASSERT_TRUE(vantor.WaitPopup(10000, "#32768"));
    PostMessageW(vantor.Dialog(), WM_KEYDOWN, VK_END, 0);
    Sleep(300);  // the menu repaints its selection
    EXPECT_TRUE(SaveScreenshot(ProgramFolder() + "..\\dumptool-menu.png"));
    PostMessageW(vantor.Dialog(), WM_KEYDOWN, VK_RETURN, 0);

    HWND about = vantor.WaitPopup();
    ASSERT_TRUE(about);
    EXPECT_EQ(vantor.Text(about), L"关于 Vantor");
    EXPECT_TRUE(FindWindowExW(about, nullptr, L"Static", L"Vantor 1.0 版"));
    EXPECT_EQ(vantor.Text(GetDlgItem(about, IDOK)), L"确定");
    EXPECT_TRUE(GetWindowLongW(GetDlgItem(about, IDOK), GWL_STYLE) & BS_DEFPUSHBUTTON);
    EXPECT_FALSE(IsWindowEnabled(vantor.Dialog())) << "the About box is modal over the dialog";
    EXPECT_TRUE(SaveScreenshot(ProgramFolder() + "..\\dumptool-dialog.png"));

    vantor.Click(about, IDOK);
    EXPECT_TRUE(vantor.WaitHandlerDone(about));
    EXPECT_TRUE(IsWindowEnabled(vantor.Dialog()));
    EXPECT_EQ(vantor.Close(), 0);
}

TEST_F(DialogTest, ResourcesAreInChinesePrc)
{
    const win::unique_hmodule owner(
        LoadLibraryExA((ProgramFolder() + "Vantor.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(owner);
    const HMODULE image = owner.get();
    const WORD prc = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
    EXPECT_TRUE(FindResourceExW(image, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(102), prc));   // main dialog
    EXPECT_TRUE(FindResourceExW(image, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(100), prc));   // About box
    EXPECT_TRUE(FindResourceExW(image, MAKEINTRESOURCEW(14), MAKEINTRESOURCEW(128), prc));  // icon group
    EXPECT_TRUE(FindResourceExW(image, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(101 / 16 + 1), prc));
    EXPECT_TRUE(FindResourceExW(image, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), prc));    // version
    wchar_t entry[64] = {};
    LoadStringW(image, 101, entry, 64);
    EXPECT_EQ(std::wstring(entry), L"关于 Vantor(&A)...");

    DWORD ignored = 0;
    const std::string path = ProgramFolder() + "Vantor.exe";
    std::vector<char> version(GetFileVersionInfoSizeA(path.c_str(), &ignored));
    ASSERT_FALSE(version.empty());
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, version.size(), version.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(version.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
}

}  // namespace
