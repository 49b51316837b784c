#include "settings.h"

#include <windows.h>

#include <shlobj.h>

#include <cstdio>
#include <vector>

#include "win/text.h"

namespace dump {

namespace {

const wchar_t kFileName[] = L"\\DumpSet.ini";
const wchar_t kUserFolder[] = L"\\uXfer Tools";

std::wstring ProgramSettingsPath()
{
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring path(module);
    const size_t slash = path.rfind(L'\\');
    if (slash != std::wstring::npos && slash > 0)
        path.erase(slash);
    return path + kFileName;
}

bool IsFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool WritePath(const char* key, const std::wstring& path, const std::wstring& file)
{
    const std::wstring section = win::Widen(kSettingsSection, CP_ACP), name = win::Widen(key, CP_ACP);
    return WritePrivateProfileStringW(section.c_str(), name.c_str(), path.c_str(), file.c_str()) != FALSE;
}

// %APPDATA%\uXfer Tools\DumpSet.ini; empty when the folder is unknown.
std::wstring UserSettingsPath()
{
    wchar_t appData[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData)))
        return L"";
    return appData + std::wstring(kUserFolder) + kFileName;
}

}  // namespace

std::wstring SettingsPath()
{
    const std::wstring user = UserSettingsPath();
    return !user.empty() && IsFile(user) ? user : ProgramSettingsPath();
}

bool AnsiName(const std::wstring& name, std::string& ansi)
{
    ansi.clear();
    if (name.empty())
        return true;
    const int length = static_cast<int>(name.size());
    BOOL usedDefault = FALSE;
    const int bytes =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.data(), length, nullptr, 0, nullptr, &usedDefault);
    if (bytes <= 0 || usedDefault)
        return false;
    ansi.resize(bytes);
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.data(), length, &ansi[0], bytes, nullptr, nullptr);
    // The way back must give the same name, or the file opened would be another.
    std::wstring back(name.size(), L'\0');
    const int chars = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), bytes, &back[0], length);
    return chars == length && back == name;
}

DumpSettings LoadSettings()
{
    return LoadSettings(SettingsPath());
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

void StorePath(const char* key, const std::wstring& path)
{
    const std::wstring read = SettingsPath();
    if (WritePath(key, path, read))
        return;
    // A folder the user may not write (Program Files): the user's own copy
    // takes the change, and from now on it is the file read.
    const std::wstring user = UserSettingsPath();
    if (user.empty() || user == read)
        return;
    CreateDirectoryW(user.substr(0, user.rfind(L'\\')).c_str(), nullptr);
    if (CopyFileW(read.c_str(), user.c_str(), TRUE))
        SetFileAttributesW(user.c_str(), FILE_ATTRIBUTE_NORMAL);  // not read-only like the original
    WritePath(key, path, user);
}

}  // namespace dump
