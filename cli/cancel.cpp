#include "cancel.h"

#include <atomic>
#include <string>

#include "errors.h"
#include "dump/instance_lock.h"

namespace cli {

namespace {

// The reset code of a cancel: the one the library uses for a stopped transfer.
constexpr uint32_t kCancelResetCode = 2;
// After the console's close, logoff or shutdown the system ends the process
// once the handler returns, and without asking after about 5 s: the main
// thread gets a little less to put the files back.
constexpr DWORD kCleanupMs = 4500;
constexpr DWORD kCleanupPollMs = 10;

// The handler is a plain function, so what it acts on lives here; only one
// ConsoleBreak exists at a time.
std::atomic<bool> requested{false};
std::atomic<bool> transferRunning{false};
std::atomic<bool> timedOut{false};
std::atomic<bool> cleanedUp{false};
uint32_t cancelInstance = 0;
HWND notifyWindow = nullptr;
UINT notifyMessage = 0;

void CancelTransfer()
{
    // Without the instance lock the reset could reach another process's
    // device: then it is better not sent.
    uint32_t result;
    std::string problem;
    dump::SendCancel(cancelInstance, kCancelResetCode, result, problem);
}

BOOL WINAPI Handler(DWORD event)
{
    requested = true;
    if (notifyWindow)
        PostMessageA(notifyWindow, notifyMessage, 0, 0);
    else if (transferRunning)
        CancelTransfer();
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        return TRUE;
    // Closing, logoff, shutdown: the process ends when this returns.
    for (DWORD waited = 0; !cleanedUp && waited < kCleanupMs; waited += kCleanupPollMs)
        Sleep(kCleanupPollMs);
    return TRUE;
}

void CALLBACK Expired(void*, BOOLEAN)
{
    timedOut = true;
    if (transferRunning)
        CancelTransfer();
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
}

bool ConsoleBreak::Requested()
{
    return requested;
}

int Cancelled()
{
    return Fail(kExitCancelled, "cancelled");
}

int RunCancellable(uint32_t timeoutSeconds, const std::function<void()>& transfer)
{
    transferRunning = true;
    if (ConsoleBreak::Requested()) {
        transferRunning = false;
        return Cancelled();
    }
    timedOut = false;
    HANDLE timer = nullptr;
    if (timeoutSeconds &&
        !CreateTimerQueueTimer(&timer, nullptr, Expired, nullptr, timeoutSeconds * 1000, 0, WT_EXECUTEONLYONCE)) {
        transferRunning = false;
        return Fail(kExitNoMemory, "can't start the timer of --timeout (" + SystemErrorText(GetLastError()) + ")");
    }
    transfer();
    transferRunning = false;
    // Waits for a cancel the timer is sending.
    if (timer)
        DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);
    if (timedOut)
        return Fail(kExitDevice, "no answer from the device in " + std::to_string(timeoutSeconds) +
                                     " s, so the transfer was stopped; try 'uxfer status' and 'uxfer reset', or a "
                                     "longer --timeout (0: no limit)");
    // A cancelled transfer returns RESULT_OK with the bytes moved so far.  A
    // cancel that came just before the library started is only seen here,
    // after the transfer ran in full; it is a cancel all the same.
    if (ConsoleBreak::Requested())
        return Cancelled();
    return kExitOk;
}

}  // namespace cli
