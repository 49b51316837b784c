// Ctrl+C and Ctrl+Break, the console's close, logoff and shutdown (Windows:
// windows/cancel.cpp); SIGINT, SIGTERM and SIGHUP (linux/cancel.cpp).  The
// system tells the tool while the main thread may be blocked inside a call of
// the device; the handler stops the command's call, which latches: no later
// step of the call starts.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <windows.h>

#include "dump/cancel_switch.h"
#else
#include "usblink/link.h"
#endif

namespace cli {

class ConsoleBreak {
public:
    // During a command that calls the device.
    ConsoleBreak();
#ifdef _WIN32
    // While a message loop runs: posts `message` to `window`.
    ConsoleBreak(HWND window, UINT message);
#endif
    // Lets a handler waiting for the end of the cleanup return.
    ~ConsoleBreak();
    ConsoleBreak(const ConsoleBreak&) = delete;
    ConsoleBreak& operator=(const ConsoleBreak&) = delete;

    // True once a console event came.
    static bool Requested();
#ifdef _WIN32
    // The switch a console event throws: the command's call of the device
    // runs on it.
    static dump::CancelSwitch& Switch();
#else
    // The link a signal cancels from now on (null: none, before it goes).
    static void Stops(usblink::Link* link);
#endif

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
