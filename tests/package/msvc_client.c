/* A client of uXfer.dll built as Microsoft's tools build one: compiled for
 * the MSVC target, linked by lld-link against the SDK's uXfer.lib, without a
 * C runtime.  Prints the number of devices present and checks that a second
 * export answers as documented; exit code 0 when it does. */
#include <uXfer.h>

void __cdecl client_main(void)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    char line[64];
    DWORD written = 0;
    int length = wsprintfA(line, "instances: %u\r\n", (unsigned)uEnumeInstances());
    WriteFile(out, line, (DWORD)length, &written, NULL);
    /* An unknown loader version changes nothing and answers version - 304. */
    ExitProcess(uSetKVVersion(300) == (uint32_t)-4 ? 0 : 1);
}
