#include "common/held_mutex.h"

MutexHeldElsewhere::MutexHeldElsewhere(const std::wstring& name)
{
    holder_ = std::thread([this, name] {
        win::unique_handle mutex(CreateMutexW(nullptr, FALSE, name.c_str()));
        const DWORD wait = WaitForSingleObject(mutex.get(), INFINITE);
        SetEvent(taken_.get());
        WaitForSingleObject(release_.get(), INFINITE);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
            ReleaseMutex(mutex.get());
    });
    WaitForSingleObject(taken_.get(), INFINITE);
}

MutexHeldElsewhere::~MutexHeldElsewhere()
{
    SetEvent(release_.get());
    holder_.join();
}
