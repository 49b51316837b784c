// vdevshim.dll: the pipe-name shim for programs started by vdevrun.exe, and
// for every program they start in turn.
#include <windows.h>

#include "vdev_shim.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(instance, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH || !VdevShimInstall())
        return FALSE;
    return VdevShimFollowChildren(self) ? TRUE : FALSE;
}
