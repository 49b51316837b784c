// A named mutex held on a thread of its own, as another program holds it:
// the waits of this process for it behave as another program's would.
#pragma once

#include <windows.h>

#include <string>
#include <thread>

#include "win/unique_any.h"

class MutexHeldElsewhere {
public:
    // Returns once the mutex is held.
    explicit MutexHeldElsewhere(const std::wstring& name);
    ~MutexHeldElsewhere();
    MutexHeldElsewhere(const MutexHeldElsewhere&) = delete;
    MutexHeldElsewhere& operator=(const MutexHeldElsewhere&) = delete;

private:
    win::unique_handle taken_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    win::unique_handle release_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::thread holder_;
};
