// Following child processes: every process created here starts suspended, gets
// the shim DLL loaded by a remote LoadLibraryA, and only then runs (unless its
// creator asked for it suspended).  A program started through a script host or
// a command interpreter thus reaches the pipes like the program started first.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "shim_redirect.h"
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

char shimDll[MAX_PATH];

// The creator only learns that a start failed (a command interpreter then says
// it can't recognize the command): its standard error gets the reason.
void SayWhyNoProcess(const char* what, DWORD error)
{
    char line[128];
    const int n = std::snprintf(line, sizeof line, "vdevshim: %s (error %lu)\r\n", what, error);
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(n), &written, nullptr);
    SetLastError(error);
}

// Now and then the loader's creation of a process fails with
// ERROR_INTERNAL_ERROR: the new process ended inside the loader's own start-up,
// before the program or any DLL of it ran, and nothing of it is left.  Such a
// creation is made again; a command interpreter would otherwise report the
// program as not found.
constexpr int kCreationAttempts = 3;

template <typename Create>
BOOL CreateAgainAfterStartupLoss(const Create& create)
{
    for (int attempt = 1;; ++attempt) {
        if (create())
            return TRUE;
        if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == kCreationAttempts)
            return FALSE;
    }
}

// A child created suspended gets the shim, then runs unless its creator asked
// for it suspended.  `created`: whether the system made it at all.
BOOL Follow(BOOL created, DWORD flags, LPPROCESS_INFORMATION info)
{
    if (!created) {
        SayWhyNoProcess("the system could not create a new process", GetLastError());
        return FALSE;
    }
    if (!VdevShimInject(info->hProcess, shimDll)) {
        // A child without the shim would fail on the pipes far from here; fail where the cause is.
        SayWhyNoProcess("the shim could not be loaded into a new process", GetLastError());
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

// Every process creation of kernelbase ends in CreateProcessInternalW, whichever
// of the A, W or AsUser entries the program called.
using CreateProcessInternalWFn = BOOL(WINAPI*)(HANDLE token, LPCWSTR application, LPWSTR commandLine,
                                               LPSECURITY_ATTRIBUTES processAttributes,
                                               LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags,
                                               LPVOID environment, LPCWSTR folder, LPSTARTUPINFOW startup,
                                               LPPROCESS_INFORMATION info, PHANDLE newToken);
CreateProcessInternalWFn originalCreate = nullptr;

BOOL WINAPI FollowingCreateProcess(HANDLE token, LPCWSTR application, LPWSTR commandLine,
                                   LPSECURITY_ATTRIBUTES processAttributes, LPSECURITY_ATTRIBUTES threadAttributes,
                                   BOOL inherit, DWORD flags, LPVOID environment, LPCWSTR folder,
                                   LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info, PHANDLE newToken)
{
    return Follow(CreateAgainAfterStartupLoss([&] {
                      return originalCreate(token, application, commandLine, processAttributes, threadAttributes,
                                            inherit, flags | CREATE_SUSPENDED, environment, folder, startup, info,
                                            newToken);
                  }),
                  flags, info);
}

#ifdef _WIN64
// x86-64 system functions have no hot-patch padding, so an entry under a jump
// is no longer callable.  There the public entries are redirected, each to a
// replacement that calls the internal function behind it, which stays as it is.
using CreateProcessInternalAFn = BOOL(WINAPI*)(HANDLE token, LPCSTR application, LPSTR commandLine,
                                               LPSECURITY_ATTRIBUTES processAttributes,
                                               LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags,
                                               LPVOID environment, LPCSTR folder, LPSTARTUPINFOA startup,
                                               LPPROCESS_INFORMATION info, PHANDLE newToken);
CreateProcessInternalAFn originalCreateA = nullptr;

BOOL WINAPI FollowingCreateProcessA(HANDLE token, LPCSTR application, LPSTR commandLine,
                                    LPSECURITY_ATTRIBUTES processAttributes, LPSECURITY_ATTRIBUTES threadAttributes,
                                    BOOL inherit, DWORD flags, LPVOID environment, LPCSTR folder,
                                    LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info, PHANDLE newToken)
{
    return Follow(CreateAgainAfterStartupLoss([&] {
                      return originalCreateA(token, application, commandLine, processAttributes, threadAttributes,
                                             inherit, flags | CREATE_SUSPENDED, environment, folder, startup, info,
                                             newToken);
                  }),
                  flags, info);
}

BOOL WINAPI ShimCreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                               LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags, LPVOID environment,
                               LPCWSTR folder, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info)
{
    return FollowingCreateProcess(nullptr, application, commandLine, processAttributes, threadAttributes, inherit,
                                  flags, environment, folder, startup, info, nullptr);
}

BOOL WINAPI ShimCreateProcessAsUserW(HANDLE token, LPCWSTR application, LPWSTR commandLine,
                                     LPSECURITY_ATTRIBUTES processAttributes, LPSECURITY_ATTRIBUTES threadAttributes,
                                     BOOL inherit, DWORD flags, LPVOID environment, LPCWSTR folder,
                                     LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info)
{
    return FollowingCreateProcess(token, application, commandLine, processAttributes, threadAttributes, inherit,
                                  flags, environment, folder, startup, info, nullptr);
}

BOOL WINAPI ShimCreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                               LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags, LPVOID environment,
                               LPCSTR folder, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info)
{
    return FollowingCreateProcessA(nullptr, application, commandLine, processAttributes, threadAttributes, inherit,
                                   flags, environment, folder, startup, info, nullptr);
}

