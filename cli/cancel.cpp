#include "cancel.h"

#include <atomic>
#include <string>

#include "dump/cancel_switch.h"
#include "errors.h"

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
uint32_t cancelInstance = 0;
dump::CancelSwitch cancelSwitch;
bool callBegun = false;
uint32_t callTimeout = 0;
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

ConsoleBreak::ConsoleBreak(uint32_t instance)
{
    cancelInstance = instance;
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
    if (callBegun)
        cancelSwitch.End();
    callBegun = false;
}

bool ConsoleBreak::Requested()
{
    return requested;
}

int Cancelled()
{
    return Fail(kExitCancelled, "cancelled");
}

int BeginCall(uint32_t timeoutSeconds)
{
    cancelSwitch.Begin(cancelInstance);
    callBegun = true;
    callTimeout = timeoutSeconds;
    if (cancelSwitch.StartTimer(timeoutSeconds) == dump::CancelSwitch::Outcome::NoTimer)
        return Fail(kExitNoMemory, "can't start the timer of --timeout (" + SystemErrorText(GetLastError()) + ")");
    // An event before the call began found nothing to stop.
    if (ConsoleBreak::Requested())
        return Cancelled();
    return kExitOk;
}

int RunCancellable(const std::function<bool()>& step)
{
    switch (cancelSwitch.Run(step)) {
    case dump::CancelSwitch::Outcome::TimedOut:
        return Fail(kExitDevice, "no answer from the device in " + std::to_string(callTimeout) +
                                     " s, so the transfer was stopped; try 'uxfer status' and 'uxfer reset', or a "
                                     "longer --timeout (0: no limit)");
    case dump::CancelSwitch::Outcome::Cancelled:
        return Cancelled();
    case dump::CancelSwitch::Outcome::Ran:
    case dump::CancelSwitch::Outcome::NoTimer:
        break;
    }
    return kExitOk;
}

}  // namespace cli
