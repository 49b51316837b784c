// Ctrl+C and Ctrl+Break, the console's close, logoff and shutdown, and the
// timeout of a command's call of the device.  The system calls the console
// handler on a thread of its own while the main thread may be blocked inside
// a library call; the handler stops it the only way the library offers,
// uSetCancel, which raises the cancel flag the chunk loop checks and sends
// the device a reset over a connection of its own (failing a read the device
// holds pending).  A request latches: no later step of the call starts.  A
// timeout stops the call the same way.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

namespace cli {

class ConsoleBreak {
public:
    // During a command that calls the device on `instance`.
    explicit ConsoleBreak(uint32_t instance);
    // While a message loop runs: posts `message` to `window`.
    ConsoleBreak(HWND window, UINT message);
    // Ends the call, and lets a handler waiting for the end of the cleanup return.
    ~ConsoleBreak();
    ConsoleBreak(const ConsoleBreak&) = delete;
    ConsoleBreak& operator=(const ConsoleBreak&) = delete;

    // True once a console event came.
    static bool Requested();
};

// Prints "cancelled" and returns its exit code.
int Cancelled();

// Starts the command's call of the device: from now until the ConsoleBreak
// ends, a console event stops it, and so does the end of `timeoutSeconds`
// (0: no limit); before, an event is only noted, so nothing reaches the
// device.  Prints why and returns the exit code when it can't start (a
// console event came first, or no timer).
int BeginCall(uint32_t timeoutSeconds);

// Runs `step` of the call, a library call that may block in the device,
// unless the call was stopped; `step` says whether it did all it had to.
// Returns kExitOk when it did (a stop too late to stop it leaves it done) or
// failed undisturbed; otherwise prints why the call stopped and returns the
// exit code.
int RunCancellable(const std::function<bool()>& step);

}  // namespace cli
