#include "settings.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace dump {

const char kKeyForRead[] = "forRead";
const char kKeyForWrite[] = "forWrite";

namespace {

const char kSection[] = "Dump";
constexpr DWORD kPathBuffer = 260;
constexpr UINT kDefaultSize = 0x2000;

std::string ReadString(const char* key, const std::string& file)
{
    char value[kPathBuffer] = {};
    GetPrivateProfileStringA(kSection, key, "", value, kPathBuffer, file.c_str());
    return value;
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
    return LoadSettings(SettingsPath());
}

DumpSettings LoadSettings(const std::string& path)
{
    DumpSettings s;
    s.forRead = ReadString(kKeyForRead, path);
    s.forWrite = ReadString(kKeyForWrite, path);
    s.Size = GetPrivateProfileIntA(kSection, "Size", kDefaultSize, path.c_str());
    s.Addr = GetPrivateProfileIntA(kSection, "Addr", 0, path.c_str());
    s.readMode = GetPrivateProfileIntA(kSection, "readMode", 0, path.c_str());
    s.writeMode = GetPrivateProfileIntA(kSection, "writeMode", 0, path.c_str());
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
