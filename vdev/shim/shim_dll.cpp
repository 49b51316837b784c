// vdevshim.dll: the pipe-name shim for programs started by vdevrun.exe.
#include <windows.h>

#include "vdev_shim.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        return VdevShimInstall() ? TRUE : FALSE;
    return TRUE;
}
