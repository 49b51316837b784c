// Ctrl+C and Ctrl+Break, the console's close, logoff and shutdown, and the
// transfer timeout.  The system calls the console handler on a thread of its
// own while the main thread may be blocked inside a transfer; the handler
// stops the transfer the only way the library offers, uSetCancel, which
// raises the cancel flag the chunk loop checks and sends the device a reset
// over a connection of its own (failing a read the device holds pending).
// The main thread then sees the request once the transfer returns.  A
// timeout stops the transfer the same way.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

namespace cli {

class ConsoleBreak {
public:
    // During a read, write or verify on `instance`.
    explicit ConsoleBreak(uint32_t instance);
    // While a message loop runs: posts `message` to `window`.
    ConsoleBreak(HWND window, UINT message);
    // Lets a handler waiting for the end of the cleanup return.
    ~ConsoleBreak();
    ConsoleBreak(const ConsoleBreak&) = delete;
    ConsoleBreak& operator=(const ConsoleBreak&) = delete;

    // True once a console event came.
    static bool Requested();
};

// Prints "cancelled" and returns its exit code.
int Cancelled();

// Runs `transfer`, a call of the library that may block in the device.
// While it runs, a console event stops it, and so does the end of
// `timeoutSeconds` (0: no limit); outside it an event is only noted, so
// nothing reaches the device before or after.  Returns kExitOk when it ran
// to its end undisturbed; otherwise prints why and returns the exit code.
int RunCancellable(uint32_t timeoutSeconds, const std::function<void()>& transfer);

}  // namespace cli
