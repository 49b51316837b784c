// Owns one kernel handle of the virtual device's tools and shim (process,
// thread, file); null and INVALID_HANDLE_VALUE both mean none.
#pragma once

#include <windows.h>

class VdevHandle {
public:
    explicit VdevHandle(HANDLE h = nullptr) : h_(h) {}
    ~VdevHandle()
    {
        if (h_ && h_ != INVALID_HANDLE_VALUE)
            CloseHandle(h_);
    }
    VdevHandle(const VdevHandle&) = delete;
    VdevHandle& operator=(const VdevHandle&) = delete;
    HANDLE Get() const { return h_; }

private:
    HANDLE h_;
};
