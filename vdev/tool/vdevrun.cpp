// vdevrun.exe <program> [arguments...]
// Runs a program with the pipe-name shim loaded into it before its first
// instruction, and returns the program's exit code (126: it could not be
// started, 127: not with the shim).  The shim's following of children
// (vdev_shim.h) starts it: suspended, vdevshim.dll (beside this launcher)
// loaded into it, then run.  The shim follows the programs it starts in turn.
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
    // The program is created as this launcher's child, so the shim's following
    // of children loads it there (and makes a creation the loader lost again).
    if (!VdevShimFollowChildren(ShimPath().c_str())) {
        std::fprintf(stderr, "vdevrun: cannot take over process creation for the shim\n");
        return 127;
    }
    std::wstring commandLine(child);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        const DWORD error = GetLastError();
        std::fprintf(stderr, "vdevrun: cannot start program (error %lu)\n", error);
        return error == ERROR_DLL_INIT_FAILED ? 127 : 126;
    }
    win::unique_handle process(pi.hProcess), thread(pi.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return static_cast<int>(code);
}
