#include "cancel.h"

#include <atomic>
#include <mutex>

#include "win/unique_any.h"

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
// The thread reading standard input, while it does.
std::mutex inputGuard;
win::unique_handle inputReader;

// A read that had not begun when it was cut short would go on blocking:
// cut again until the reader is out.
void StopInputRead()
{
    for (DWORD waited = 0; waited < kCleanupMs; waited += kCleanupPollMs) {
        {
            const std::lock_guard<std::mutex> lock(inputGuard);
            if (!inputReader)
                return;
            CancelSynchronousIo(inputReader.get());
        }
        Sleep(kCleanupPollMs);
    }
}

BOOL WINAPI Handler(DWORD event)
{
    requested = true;
    if (notifyWindow)
        PostMessageA(notifyWindow, notifyMessage, 0, 0);
    else
        cancelSwitch.Cancel();
    StopInputRead();
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

ConsoleBreak::InputRead::InputRead()
{
    HANDLE thread = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    const std::lock_guard<std::mutex> lock(inputGuard);
    inputReader.reset(thread);
}

ConsoleBreak::InputRead::~InputRead()
{
    const std::lock_guard<std::mutex> lock(inputGuard);
    inputReader.reset();
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
