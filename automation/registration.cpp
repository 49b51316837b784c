#include "registration.h"

#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "folder_trust.h"
#include "module.h"
#include "server_class.h"
#include "uXferAuto.h"
#include "win/unique_any.h"

namespace automation {

namespace {

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

std::vector<Entry> Entries()
{
    const ServerClass& served = ServedClass();
    const std::wstring module = ModulePath(), classId = GuidText(served.clsid);
    const std::wstring clsid = L"CLSID\\" + classId, progId = served.progId, versioned = served.versionedProgId;
    const std::wstring libid = GuidText(LIBID_uXferAutoLib);
    const std::wstring typeLib = L"TypeLib\\" + libid + L"\\" + kLibraryVersion;
    std::vector<Entry> entries = {
        {clsid, L"", served.name},
        {clsid + L"\\InprocServer32", L"", module},
        {clsid + L"\\InprocServer32", L"ThreadingModel", L"Both"},
        {clsid + L"\\ProgID", L"", versioned},
        {clsid + L"\\VersionIndependentProgID", L"", progId},
        {clsid + L"\\TypeLib", L"", libid},
        {clsid + L"\\Version", L"", kLibraryVersion},
        {progId, L"", served.name},
        {progId + L"\\CLSID", L"", classId},
        {progId + L"\\CurVer", L"", versioned},
        {versioned, L"", served.name},
        {versioned + L"\\CLSID", L"", classId},
        {typeLib, L"", kLibraryName},
        {typeLib + L"\\0\\" + kPlatform, L"", module},
        {typeLib + L"\\FLAGS", L"", L"0"},
        {typeLib + L"\\HELPDIR", L"", ModuleFolder()},
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

bool KeyExists(HKEY parent, const std::wstring& path, REGSAM view = 0)
{
    HKEY opened = nullptr;
    const LSTATUS status = RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ | view, &opened);
    const win::unique_hkey key(opened);
    return status == ERROR_SUCCESS;
}

bool IsProgId(const Entry& entry)
{
    const std::wstring root = entry.key.substr(0, entry.key.find(L'\\'));
    return root == ServedClass().progId || root == ServedClass().versionedProgId;
}

// Whether the server of the other bitness is registered in `scope`: its class
// lies in the other registry view (CLSID is redirected on 64-bit Windows, the
// ProgIDs are not).  On 32-bit Windows the flag is ignored: the one view.
bool OtherBitnessRegistered(Scope scope)
{
#ifdef _WIN64
    const REGSAM otherView = KEY_WOW64_32KEY;
#else
    const REGSAM otherView = KEY_WOW64_64KEY;
#endif
    return KeyExists(RootOf(scope),
                     L"Software\\Classes\\CLSID\\" + GuidText(ServedClass().clsid) + L"\\InprocServer32", otherView);
}

// The keys of the type library and its interfaces, which both classes write.
bool SharedByClasses(const Entry& entry)
{
    return entry.key.compare(0, 8, L"TypeLib\\") == 0 || entry.key.compare(0, 10, L"Interface\\") == 0;
}

// The image of the other class registered in `classes` (this view), or empty.
std::wstring SiblingServer(HKEY classes)
{
    const std::wstring key = L"CLSID\\" + GuidText(SiblingClass().clsid) + L"\\InprocServer32";
    wchar_t path[MAX_PATH] = {};
    DWORD size = sizeof path - sizeof(wchar_t);
    if (RegGetValueW(classes, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &size) != ERROR_SUCCESS)
        return std::wstring();
    return path;
}

// The default value of an existing key.
void SetText(HKEY classes, const std::wstring& key, const std::wstring& text)
{
    RegSetKeyValueW(classes, key.c_str(), nullptr, REG_SZ, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// What one registration changed, to put back when it fails part way: the
// keys it made and each value as it was before.
class Undo {
public:
    explicit Undo(HKEY classes) : classes_(classes) {}

    // Writes `entry`, noting what it changes.
    LSTATUS Write(const Entry& entry)
    {
        win::unique_hkey key;
        for (size_t end = 0; end != std::wstring::npos;) {
            end = entry.key.find(L'\\', end + 1);
            const std::wstring path = entry.key.substr(0, end);
            HKEY created = nullptr;
            DWORD disposition = 0;
            const LSTATUS status = RegCreateKeyExW(classes_, path.c_str(), 0, nullptr, 0,
                                                   KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &created, &disposition);
            if (status != ERROR_SUCCESS)
                return status;
            key.reset(created);
            if (disposition == REG_CREATED_NEW_KEY)
                madeKeys_.push_back(path);
        }
        Value before{entry.key, entry.name, false, REG_NONE, {}};
        const wchar_t* name = entry.name.empty() ? nullptr : entry.name.c_str();
        DWORD size = 0;
        if (RegQueryValueExW(key.get(), name, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
            before.data.resize(size);
            before.existed = RegQueryValueExW(key.get(), name, nullptr, &before.type, before.data.data(), &size) ==
                             ERROR_SUCCESS;
            before.data.resize(size);
        }
        values_.push_back(std::move(before));
        return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(entry.value.c_str()),
                              static_cast<DWORD>((entry.value.size() + 1) * sizeof(wchar_t)));
    }

    // The values as they were, then the keys made, deepest first.
    void Revert()
    {
        for (auto it = values_.rbegin(); it != values_.rend(); ++it) {
            HKEY opened = nullptr;
            if (RegOpenKeyExW(classes_, it->key.c_str(), 0, KEY_SET_VALUE, &opened) != ERROR_SUCCESS)
                continue;
            const win::unique_hkey key(opened);
            const wchar_t* name = it->name.empty() ? nullptr : it->name.c_str();
            if (it->existed)
                RegSetValueExW(key.get(), name, 0, it->type, it->data.data(), static_cast<DWORD>(it->data.size()));
            else
                RegDeleteValueW(key.get(), name);
        }
        for (auto it = madeKeys_.rbegin(); it != madeKeys_.rend(); ++it)
            RegDeleteKeyW(classes_, it->c_str());
    }

private:
    struct Value {
        std::wstring key, name;
        bool existed;
        DWORD type;
        std::vector<BYTE> data;
    };

    HKEY classes_;
    std::vector<std::wstring> madeKeys_;
    std::vector<Value> values_;
};

#ifdef UXFERAUTO_TEST_HOOKS
// The test edition's seam: UXFERAUTO_TEST_FAIL_AT=N makes registration fail
// at its value N (from 0) as a key an administrator's policy denies would,
// for the tests of what a failed registration leaves.  The test bed runs as
// root, where no key is denied.
size_t FailingValue()
{
    wchar_t text[16];
    const DWORD length = GetEnvironmentVariableW(L"UXFERAUTO_TEST_FAIL_AT", text, 16);
    return length && length < 16 ? wcstoul(text, nullptr, 10) : SIZE_MAX;
}
#else
constexpr size_t FailingValue()
{
    return SIZE_MAX;
}
#endif

}  // namespace

HRESULT RegisterServer(Scope scope)
{
    if (scope == Scope::Machine) {
        const HRESULT trusted = CheckServerFolder();
        if (trusted != S_OK)
            return trusted;
    }
    win::unique_hkey classes;
    LSTATUS status = OpenClasses(scope, KEY_CREATE_SUB_KEY | KEY_SET_VALUE, true, classes);
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    const std::vector<Entry> entries = Entries();
    const size_t failing = FailingValue();
    Undo undo(classes.get());
    for (size_t i = 0; i < entries.size() && status == ERROR_SUCCESS; ++i)
        status = i == failing ? ERROR_ACCESS_DENIED : undo.Write(entries[i]);
    if (status != ERROR_SUCCESS) {
        // Nothing half done, and nothing that was there before lost: the
        // other bitness's ProgIDs, an earlier registration's values.
        undo.Revert();
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
    // The other class's image carries the same type library: while it is
    // registered in this view, the library and its interfaces stay, found in it.
    const std::wstring sibling = SiblingServer(classes.get());
    if (sibling.empty()) {
        RegDeleteKeyW(classes.get(), platformKey.c_str());
        DeleteIfEmpty(classes.get(), libraryKey + L"\\0");
    } else {
        SetText(classes.get(), platformKey, sibling);
        SetText(classes.get(), libraryKey + L"\\HELPDIR", sibling.substr(0, sibling.find_last_of(L'\\')));
    }
    const bool libraryShared = KeyExists(classes.get(), libraryKey + L"\\0");
    // Values first, then the keys left empty, deepest first.
    const auto remove = [&](bool progIds) {
        for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
            if (IsProgId(*it) != progIds || (!sibling.empty() && SharedByClasses(*it)) ||
                (libraryShared && it->key.compare(0, libraryKey.size(), libraryKey) == 0))
                continue;
            HKEY opened = nullptr;
            if (RegOpenKeyExW(classes.get(), it->key.c_str(), 0, KEY_SET_VALUE, &opened) != ERROR_SUCCESS)
                continue;
            const win::unique_hkey key(opened);
            RegDeleteValueW(key.get(), it->name.empty() ? nullptr : it->name.c_str());
        }
        for (auto it = entries.rbegin(); it != entries.rend(); ++it)
            if (IsProgId(*it) == progIds)
                DeleteIfEmpty(classes.get(), it->key);
    };
    remove(false);
    // The ProgIDs are shared by both views and name the class both register:
    // they stay while the other bitness's is there, and go with the last.
    // Asked after this view's class went: where nothing redirects (32-bit
    // Windows, a user's classes under Wine) the two are one key.
    if (!OtherBitnessRegistered(scope))
        remove(true);
    return S_OK;
}

}  // namespace automation
