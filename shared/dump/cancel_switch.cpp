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
    if (stepRunning_)
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
    if (!self->running_)
        return;
    self->timedOut_ = true;
    if (self->stepRunning_)
        self->SendCancel();
}

void CancelSwitch::Begin(uint32_t instance)
{
    std::lock_guard<std::mutex> lock(guard_);
    running_ = true;
    instance_ = instance;
    cancelled_ = false;
    timedOut_ = false;
    timer_ = nullptr;
}

CancelSwitch::Outcome CancelSwitch::StartTimer(uint32_t timeoutSeconds)
{
    std::lock_guard<std::mutex> lock(guard_);
    if (timeoutSeconds &&
        !CreateTimerQueueTimer(&timer_, nullptr, Expired, this, timeoutSeconds * 1000, 0, WT_EXECUTEONLYONCE))
        return Outcome::NoTimer;
    return Outcome::Ran;
}

void CancelSwitch::End()
{
    HANDLE timer;
    {
        std::lock_guard<std::mutex> lock(guard_);
        running_ = false;
        timer = timer_;
        timer_ = nullptr;
    }
    // Waits for a cancel the timer is sending; the timer takes the guard.
    if (timer)
        DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);
}

CancelSwitch::Outcome CancelSwitch::Stopped() const
{
    if (timedOut_)
        return Outcome::TimedOut;
    return cancelled_ ? Outcome::Cancelled : Outcome::Ran;
}

CancelSwitch::Outcome CancelSwitch::Run(const std::function<bool()>& step)
{
    {
        std::lock_guard<std::mutex> lock(guard_);
        if (Stopped() != Outcome::Ran)
            return Stopped();
        stepRunning_ = true;
    }
    const bool complete = step();
    {
        std::lock_guard<std::mutex> lock(guard_);
        stepRunning_ = false;
    }
    return complete ? Outcome::Ran : Stopped();
}

}  // namespace dump
