// vdevrun.exe <program> [arguments...]
// Runs a program with the pipe-name shim loaded into it before its first
// instruction, and returns the program's exit code.  The program is started
// suspended, vdevshim.dll (beside this launcher) is loaded into it by a remote
// LoadLibraryA, and only then does its main thread run.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Handle {
    HANDLE h;
    explicit Handle(HANDLE v = nullptr) : h(v) {}
    ~Handle()
    {
        if (h && h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

struct RemoteMemory {
    HANDLE process;
    void* address;
    RemoteMemory(HANDLE p, size_t size)
        : process(p), address(VirtualAllocEx(p, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))
    {
    }
    ~RemoteMemory()
    {
        if (address)
            VirtualFreeEx(process, address, 0, MEM_RELEASE);
    }
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;
};

// The command line after our own program name, as the system keeps it.
const wchar_t* ChildCommandLine()
{
    const wchar_t* p = GetCommandLineW();
    bool quoted = false;
    for (; *p && (quoted || (*p != L' ' && *p != L'\t')); ++p)
        if (*p == L'"')
            quoted = !quoted;
    while (*p == L' ' || *p == L'\t')
        ++p;
    return p;
}

std::string ShimPath()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of('\\') + 1) + "vdevshim.dll";
}

bool InjectShim(HANDLE process)
{
    std::string shim = ShimPath();
    RemoteMemory name(process, shim.size() + 1);
    if (!name.address || !WriteProcessMemory(process, name.address, shim.c_str(), shim.size() + 1, nullptr))
        return false;
    auto loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA")));
    Handle thread(CreateRemoteThread(process, nullptr, 0, loadLibrary, name.address, 0, nullptr));
    if (!thread.h || WaitForSingleObject(thread.h, 30000) != WAIT_OBJECT_0)
        return false;
    DWORD module = 0;
    return GetExitCodeThread(thread.h, &module) && module != 0;
}

}  // namespace

int main()
{
    const wchar_t* child = ChildCommandLine();
    if (!*child) {
        std::fprintf(stderr, "usage: vdevrun <program> [arguments...]\n");
        return 125;
    }
    std::wstring commandLine(child);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &si,
                        &pi)) {
        std::fprintf(stderr, "vdevrun: cannot start program (error %lu)\n", GetLastError());
        return 126;
    }
    Handle process(pi.hProcess), thread(pi.hThread);
    if (!InjectShim(process.h)) {
        std::fprintf(stderr, "vdevrun: cannot load the shim into the program\n");
        TerminateProcess(process.h, 127);
        return 127;
    }
    ResumeThread(thread.h);
    WaitForSingleObject(process.h, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.h, &code);
    return static_cast<int>(code);
}
