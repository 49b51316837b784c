// Ctrl+C and Ctrl+Break.  The system calls the handler on a thread of its
// own while the main thread may be blocked inside a transfer; the handler
// stops the transfer the only way the library offers, uSetCancel, which
// raises the cancel flag the chunk loop checks and sends the device a reset
// over a connection of its own (failing a read the device holds pending).
// The main thread then sees the request once the transfer returns.
#pragma once

#include <windows.h>

#include <cstdint>

namespace uxfer {

class ConsoleBreak {
public:
    // During a read or write on `instance`.
    explicit ConsoleBreak(uint32_t instance);
    // While a message loop runs: posts `message` to `window`.
    ConsoleBreak(HWND window, UINT message);
    ~ConsoleBreak();
    ConsoleBreak(const ConsoleBreak&) = delete;
    ConsoleBreak& operator=(const ConsoleBreak&) = delete;

    // True once Ctrl+C or Ctrl+Break came.
    static bool Requested();

    // While one lives, Ctrl+C stops the library's transfer; outside one it
    // is only noted, so nothing reaches the device before or after.
    class Transfer {
    public:
        Transfer();
        ~Transfer();
        Transfer(const Transfer&) = delete;
        Transfer& operator=(const Transfer&) = delete;
    };
};

}  // namespace uxfer
