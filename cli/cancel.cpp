#include "cancel.h"

#include <atomic>

#include "instance_lock.h"
#include "uXfer.h"

namespace uxfer {

namespace {

// The reset code of a cancel: the one the library uses for a stopped transfer.
constexpr uint32_t kCancelResetCode = 2;

// The handler is a plain function, so what it acts on lives here; only one
// ConsoleBreak exists at a time.
std::atomic<bool> requested{false};
std::atomic<bool> transferRunning{false};
uint32_t cancelInstance = 0;
HWND notifyWindow = nullptr;
UINT notifyMessage = 0;

BOOL WINAPI Handler(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;  // closing or logging off: the system's default
    requested = true;
    if (notifyWindow) {
        PostMessageA(notifyWindow, notifyMessage, 0, 0);
    } else if (transferRunning) {
        // The instance index is shared between processes: select ours and
        // cancel without another uxfer selecting in between.
        InstanceLock lock;
        uSetInstance(cancelInstance);
        uSetCancel(kCancelResetCode);
    }
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
    SetConsoleCtrlHandler(Handler, FALSE);
    notifyWindow = nullptr;
}

bool ConsoleBreak::Requested()
{
    return requested;
}

ConsoleBreak::Transfer::Transfer()
{
    transferRunning = true;
}

ConsoleBreak::Transfer::~Transfer()
{
    transferRunning = false;
}

}  // namespace uxfer
