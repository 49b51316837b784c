#include "dump/settings.h"

#include <windows.h>

#include <vector>

#include "win/text.h"

namespace dump {

namespace {

constexpr DWORD kPathBuffer = 260;
constexpr size_t kLongestValue = 1u << 16;
constexpr UINT kDefaultSize = 0x2000;

// The whole value, however long: a value that fills the buffer is read again
// into a larger one.  Longer than any path: none.
std::string ReadString(const char* key, const std::wstring& file)
{
    const std::wstring section = win::Widen(kSettingsSection, CP_ACP), name = win::Widen(key, CP_ACP);
    for (std::vector<wchar_t> value(kPathBuffer); value.size() <= kLongestValue; value.resize(value.size() * 2)) {
        const DWORD length = GetPrivateProfileStringW(section.c_str(), name.c_str(), L"", value.data(),
                                                      static_cast<DWORD>(value.size()), file.c_str());
        if (length + 1 < value.size())
            return win::Narrow(std::wstring(value.data(), length), CP_ACP);
    }
    return std::string();
}

UINT ReadNumber(const char* key, UINT fallback, const std::wstring& file)
{
    return GetPrivateProfileIntW(win::Widen(kSettingsSection, CP_ACP).c_str(), win::Widen(key, CP_ACP).c_str(),
                                 fallback, file.c_str());
}

}  // namespace

DumpSettings LoadSettings(const std::wstring& path)
{
    DumpSettings s;
    s.forRead = ReadString(kKeyForRead, path);
    s.forWrite = ReadString(kKeyForWrite, path);
    s.Size = ReadNumber("Size", kDefaultSize, path);
    s.Addr = ReadNumber("Addr", 0, path);
    s.readMode = ReadNumber("readMode", 0, path);
    s.writeMode = ReadNumber("writeMode", 0, path);
    return s;
}

}  // namespace dump
