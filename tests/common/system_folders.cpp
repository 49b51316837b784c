#include "common/system_folders.h"

#include <windows.h>

bool UnderWow64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

std::string WindowsFolder()
{
    char windows[MAX_PATH];
    const UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(windows, length) : std::string();
}

std::string DriversFolder()
{
    return WindowsFolder() + (UnderWow64() ? "\\Sysnative\\drivers\\" : "\\System32\\drivers\\");
}
