#include "instance_lock.h"

namespace uxfer {

namespace {
const char kMutexName[] = "Local\\uXferInstanceSelect";
}

InstanceLock::InstanceLock() : mutex_(CreateMutexA(nullptr, FALSE, kMutexName))
{
    if (!mutex_)
        return;
    // An abandoned mutex (its holder died) is ours all the same.
    const DWORD wait = WaitForSingleObject(mutex_, INFINITE);
    owned_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

InstanceLock::~InstanceLock()
{
    if (owned_)
        ReleaseMutex(mutex_);
    if (mutex_)
        CloseHandle(mutex_);
}

}  // namespace uxfer
