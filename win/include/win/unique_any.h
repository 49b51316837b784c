// One owner for every kind of Win32 handle: a value, the value that means
// "none" and the function that gives it back, in the manner of
//   using unique_file = unique_any<HANDLE, CloseFile>;
// Header-only and free of the C runtime, so that modules built without one
// (the COM server) use it too.
#pragma once

#include <windows.h>

#include <objbase.h>
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

// The process's one global interface table, for a thread in an apartment.
inline HRESULT GetGlobalInterfaceTable(IGlobalInterfaceTable** table)
{
    // CLSID_StdGlobalInterfaceTable, which the headers leave out for the older
    // Windows versions some modules are built for.
    static const CLSID kStdGlobalInterfaceTable = {0x00000323, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    return CoCreateInstance(kStdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                            reinterpret_cast<void**>(table));
}

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
// From a CoInitializeEx that succeeded, S_FALSE included.
struct Apartment {
    void operator()(bool) const { CoUninitialize(); }
};
// Any thread in an apartment may revoke, not only the one that registered.
struct GlobalInterface {
    void operator()(DWORD cookie) const
    {
        IGlobalInterfaceTable* table = nullptr;
        if (FAILED(GetGlobalInterfaceTable(&table)))
            return;
        table->RevokeInterfaceFromGlobal(cookie);
        table->Release();
    }
};
struct Local {
    void operator()(HLOCAL block) const { LocalFree(block); }
};
struct Region {
    void operator()(void* base) const { VirtualFree(base, 0, MEM_RELEASE); }
};
struct View {
    void operator()(void* base) const { UnmapViewOfFile(base); }
};
struct MutexHold {
    void operator()(HANDLE mutex) const { ReleaseMutex(mutex); }
};
struct Window {
    void operator()(HWND window) const { DestroyWindow(window); }
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
// This thread's membership of a COM apartment: true when it is to be left.
using unique_apartment = unique_any<bool, close::Apartment>;
// A cookie of the process's global interface table.
using unique_git_cookie = unique_any<DWORD, close::GlobalInterface>;
// Blocks the system hands out to be given back with LocalFree (security
// descriptors, SID strings).
using unique_hlocal = unique_any<HLOCAL, close::Local>;
// A window of this thread's.
using unique_window = unique_any<HWND, close::Window>;
// A region of address space from VirtualAlloc, released whole.
using unique_region = unique_any<void*, close::Region>;
// A view of a file mapping.
using unique_view = unique_any<void*, close::View>;
// A mutex this thread waited for and owns (the handle stays with its own owner).
using unique_mutex_hold = unique_any<HANDLE, close::MutexHold>;

}  // namespace win
