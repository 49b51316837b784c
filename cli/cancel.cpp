#include "cancel.h"

#include <atomic>

namespace cli {

namespace {

// After the console's close, logoff or shutdown the system ends the process
// once the handler returns, and without asking after about 5 s: the main
// thread gets a little less to put the files back.
constexpr DWORD kCleanupMs = 4500;
constexpr DWORD kCleanupPollMs = 10;

// The handler is a plain function, so what it acts on lives here; only one
// ConsoleBreak exists at a time.
std::atomic<bool> requested{false};
std::atomic<bool> cleanedUp{false};
dump::CancelSwitch cancelSwitch;
HWND notifyWindow = nullptr;
UINT notifyMessage = 0;

BOOL WINAPI Handler(DWORD event)
{
    requested = true;
    if (notifyWindow)
        PostMessageA(notifyWindow, notifyMessage, 0, 0);
    else
        cancelSwitch.Cancel();
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        return TRUE;
    // Closing, logoff, shutdown: the process ends when this returns.
    for (DWORD waited = 0; !cleanedUp && waited < kCleanupMs; waited += kCleanupPollMs)
        Sleep(kCleanupPollMs);
    return TRUE;
}

}  // namespace

ConsoleBreak::ConsoleBreak()
{
    SetConsoleCtrlHandler(Handler, TRUE);
}

ConsoleBreak::ConsoleBreak(HWND window, UINT message)
{
    notifyWindow = window;
    notifyMessage = message;
    SetConsoleCtrlHandler(Handler, TRUE);
}

ConsoleBreak::~ConsoleBreak()
{
    // First: the system may hold its handler lock while the handler waits.
    cleanedUp = true;
    SetConsoleCtrlHandler(Handler, FALSE);
    notifyWindow = nullptr;
}

bool ConsoleBreak::Requested()
{
    return requested;
}

dump::CancelSwitch& ConsoleBreak::Switch()
{
    return cancelSwitch;
}

}  // namespace cli
