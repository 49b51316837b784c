#include "dump/cancel_switch.h"

#include <string>

#include "dump/instance_lock.h"

namespace dump {

namespace {
// The reset code of a cancel: the one the library uses for a stopped transfer.
constexpr uint32_t kCancelResetCode = 2;
}  // namespace

void CancelSwitch::Cancel()
{
    std::lock_guard<std::mutex> lock(guard_);
    if (!running_)
        return;
    cancelled_ = true;
    SendCancel();
}

void CancelSwitch::SendCancel()
{
    // Sent on the instance selected under the lock, so that it can't reach
    // another process's device; without the lock, better not sent.
    uint32_t result = 0;
    std::string problem;
    dump::SendCancel(instance_, kCancelResetCode, result, problem);
}

void CALLBACK CancelSwitch::Expired(void* context, BOOLEAN)
{
    auto* self = static_cast<CancelSwitch*>(context);
    std::lock_guard<std::mutex> lock(self->guard_);
    self->timedOut_ = true;
    if (self->running_)
        self->SendCancel();
}

CancelSwitch::Outcome CancelSwitch::Run(uint32_t instance, uint32_t timeoutSeconds,
                                        const std::function<void()>& transfer)
{
    {
        std::lock_guard<std::mutex> lock(guard_);
        running_ = true;
        instance_ = instance;
        cancelled_ = false;
        timedOut_ = false;
    }
    HANDLE timer = nullptr;
    if (timeoutSeconds &&
        !CreateTimerQueueTimer(&timer, nullptr, Expired, this, timeoutSeconds * 1000, 0, WT_EXECUTEONLYONCE)) {
        std::lock_guard<std::mutex> lock(guard_);
        running_ = false;
        return Outcome::NoTimer;
    }
    transfer();
    {
        std::lock_guard<std::mutex> lock(guard_);
        running_ = false;
    }
    // Waits for a cancel the timer is sending.
    if (timer)
        DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);
    if (timedOut_)
        return Outcome::TimedOut;
    // A cancelled transfer returns RESULT_OK with the bytes moved so far.
    return cancelled_ ? Outcome::Cancelled : Outcome::Ran;
}

}  // namespace dump
