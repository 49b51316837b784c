#include "registration.h"

#include <string>
#include <vector>

#include "module.h"
#include "uXferAuto.h"
#include "win/unique_any.h"

namespace automation {

namespace {

const wchar_t kClassName[] = L"uXfer device";
const wchar_t kProgId[] = L"uXfer.Device";
const wchar_t kVersionedProgId[] = L"uXfer.Device.1";
const wchar_t kLibraryName[] = L"uXfer Automation 1.0 Type Library";
const wchar_t kLibraryVersion[] = L"1.0";
// oleaut32's marshaler of interfaces described by a type library.
const wchar_t kTypeLibMarshaler[] = L"{00020424-0000-0000-C000-000000000046}";
#ifdef _WIN64
const wchar_t kPlatform[] = L"win64";
#else
const wchar_t kPlatform[] = L"win32";
#endif

std::wstring GuidText(REFGUID guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

// One value: the key under the classes root, the value's name (empty: the
// key's default) and its text.
struct Entry {
    std::wstring key;
    std::wstring name;
    std::wstring value;
};

std::wstring Folder(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(0, slash);
}

std::vector<Entry> Entries()
{
    const std::wstring module = ModulePath();
    const std::wstring clsid = L"CLSID\\" + GuidText(CLSID_XferDevice);
    const std::wstring libid = GuidText(LIBID_uXferAutoLib);
    const std::wstring typeLib = L"TypeLib\\" + libid + L"\\" + kLibraryVersion;
    std::vector<Entry> entries = {
        {clsid, L"", kClassName},
        {clsid + L"\\InprocServer32", L"", module},
        {clsid + L"\\InprocServer32", L"ThreadingModel", L"Both"},
        {clsid + L"\\ProgID", L"", kVersionedProgId},
        {clsid + L"\\VersionIndependentProgID", L"", kProgId},
        {clsid + L"\\TypeLib", L"", libid},
        {clsid + L"\\Version", L"", kLibraryVersion},
        {kProgId, L"", kClassName},
        {std::wstring(kProgId) + L"\\CLSID", L"", GuidText(CLSID_XferDevice)},
        {std::wstring(kProgId) + L"\\CurVer", L"", kVersionedProgId},
        {kVersionedProgId, L"", kClassName},
        {std::wstring(kVersionedProgId) + L"\\CLSID", L"", GuidText(CLSID_XferDevice)},
        {typeLib, L"", kLibraryName},
        {typeLib + L"\\0\\" + kPlatform, L"", module},
        {typeLib + L"\\FLAGS", L"", L"0"},
        {typeLib + L"\\HELPDIR", L"", Folder(module)},
    };
    const struct {
        REFIID iid;
        const wchar_t* name;
    } interfaces[] = {{IID_IXferDevice, L"IXferDevice"}, {DIID_DXferDeviceEvents, L"DXferDeviceEvents"}};
    for (const auto& item : interfaces) {
        const std::wstring key = L"Interface\\" + GuidText(item.iid);
        entries.push_back({key, L"", item.name});
        entries.push_back({key + L"\\ProxyStubClsid32", L"", kTypeLibMarshaler});
        entries.push_back({key + L"\\TypeLib", L"", libid});
        entries.push_back({key + L"\\TypeLib", L"Version", kLibraryVersion});
    }
    return entries;
}

HKEY RootOf(Scope scope)
{
    return scope == Scope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// The classes key of the scope, in this image's view; a user's may not exist yet.
LSTATUS OpenClasses(Scope scope, REGSAM access, bool create, win::unique_hkey& classes)
{
    HKEY key = nullptr;
    const LSTATUS status =
        create ? RegCreateKeyExW(RootOf(scope), L"Software\\Classes", 0, nullptr, 0, access, nullptr, &key, nullptr)
               : RegOpenKeyExW(RootOf(scope), L"Software\\Classes", 0, access, &key);
    classes.reset(key);
    return status;
}

// The keys every server shares: never removed.
bool SharedRoot(const std::wstring& path)
{
    return path == L"CLSID" || path == L"TypeLib" || path == L"Interface";
}

// Deletes `path` under `classes` when it has neither subkeys nor values,
// then each parent that is left empty, up to the shared roots.
void DeleteIfEmpty(HKEY classes, std::wstring path)
{
    while (!SharedRoot(path)) {
        {
            HKEY opened = nullptr;
            if (RegOpenKeyExW(classes, path.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
                return;
            const win::unique_hkey key(opened);
            DWORD subkeys = 0, values = 0;
            if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                 nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
                subkeys || values)
                return;
        }
        if (RegDeleteKeyW(classes, path.c_str()) != ERROR_SUCCESS)
            return;
        const size_t slash = path.find_last_of(L'\\');
        if (slash == std::wstring::npos)
            return;
        path.resize(slash);
    }
}

bool KeyExists(HKEY classes, const std::wstring& path)
{
    HKEY opened = nullptr;
    const LSTATUS status = RegOpenKeyExW(classes, path.c_str(), 0, KEY_READ, &opened);
    const win::unique_hkey key(opened);
    return status == ERROR_SUCCESS;
}

}  // namespace

HRESULT RegisterServer(Scope scope)
{
    win::unique_hkey classes;
    LSTATUS status = OpenClasses(scope, KEY_CREATE_SUB_KEY | KEY_SET_VALUE, true, classes);
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    for (const Entry& entry : Entries()) {
        HKEY created = nullptr;
        status = RegCreateKeyExW(classes.get(), entry.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &created,
                                 nullptr);
        if (status != ERROR_SUCCESS)
            break;
        const win::unique_hkey key(created);
        status = RegSetValueExW(key.get(), entry.name.empty() ? nullptr : entry.name.c_str(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(entry.value.c_str()),
                                static_cast<DWORD>((entry.value.size() + 1) * sizeof(wchar_t)));
        if (status != ERROR_SUCCESS)
            break;
    }
    if (status != ERROR_SUCCESS) {
        // Nothing half done: what was written goes again.
        UnregisterServer(scope);
        return HRESULT_FROM_WIN32(status);
    }
    return S_OK;
}

HRESULT UnregisterServer(Scope scope)
{
    win::unique_hkey classes;
    const LSTATUS status = OpenClasses(scope, KEY_READ | KEY_SET_VALUE | DELETE, false, classes);
    if (status == ERROR_FILE_NOT_FOUND)
        return S_OK;
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    const std::vector<Entry> entries = Entries();
    // The type library's key may be shared by both registry views: this
    // image's platform goes; the rest stays while the other's is there.
    const std::wstring libraryKey = L"TypeLib\\" + GuidText(LIBID_uXferAutoLib) + L"\\" + kLibraryVersion;
    const std::wstring platformKey = libraryKey + L"\\0\\" + kPlatform;
    RegDeleteKeyW(classes.get(), platformKey.c_str());
    DeleteIfEmpty(classes.get(), libraryKey + L"\\0");
    const bool libraryShared = KeyExists(classes.get(), libraryKey + L"\\0");
    // Values first, then the keys left empty, deepest first.
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (libraryShared && it->key.compare(0, libraryKey.size(), libraryKey) == 0)
            continue;
        HKEY opened = nullptr;
        if (RegOpenKeyExW(classes.get(), it->key.c_str(), 0, KEY_SET_VALUE, &opened) != ERROR_SUCCESS)
            continue;
        const win::unique_hkey key(opened);
        RegDeleteValueW(key.get(), it->name.empty() ? nullptr : it->name.c_str());
    }
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        DeleteIfEmpty(classes.get(), it->key);
    return S_OK;
}

}  // namespace automation
