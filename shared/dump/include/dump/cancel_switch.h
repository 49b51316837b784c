// Stops a running call from another thread: a cancel asked for (Ctrl+C, a
// script's Cancel) or the end of a timeout.  A call is everything one command
// asks of the device (the reset command, the transfers, a verify read-back,
// the status request): a cancel that comes at any point of it latches, and
// no later step starts; the timeout counts from the call's start.  The only
// way the library offers to stop a step that waits for the device is
// uSetCancel, which raises the cancel flag its chunk loop checks and sends the
// device a reset over a connection of its own (failing a read the device
// holds pending); the step then returns with what it moved.
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

    // Nothing happens when no call runs: outside one nothing may reach the
    // device.
    void Cancel();
    // The call on `instance` runs from Begin to End; once StartTimer ran, for
    // at most `timeoutSeconds` from then (0: no limit).  StartTimer: NoTimer
    // when the timer couldn't be had (then the call must not go on), else Ran.
    void Begin(uint32_t instance);
    Outcome StartTimer(uint32_t timeoutSeconds);
    void End();
    // Runs `step`, a library call that may block in the device, unless the
    // call was stopped already; `step` says whether it did all it had to.
    // Ran: it did (a stop that came too late to stop it leaves it done), or it
    // failed undisturbed; otherwise why the call stopped.
    Outcome Run(const std::function<bool()>& step);
    // Why the call stopped; Ran while it runs undisturbed.
    Outcome Stopped() const;

    // Begin to End for one scope.
    class Call {
    public:
        Call(CancelSwitch& owner, uint32_t instance) : owner_(owner) { owner_.Begin(instance); }
        ~Call() { owner_.End(); }
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;

    private:
        CancelSwitch& owner_;
    };

private:
    static void CALLBACK Expired(void* self, BOOLEAN);
    // With `guard_` held.
    void SendCancel();

    std::mutex guard_;
    bool running_ = false;      // a call
    bool stepRunning_ = false;  // a step of it, which the device may hold
    uint32_t instance_ = 0;
    HANDLE timer_ = nullptr;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> timedOut_{false};
};

}  // namespace dump
