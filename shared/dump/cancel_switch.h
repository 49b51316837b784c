// Stops a running transfer from another thread: a cancel asked for (Ctrl+C,
// a script's Cancel) or the end of a timeout.  The only way the library
// offers is uSetCancel, which raises the cancel flag its chunk loop checks
// and sends the device a reset over a connection of its own (failing a read
// the device holds pending); the transfer then returns with what it moved.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

namespace dump {

class CancelSwitch {
public:
    enum class Outcome { Ran, Cancelled, TimedOut, NoTimer };

    // Nothing happens when no transfer runs: outside one nothing may reach
    // the device.
    void Cancel();
    // Runs `transfer` on `instance`, a library call that may block in the
    // device, for at most `timeoutSeconds` (0: no limit).  Ran: it ran to its
    // end undisturbed; NoTimer: the timer couldn't be had, nothing ran.
    Outcome Run(uint32_t instance, uint32_t timeoutSeconds, const std::function<void()>& transfer);

private:
    static void CALLBACK Expired(void* self, BOOLEAN);
    // With `guard_` held.
    void SendCancel();

    std::mutex guard_;
    bool running_ = false;
    uint32_t instance_ = 0;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> timedOut_{false};
};

}  // namespace dump
