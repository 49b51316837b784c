// Following child processes: every process created here starts suspended, gets
// the shim DLL loaded by a remote LoadLibraryA, and only then runs (unless its
// creator asked for it suspended).  A program started through a script host or
// a command interpreter thus reaches the pipes like the program started first.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "vdev_shim.h"
#include "win/unique_any.h"

namespace {

class RemoteMemory {
public:
    RemoteMemory(HANDLE process, size_t size)
        : process_(process),
          address_(VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))
    {
    }
    ~RemoteMemory()
    {
        if (address_)
            VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;
    void* Address() const { return address_; }

private:
    HANDLE process_;
    void* address_;
};

#ifndef _WIN64
// Every process creation of kernelbase ends in this one function, whichever
// of the A, W or AsUser entries the program called.
using CreateProcessInternalWFn = BOOL(WINAPI*)(HANDLE token, LPCWSTR application, LPWSTR commandLine,
                                               LPSECURITY_ATTRIBUTES processAttributes,
                                               LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags,
                                               LPVOID environment, LPCWSTR folder, LPSTARTUPINFOW startup,
                                               LPPROCESS_INFORMATION info, PHANDLE newToken);

CreateProcessInternalWFn originalCreate = nullptr;
char shimDll[MAX_PATH];

BOOL WINAPI FollowingCreateProcess(HANDLE token, LPCWSTR application, LPWSTR commandLine,
                                   LPSECURITY_ATTRIBUTES processAttributes, LPSECURITY_ATTRIBUTES threadAttributes,
                                   BOOL inherit, DWORD flags, LPVOID environment, LPCWSTR folder,
                                   LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info, PHANDLE newToken)
{
    if (!originalCreate(token, application, commandLine, processAttributes, threadAttributes, inherit,
                        flags | CREATE_SUSPENDED, environment, folder, startup, info, newToken))
        return FALSE;
    if (!VdevShimInject(info->hProcess, shimDll)) {
        // A child without the shim would fail on the pipes far from here; fail where the cause is.
        TerminateProcess(info->hProcess, 127);
        CloseHandle(info->hThread);
        CloseHandle(info->hProcess);
        std::memset(info, 0, sizeof *info);
        SetLastError(ERROR_DLL_INIT_FAILED);
        return FALSE;
    }
    if (!(flags & CREATE_SUSPENDED))
        ResumeThread(info->hThread);
    return TRUE;
}

// System functions are built to be redirected while in use: their entry is a
// two-byte no-op (mov edi, edi) with five bytes of padding before it.  A long
// jump to the replacement goes into the padding, then a short jump back into
// it replaces the no-op in one store.  The original stays callable at entry + 2.
// False when the entry has another shape.
bool HotPatch(void* target, void* replacement)
{
    auto* entry = static_cast<unsigned char*>(target);
    if (entry[0] != 0x8B || entry[1] != 0xFF)
        return false;
    for (int i = 1; i <= 5; ++i)
        if (entry[-i] != 0xCC && entry[-i] != 0x90)
            return false;
    DWORD old;
    if (!VirtualProtect(entry - 5, 7, PAGE_EXECUTE_READWRITE, &old))
        return false;
    const intptr_t rel = reinterpret_cast<intptr_t>(replacement) - reinterpret_cast<intptr_t>(entry);
    entry[-5] = 0xE9;
    std::memcpy(entry - 4, &rel, 4);
    static const unsigned char kJumpBack[2] = {0xEB, 0xF9};  // jmp short entry - 5
    uint16_t jumpBack;
    std::memcpy(&jumpBack, kJumpBack, 2);
    *reinterpret_cast<volatile uint16_t*>(entry) = jumpBack;
    VirtualProtect(entry - 5, 7, old, &old);
    FlushInstructionCache(GetCurrentProcess(), entry - 5, 7);
    return true;
}

#endif

}  // namespace

extern "C" bool VdevShimInject(HANDLE process, const char* dllPath)
{
    const size_t size = std::strlen(dllPath) + 1;
    RemoteMemory name(process, size);
    if (!name.Address() || !WriteProcessMemory(process, name.Address(), dllPath, size, nullptr))
        return false;
    auto loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA")));
    win::unique_handle thread(CreateRemoteThread(process, nullptr, 0, loadLibrary, name.Address(), 0, nullptr));
    if (!thread || WaitForSingleObject(thread.get(), 30000) != WAIT_OBJECT_0)
        return false;
    DWORD module = 0;
    return GetExitCodeThread(thread.get(), &module) && module != 0;
}

#ifndef _WIN64
extern "C" bool VdevShimFollowChildren(const char* dllPath)
{
    if (originalCreate)
        return true;
    if (std::strlen(dllPath) >= sizeof shimDll)
        return false;
    std::strcpy(shimDll, dllPath);
    HMODULE kernelbase = GetModuleHandleA("kernelbase.dll");
    void* entry = kernelbase ? reinterpret_cast<void*>(GetProcAddress(kernelbase, "CreateProcessInternalW")) : nullptr;
    if (!entry)
        return false;
    // Known before the jump is in place: another thread may create a process at once.
    originalCreate = reinterpret_cast<CreateProcessInternalWFn>(static_cast<unsigned char*>(entry) + 2);
    if (!HotPatch(entry, reinterpret_cast<void*>(&FollowingCreateProcess)))
        originalCreate = nullptr;
    return originalCreate != nullptr;
}
#endif
