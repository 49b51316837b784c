// The instance index is one value shared by every process that loads uXfer:
// selecting it and then opening (or cancelling) must not interleave with
// another process doing the same, or one process would reach the other's
// device.  A named mutex serialises the two steps across processes, in the
// global namespace: the library's shared section is shared by the processes
// of every session, so the lock must be too.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "win/unique_any.h"

namespace dump {

class InstanceLock {
public:
    // Waits until the lock is ours, for a bounded time: a holder keeps it
    // only for the two steps.
    InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False: the steps must not run; Problem() says why.
    bool Held() const { return hold_.valid(); }
    std::string Problem() const;

private:
    win::unique_handle mutex_;
    win::unique_mutex_hold hold_;  // released before the handle closes
    DWORD error_ = 0;  // of opening the mutex; 0: the wait timed out
};

// The library's reset request with `code` (uSetCancel, on a connection of its
// own) to `instance`, selected under the lock so that it can't reach another
// process's device.  False when the lock can't be had (then nothing is sent
// and `problem` says why); else `result` is the library's result.
bool SendCancel(uint32_t instance, uint32_t code, uint32_t& result, std::string& problem);

// Named objects the processes of every user and session share, made open to
// every user when they don't exist yet; null when they can't be had.  The
// mutex `name` with the rights to take and give it back:
HANDLE OpenSharedMutex(const std::wstring& name);
// the section `name` of `bytes`, to read and write.
HANDLE OpenSharedSection(const std::wstring& name, DWORD bytes);

}  // namespace dump
