// vantor_drive.exe <screenshot.png> [vantor-folder]
// Runs Vantor.exe (from its own folder, or the one given, as an installed copy)
// through the launcher with the DumpSet.ini beside it, presses
// "Write" and then "Read" in its dialog, prints each message box text, and
// saves a screenshot while the last message is shown.  Exit code 0 when both
// transfers reported success.
#include <cstdio>
#include <string>

#include "dumptool/vantor_session.h"

namespace {

constexpr int kRead = 1000;
constexpr int kWrite = 1001;

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// Presses a button and prints the message it brings up; `shot` is taken
// while the message is still on screen.
std::wstring Press(dumptest::VantorSession& vantor, int button, const char* name, const std::string& shot)
{
    vantor.Click(button);
    HWND box = vantor.WaitPopup(120000);
    const std::wstring text = box ? vantor.Text(GetDlgItem(box, 0xFFFF)) : L"";
    std::printf("%s: %s\n", name, box ? Narrow(text).c_str() : "(no message)");
    std::fflush(stdout);
    if (box && !shot.empty())
        std::printf("screenshot: %s\n", dumptest::SaveScreenshot(shot) ? shot.c_str() : "(failed)");
    if (box) {
        vantor.Click(box, IDOK);
        vantor.WaitHandlerDone(box);
    }
    return text;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: vantor_drive <screenshot.png> [vantor-folder]\n");
        return 2;
    }
    dumptest::VantorSession vantor;
    if (!vantor.Start(argc == 3 ? argv[2] : "")) {
        std::fprintf(stderr, "vantor_drive: Vantor's dialog did not come up\n");
        return 1;
    }
    const bool wrote = Press(vantor, kWrite, "Write", "") == L"Write file success!";
    const bool read = Press(vantor, kRead, "Read", argv[1]) == L"Read file success!";
    const long code = vantor.Close();
    std::printf("Vantor exit code: %ld\n", code);
    return wrote && read && code == 0 ? 0 : 1;
}
