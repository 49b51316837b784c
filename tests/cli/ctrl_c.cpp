// cli_ctrl_c.exe <process id>
// Presses Ctrl+C in the console of another process, as a user at its keyboard
// would: joins that console, stays out of the event itself and raises it for
// every process attached there.  Exit 0 when the event was raised.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const DWORD target = std::strtoul(argv[1], nullptr, 0);
    FreeConsole();
    if (!AttachConsole(target))
        return 3;
    SetConsoleCtrlHandler(nullptr, TRUE);
    return GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) ? 0 : 4;
}
