// Ctrl+C and Ctrl+Break, the console's close, logoff and shutdown.  The system
// calls the console handler on a thread of its own while the main thread may
// be blocked inside a library call; the handler stops the command's call of
// the device through its cancel switch (dump/cancel_switch.h), which latches:
// no later step of the call starts.
#pragma once

#include <windows.h>

#include <cstdint>

#include "dump/cancel_switch.h"

namespace cli {

class ConsoleBreak {
public:
    // During a command that calls the device.
    ConsoleBreak();
    // While a message loop runs: posts `message` to `window`.
    ConsoleBreak(HWND window, UINT message);
    // Lets a handler waiting for the end of the cleanup return.
    ~ConsoleBreak();
    ConsoleBreak(const ConsoleBreak&) = delete;
    ConsoleBreak& operator=(const ConsoleBreak&) = delete;

    // True once a console event came.
    static bool Requested();
    // The switch a console event throws: the command's call of the device
    // runs on it.
    static dump::CancelSwitch& Switch();

    // While this thread may block reading standard input, where no call of
    // the device runs: a console event cuts that read short.
    class InputRead {
    public:
        InputRead();
        ~InputRead();
        InputRead(const InputRead&) = delete;
        InputRead& operator=(const InputRead&) = delete;
    };
};

}  // namespace cli
