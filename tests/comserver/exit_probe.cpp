// Loads Talvix.dll beside it, takes its class object and an instance, and
// prints the first call of each tear-down function the server makes on the
// way out: "exit" ends the process with the module still loaded, "unload"
// releases everything and unloads the module first.
#include <windows.h>
#include <objbase.h>

#include <cstring>

#include "comserver/talvix_support.h"
#include "Talvix.h"

namespace {

void Print(const char* text)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

void* realDelete = nullptr;
void* realHeapDestroy = nullptr;
bool deleteSeen = false;
bool heapDestroySeen = false;

void WINAPI ReportingDeleteCriticalSection(CRITICAL_SECTION* lock)
{
    if (!deleteSeen)
        Print("DeleteCriticalSection\n");
    deleteSeen = true;
    reinterpret_cast<decltype(&DeleteCriticalSection)>(realDelete)(lock);
}

BOOL WINAPI ReportingHeapDestroy(HANDLE heap)
{
    if (!heapDestroySeen)
        Print("HeapDestroy\n");
    heapDestroySeen = true;
    return reinterpret_cast<decltype(&HeapDestroy)>(realHeapDestroy)(heap);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2 || (std::strcmp(argv[1], "exit") != 0 && std::strcmp(argv[1], "unload") != 0))
        return 2;
    const bool unload = std::strcmp(argv[1], "unload") == 0;
    TalvixServer server;
    if (!server.Loaded())
        return 3;
    IClassFactory* factory = server.Factory();
    ITVXDevice* device = server.NewDevice();
    if (!factory || !device)
        return 4;
    // Left in place for good: the module may be gone before they could be undone.
    auto* deletePatch = new ImportPatch(server.Module(), "kernel32.dll", "DeleteCriticalSection",
                                        reinterpret_cast<void*>(&ReportingDeleteCriticalSection));
    auto* heapPatch = new ImportPatch(server.Module(), "kernel32.dll", "HeapDestroy",
                                      reinterpret_cast<void*>(&ReportingHeapDestroy));
    if (!deletePatch->Applied() || !heapPatch->Applied())
        return 5;
    realDelete = deletePatch->Original();
    realHeapDestroy = heapPatch->Original();
    Print("ready\n");
    if (!unload)
        ExitProcess(0);  // the module sees a process detach at process exit
    device->Release();
    factory->Release();
    FreeLibrary(server.Module());
    Print("unloaded\n");
    return 0;
}
