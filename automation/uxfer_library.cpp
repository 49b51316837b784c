#include "uxfer_library.h"

#include <delayimp.h>

#include <mutex>
#include <string>

#include "module.h"
#include "win/text.h"

namespace automation {

namespace {

const wchar_t kName[] = L"uXfer.dll";

std::mutex guard;
// Kept for the process: the calls resolved through the delay-load table
// point into it.
HMODULE library = nullptr;

std::wstring SystemFolder()
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return length && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

// By its full path; its own imports (system DLLs) are looked for from there.
// No folder: a path from the current drive's root would be no better.
HMODULE LoadFrom(const std::wstring& folder)
{
    if (folder.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    return LoadLibraryExW((folder + L"\\" + kName).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

FARPROC WINAPI DelayLoadHook(unsigned notification, PDelayLoadInfo info)
{
    if (notification != dliNotePreLoadLibrary || lstrcmpiA(info->szDll, "uXfer.dll") != 0)
        return nullptr;
    LoadUxfer();
    return reinterpret_cast<FARPROC>(library);
}

}  // namespace

Failure LoadUxfer()
{
    std::lock_guard<std::mutex> lock(guard);
    if (library)
        return {};
    const std::wstring own = ModuleFolder();
    library = LoadFrom(own);
    if (library)
        return {};
    // The reason of the copy that belongs beside the server: missing, or of the other bitness.
    const DWORD error = GetLastError();
    const std::wstring system = SystemFolder();
    library = LoadFrom(system);
    if (library)
        return {};
    return Fail(HRESULT_FROM_WIN32(error),
                "uXfer.dll can't be loaded from the folder of uXferAuto.dll (" + win::Narrow(own, CP_UTF8) +
                    ": " + win::SystemErrorText(error) + ") nor from the system folder (" +
                    win::Narrow(system, CP_UTF8) + "); put the uXfer.dll of the same bitness beside uXferAuto.dll");
}

}  // namespace automation

// Read by the delay-load helper of the C runtime: uXfer.dll is the copy LoadUxfer found.
PfnDliHook __pfnDliNotifyHook2 = automation::DelayLoadHook;
