// The registry-script runner that is the class entry's updateRegistry routine.
#include <windows.h>
#include <olectl.h>

#include "registry/registration.h"
#include "registry/replacement_table.h"
#include "registry/rgs_parser.h"
#include "runtime/module_heap.h"
#include "runtime/scoped.h"
#include "win/unique_any.h"
#include "win32_host.h"

namespace {

// The module's path in its short form (the long one when there is none), in
// the ANSI code page.
HRESULT ModuleShortPath(HINSTANCE module, char (&path)[MAX_PATH])
{
    char longPath[MAX_PATH];
    const HRESULT hr = ModulePath(module, longPath);
    if (FAILED(hr))
        return hr;
    const DWORD shortLength = GetShortPathNameA(longPath, path, MAX_PATH);
    if (shortLength == 0 || shortLength >= MAX_PATH)
        lstrcpynA(path, longPath, MAX_PATH);
    return S_OK;
}

// The path as UTF-16 with every ' doubled, so that it can stand inside a
// quoted string of the script.
HRESULT QuotablePath(const char* path, rgs::HeapBlock& quoted)
{
    WCHAR wide[MAX_PATH];
    const int units = MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH);
    if (units == 0)
        return LastErrorResult();
    if (!quoted.Resize(2 * static_cast<size_t>(units) * sizeof(char16_t)))
        return E_OUTOFMEMORY;
    char16_t* out = quoted.Units();
    for (int i = 0; i < units; ++i) {
        *out++ = static_cast<char16_t>(wide[i]);
        if (wide[i] == L'\'')
            *out++ = u'\'';
    }
    return S_OK;
}

}  // namespace

HRESULT UpdateRegistryFromScript(HINSTANCE module, UINT resourceId, BOOL doRegister)
{
    char path[MAX_PATH];
    HRESULT hr = ModuleShortPath(module, path);
    if (FAILED(hr))
        return hr;
    CModuleAllocator allocator;
    rgs::HeapBlock modulePath(allocator);
    hr = QuotablePath(path, modulePath);
    if (FAILED(hr))
        return hr;
    rgs::ReplacementTable table(allocator);
    hr = table.Add(u"Module", modulePath.Units());
    if (FAILED(hr))
        return hr;

    // The module file mapped as data, for its resources.
    const win::unique_hmodule file(LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!file)
        return LastErrorResult();
    const HRSRC found = FindResourceA(file.get(), MAKEINTRESOURCEA(resourceId), "REGISTRY");
    if (!found)
        return LastErrorResult();
    const HGLOBAL loaded = LoadResource(file.get(), found);
    const DWORD size = loaded ? SizeofResource(file.get(), found) : 0;
    const void* script = size ? LockResource(loaded) : nullptr;
    if (!script)
        return LastErrorResult();

    CWin32Registry registry;
    const CAnsiLocale locale;
    // The parser stays within the resource's size: no terminated copy needed.
    return rgs::RunRegistryScript(static_cast<const char*>(script), size, table,
                                  doRegister ? rgs::Mode::Register : rgs::Mode::Unregister, registry, allocator,
                                  locale);
}
