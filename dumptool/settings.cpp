#include "settings.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "framework/file.h"

namespace dump {

const char kKeyForRead[] = "forRead";
const char kKeyForWrite[] = "forWrite";

namespace {

const char kSection[] = "Dump";
constexpr DWORD kPathBuffer = 260;
constexpr size_t kLongestValue = 1u << 16;
constexpr UINT kDefaultSize = 0x2000;

// The whole value, however long: a value that fills the buffer is read again
// into a larger one.  Longer than any path: none.
std::string ReadString(const char* key, const std::wstring& file)
{
    const std::wstring section = Widen(kSection, CP_ACP), name = Widen(key, CP_ACP);
    for (std::vector<wchar_t> value(kPathBuffer); value.size() <= kLongestValue; value.resize(value.size() * 2)) {
        const DWORD length = GetPrivateProfileStringW(section.c_str(), name.c_str(), L"", value.data(),
                                                      static_cast<DWORD>(value.size()), file.c_str());
        if (length + 1 < value.size())
            return Narrow(std::wstring(value.data(), length), CP_ACP);
    }
    return std::string();
}

UINT ReadNumber(const char* key, UINT fallback, const std::wstring& file)
{
    return GetPrivateProfileIntW(Widen(kSection, CP_ACP).c_str(), Widen(key, CP_ACP).c_str(), fallback,
                                 file.c_str());
}

}  // namespace

std::string SettingsPath()
{
    char module[kPathBuffer] = {};
    GetModuleFileNameA(nullptr, module, kPathBuffer);
    std::string path(module);
    const size_t slash = path.rfind('\\');
    if (slash != std::string::npos && slash > 0)
        path.erase(slash);
    return path + "\\DumpSet.ini";
}

DumpSettings LoadSettings()
{
    return LoadSettings(WidePath(SettingsPath()));
}

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

std::string ComposeSummary(const DumpSettings& s)
{
    static const char kFormat[] =
        "Check the following parameters before read/write:\n Read from file: %s\n Write to file:  %s\n"
        " Size: 0x%x (B)\n Address: 0x%x\nYou can change these at 'DumpSet.ini'.";
    const int length = std::snprintf(nullptr, 0, kFormat, s.forRead.c_str(), s.forWrite.c_str(), s.Size, s.Addr);
    std::vector<char> text(length + 1);
    std::snprintf(text.data(), text.size(), kFormat, s.forRead.c_str(), s.forWrite.c_str(), s.Size, s.Addr);
    return std::string(text.data(), length);
}

void StorePath(const char* key, const std::string& path)
{
    WritePrivateProfileStringA(kSection, key, path.c_str(), SettingsPath().c_str());
}

}  // namespace dump
