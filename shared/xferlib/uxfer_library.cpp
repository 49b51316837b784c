#include "xferlib/uxfer_library.h"

#include <delayimp.h>

#include <mutex>

#include "win/text.h"

namespace xferlib {

const wchar_t kUxfer[] = L"uXfer.dll";
const wchar_t kUxferSim[] = L"uXferSim.dll";

namespace {

std::mutex guard;
// Kept for the process: the calls resolved through the delay-load table
// point into it.
HMODULE library = nullptr;

// The program or server this layer is linked into.
HMODULE OwnModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&OwnModule), &module);
    return module;
}

std::wstring FolderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring SystemFolder()
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return length && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

// By its full path; its own imports (system DLLs) are looked for from there.
// No folder: a path from the current drive's root would be no better.
HMODULE LoadFrom(const std::wstring& folder, const wchar_t* name)
{
    if (folder.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    return LoadLibraryExW((folder + L"\\" + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

std::string Utf8(const std::wstring& text)
{
    return win::Narrow(text, CP_UTF8);
}

LoadFailure LoadLocked(const Choice& choice)
{
    if (library)
        return {};
    const std::wstring own = ModulePath(OwnModule());
    library = LoadFrom(FolderOf(own), choice.name);
    if (library)
        return {};
    // The reason of the copy that belongs beside the module: missing, or of the other bitness.
    const DWORD error = GetLastError();
    const std::string name = Utf8(choice.name), module = Utf8(own.substr(own.find_last_of(L'\\') + 1));
    std::string message = name + " can't be loaded from the folder of " + module + " (" + Utf8(FolderOf(own)) +
                          ": " + win::SystemErrorText(error) + ")";
    if (choice.systemFolderToo) {
        const std::wstring system = SystemFolder();
        library = LoadFrom(system, choice.name);
        if (library)
            return {};
        message += " nor from the system folder (" + Utf8(system) + ")";
    }
    return {error ? error : ERROR_MOD_NOT_FOUND,
            message + "; put the " + name + " of the same bitness beside " + module};
}

// Calls made before any Load go to uXfer.dll beside the module.
Choice chosen{kUxfer, false};

FARPROC WINAPI DelayLoadHook(unsigned notification, PDelayLoadInfo info)
{
    // The name the delay-import library gives both DLLs' exports.
    if (notification != dliNotePreLoadLibrary || lstrcmpiA(info->szDll, "uXfer.dll") != 0)
        return nullptr;
    std::lock_guard<std::mutex> lock(guard);
    LoadLocked(chosen);
    return reinterpret_cast<FARPROC>(library);
}

}  // namespace

LoadFailure Load(const Choice& choice)
{
    std::lock_guard<std::mutex> lock(guard);
    if (!library)
        chosen = choice;
    return LoadLocked(chosen);
}

std::wstring ModulePath(HMODULE module)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace xferlib

// Read by the delay-load helper of the C runtime: uXfer.dll is the copy Load found.
PfnDliHook __pfnDliNotifyHook2 = xferlib::DelayLoadHook;
