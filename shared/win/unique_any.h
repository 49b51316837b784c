// One owner for every kind of Win32 handle: a value, the value that means
// "none" and the function that gives it back, in the manner of
//   using unique_file = unique_any<HANDLE, CloseFile>;
// Header-only and free of the C runtime, so that modules built without one
// (the COM server) use it too.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <setupapi.h>
#include <winsvc.h>

namespace win {

// `Invalid`: the value that means "none", as a number (0 or -1).
template <class T, class Close, intptr_t Invalid = 0>
class unique_any {
public:
    unique_any() = default;
    explicit unique_any(T value) : value_(value) {}
    ~unique_any() { reset(); }
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    T get() const { return value_; }
    bool valid() const { return value_ != None(); }
    explicit operator bool() const { return valid(); }
    // For a function that returns the value through a pointer; drops the old one.
    T* put()
    {
        reset();
        return &value_;
    }
    T release()
    {
        const T value = value_;
        value_ = None();
        return value;
    }
    void reset(T value = None())
    {
        if (valid())
            Close()(value_);
        value_ = value;
    }

private:
    // A C cast: a pointer for handles, the number itself for integral values.
    static T None() { return (T)(Invalid); }

    T value_ = None();
};

namespace close {
struct Handle {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
struct FindHandle {
    void operator()(HANDLE h) const { FindClose(h); }
};
struct Key {
    void operator()(HKEY k) const { RegCloseKey(k); }
};
struct DeviceInfo {
    void operator()(HDEVINFO set) const { SetupDiDestroyDeviceInfoList(set); }
};
struct Library {
    void operator()(HMODULE m) const { FreeLibrary(m); }
};
struct Service {
    void operator()(SC_HANDLE s) const { CloseServiceHandle(s); }
};
struct Local {
    void operator()(HLOCAL block) const { LocalFree(block); }
};
}  // namespace close

// Kernel objects whose "none" is null: processes, threads, events, mutexes, timers.
using unique_handle = unique_any<HANDLE, close::Handle>;
// Files, devices, searches and device sets, whose "none" is INVALID_HANDLE_VALUE.
using unique_file = unique_any<HANDLE, close::Handle, -1>;
using unique_find = unique_any<HANDLE, close::FindHandle, -1>;
using unique_hkey = unique_any<HKEY, close::Key>;
using unique_hdevinfo = unique_any<HDEVINFO, close::DeviceInfo, -1>;
using unique_hmodule = unique_any<HMODULE, close::Library>;
// The service manager and its services.
using unique_service = unique_any<SC_HANDLE, close::Service>;
// Blocks the system hands out to be given back with LocalFree (security
// descriptors, SID strings).
using unique_hlocal = unique_any<HLOCAL, close::Local>;

}  // namespace win
