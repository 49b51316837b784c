// The driver file as a 64-bit Windows has it.  There the kernel driver lies in
// the native System32\Drivers; a 32-bit process running under WoW64 that names
// that folder is sent to SysWOW64\Drivers instead, where no driver is.  For the
// length of one file query, this owner turns the redirection off on the calling
// thread when the process runs under WoW64, and turns it back on when it goes,
// on every path.  On a 32-bit Windows it does nothing.  The functions are looked
// up at run time: Windows versions before 64-bit Windows existed lack them.
#pragma once

#include <windows.h>

class CNativeSystemFolder {
public:
    CNativeSystemFolder()
    {
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        auto isWow64 = reinterpret_cast<IsWow64Fn>(GetProcAddress(kernel, "IsWow64Process"));
        auto disable = reinterpret_cast<DisableFn>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection"));
        revert_ = reinterpret_cast<RevertFn>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection"));
        BOOL wow64 = FALSE;
        if (isWow64 && disable && revert_ && isWow64(GetCurrentProcess(), &wow64) && wow64)
            disabled_ = disable(&previous_) != FALSE;
    }
    ~CNativeSystemFolder()
    {
        if (disabled_)
            revert_(previous_);
    }
    CNativeSystemFolder(const CNativeSystemFolder&) = delete;
    CNativeSystemFolder& operator=(const CNativeSystemFolder&) = delete;

private:
    using IsWow64Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    using DisableFn = BOOL(WINAPI*)(PVOID*);
    using RevertFn = BOOL(WINAPI*)(PVOID);

    RevertFn revert_ = nullptr;
    PVOID previous_ = nullptr;
    bool disabled_ = false;
};
