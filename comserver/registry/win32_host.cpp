#include "win32_host.h"

#include <oleauto.h>

#include "runtime/module_heap.h"

namespace {

HKEY Hkey(rgs::Key key) { return reinterpret_cast<HKEY>(key); }

}  // namespace

HRESULT LastErrorResult()
{
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

HRESULT ModulePath(HINSTANCE module, char (&path)[MAX_PATH])
{
    const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return LastErrorResult();
    return S_OK;
}

rgs::Key CWin32Registry::RootKey(rgs::Root root)
{
    HKEY key = HKEY_CLASSES_ROOT;
    switch (root) {
    case rgs::Root::ClassesRoot:
        key = HKEY_CLASSES_ROOT;
        break;
    case rgs::Root::CurrentUser:
        key = HKEY_CURRENT_USER;
        break;
    case rgs::Root::LocalMachine:
        key = HKEY_LOCAL_MACHINE;
        break;
    case rgs::Root::Users:
        key = HKEY_USERS;
        break;
    case rgs::Root::PerformanceData:
        key = HKEY_PERFORMANCE_DATA;
        break;
    case rgs::Root::DynData:
        key = HKEY_DYN_DATA;
        break;
    case rgs::Root::CurrentConfig:
        key = HKEY_CURRENT_CONFIG;
        break;
    }
    return reinterpret_cast<rgs::Key>(key);
}

bool CWin32Registry::OpenKey(rgs::Key parent, const char* name, rgs::Access access, rgs::Key* key)
{
    REGSAM sam = KEY_READ;
    if (access == rgs::Access::All)
        sam = KEY_ALL_ACCESS;
    else if (access == rgs::Access::ReadWrite)
        sam = KEY_READ | KEY_WRITE;
    HKEY opened = nullptr;
    if (RegOpenKeyExA(Hkey(parent), name, 0, sam, &opened) != ERROR_SUCCESS)
        return false;
    *key = reinterpret_cast<rgs::Key>(opened);
    return true;
}

bool CWin32Registry::CreateKey(rgs::Key parent, const char* name, rgs::Key* key)
{
    HKEY created = nullptr;
    if (RegCreateKeyExA(Hkey(parent), name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &created,
                        nullptr) != ERROR_SUCCESS)
        return false;
    *key = reinterpret_cast<rgs::Key>(created);
    return true;
}

bool CWin32Registry::CloseKey(rgs::Key key) { return RegCloseKey(Hkey(key)) == ERROR_SUCCESS; }

bool CWin32Registry::DeleteKey(rgs::Key parent, const char* name)
{
    return RegDeleteKeyA(Hkey(parent), name) == ERROR_SUCCESS;
}

bool CWin32Registry::SubkeyName(rgs::Key key, uint32_t index, char (&name)[rgs::kMaxKeyName + 1])
{
    DWORD size = sizeof name;
    return RegEnumKeyExA(Hkey(key), index, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool CWin32Registry::QueryContents(rgs::Key key, bool* hasSubkeys, bool* hasNamedValues)
{
    DWORD subkeys = 0;
    DWORD values = 0;
    if (RegQueryInfoKeyA(Hkey(key), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    *hasSubkeys = subkeys != 0;
    // The count includes the unnamed default value when the key has one.
    *hasNamedValues = values > 1 ||
                      (values == 1 && RegQueryValueExA(Hkey(key), "", nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS);
    return true;
}

bool CWin32Registry::SetValue(rgs::Key key, const char* name, rgs::ValueType type, const void* data, uint32_t size)
{
    DWORD regType = REG_SZ;
    if (type == rgs::ValueType::Dword)
        regType = REG_DWORD;
    else if (type == rgs::ValueType::Binary)
        regType = REG_BINARY;
    return RegSetValueExA(Hkey(key), name, 0, regType, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

bool CWin32Registry::DeleteValue(rgs::Key key, const char* name)
{
    return RegDeleteValueA(Hkey(key), name) == ERROR_SUCCESS;
}

void* CModuleAllocator::Alloc(size_t bytes) { return ModuleAlloc(bytes); }
void* CModuleAllocator::Realloc(void* block, size_t bytes) { return ModuleRealloc(block, bytes); }
void CModuleAllocator::Free(void* block) { ModuleFree(block); }

bool CAnsiLocale::IsLeadByte(unsigned char byte) const { return IsDBCSLeadByte(byte) != FALSE; }

bool CAnsiLocale::FromWide(const char16_t* text, size_t length, char* out, size_t capacity, size_t* written) const
{
    const int count = WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWCH>(text), static_cast<int>(length), out,
                                          out ? static_cast<int>(capacity) : 0, nullptr, nullptr);
    if (count <= 0)
        return false;
    *written = static_cast<size_t>(count);
    return true;
}

rgs::Result CAnsiLocale::ParseUnsigned(const char* text, uint32_t* value) const
{
    const int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (units <= 0)
        return rgs::kTypeMismatch;
    CModuleAllocator allocator;
    rgs::HeapBlock wide(allocator);
    if (!wide.Resize(static_cast<size_t>(units) * sizeof(WCHAR)))
        return rgs::kOutOfMemory;
    LPWSTR string = reinterpret_cast<LPWSTR>(wide.Units());
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, string, units) != units)
        return rgs::kTypeMismatch;
    ULONG number = 0;
    const HRESULT hr = VarUI4FromStr(string, LOCALE_USER_DEFAULT, 0, &number);
    if (FAILED(hr))
        return hr;
    *value = number;
    return rgs::kOk;
}
