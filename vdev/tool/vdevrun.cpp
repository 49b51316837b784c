// vdevrun.exe <program> [arguments...]
// Runs a program with the pipe-name shim loaded into it before its first
// instruction, and returns the program's exit code.  The program is started
// suspended, vdevshim.dll (beside this launcher) is loaded into it by a remote
// LoadLibraryA, and only then does its main thread run.  The shim follows the
// programs it starts in turn.
#include <windows.h>

#include <cstdio>
#include <string>

#include "vdev_shim.h"
#include "win/unique_any.h"

namespace {

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

// Ctrl+C and Ctrl+Break reach the program and this launcher alike: the program
// decides what they mean, and the launcher waits to pass on its exit code.
BOOL WINAPI LeaveToProgram(DWORD event)
{
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

}  // namespace

int main()
{
    const wchar_t* child = ChildCommandLine();
    if (!*child) {
        std::fprintf(stderr, "usage: vdevrun <program> [arguments...]\n");
        return 125;
    }
    SetConsoleCtrlHandler(LeaveToProgram, TRUE);
    std::wstring commandLine(child);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &si,
                        &pi)) {
        std::fprintf(stderr, "vdevrun: cannot start program (error %lu)\n", GetLastError());
        return 126;
    }
    win::unique_handle process(pi.hProcess), thread(pi.hThread);
    if (!VdevShimInject(process.get(), ShimPath().c_str())) {
        std::fprintf(stderr, "vdevrun: cannot load the shim into the program\n");
        TerminateProcess(process.get(), 127);
        return 127;
    }
    ResumeThread(thread.get());
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return static_cast<int>(code);
}