BOOL WINAPI ShimCreateProcessAsUserA(HANDLE token, LPCSTR application, LPSTR commandLine,
                                     LPSECURITY_ATTRIBUTES processAttributes, LPSECURITY_ATTRIBUTES threadAttributes,
                                     BOOL inherit, DWORD flags, LPVOID environment, LPCSTR folder,
                                     LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info)
{
    return FollowingCreateProcessA(token, application, commandLine, processAttributes, threadAttributes, inherit,
                                   flags, environment, folder, startup, info, nullptr);
}

bool TakeOverCreation(HMODULE kernelbase)
{
    auto entry = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(kernelbase, name)); };
    originalCreate = reinterpret_cast<CreateProcessInternalWFn>(entry("CreateProcessInternalW"));
    originalCreateA = reinterpret_cast<CreateProcessInternalAFn>(entry("CreateProcessInternalA"));
    const struct {
        const char* name;
        const void* replacement;
    } entries[] = {
        {"CreateProcessW", reinterpret_cast<const void*>(&ShimCreateProcessW)},
        {"CreateProcessAsUserW", reinterpret_cast<const void*>(&ShimCreateProcessAsUserW)},
        {"CreateProcessA", reinterpret_cast<const void*>(&ShimCreateProcessA)},
        {"CreateProcessAsUserA", reinterpret_cast<const void*>(&ShimCreateProcessAsUserA)},
    };
    if (!originalCreate || !originalCreateA)
        return false;
    for (const auto& e : entries)
        if (!entry(e.name) || !vdev_shim::Redirect(entry(e.name), e.replacement))
            return false;
    return true;
}
#else
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

bool TakeOverCreation(HMODULE kernelbase)
{
    void* entry = reinterpret_cast<void*>(GetProcAddress(kernelbase, "CreateProcessInternalW"));
    if (!entry)
        return false;
    // Known before the jump is in place: another thread may create a process at once.
    originalCreate = reinterpret_cast<CreateProcessInternalWFn>(static_cast<unsigned char*>(entry) + 2);
    if (HotPatch(entry, reinterpret_cast<void*>(&FollowingCreateProcess)))
        return true;
    originalCreate = nullptr;
    return false;
}
#endif

bool following = false;

}  // namespace

namespace {

// Whether the process `id` has loaded the DLL at `path`.
bool HasModule(DWORD id, const char* path)
{
    win::unique_file snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, id));
    MODULEENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = snapshot && Module32First(snapshot.get(), &entry); more;
         more = Module32Next(snapshot.get(), &entry))
        if (lstrcmpiA(entry.szExePath, path) == 0)
            return true;
    return false;
}

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
    if (!thread)
        return false;
    if (WaitForSingleObject(thread.get(), 30000) != WAIT_OBJECT_0) {
        SetLastError(WAIT_TIMEOUT);
        return false;
    }
    DWORD module = 0;
    if (!GetExitCodeThread(thread.get(), &module))
        return false;
    // The exit code holds the low 32 bits of the module handle: on x86-64 a
    // DLL loaded at a multiple of 4 GiB reads as 0, so 0 is checked in the
    // process's list of modules.
    if (module != 0 || HasModule(GetProcessId(process), dllPath))
        return true;
    SetLastError(ERROR_DLL_INIT_FAILED);  // LoadLibraryA failed in the process
    return false;
}

extern "C" bool VdevShimFollowChildren(const char* dllPath)
{
    if (following)
        return true;
    if (std::strlen(dllPath) >= sizeof shimDll)
        return false;
    std::strcpy(shimDll, dllPath);
    HMODULE kernelbase = GetModuleHandleA("kernelbase.dll");
    following = kernelbase && TakeOverCreation(kernelbase);
    return following;
}
