// The instance index is one value shared by every process that loads uXfer:
// selecting it and then opening (or cancelling) must not interleave with
// another uxfer process doing the same, or one process would reach the
// other's device.  A named mutex serialises the two steps across processes.
#pragma once

#include <windows.h>

namespace uxfer {

class InstanceLock {
public:
    // Waits until the lock is ours.  Without the mutex (it can't be made)
    // the steps run unserialised rather than not at all.
    InstanceLock();
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

private:
    HANDLE mutex_;
    bool owned_ = false;
};

}  // namespace uxfer
