#include "platform.h"

#include <windows.h>

#include "dump/connection.h"
#include "errors.h"
#include "options.h"
#include "uXfer.h"
#include "win/text.h"
#include "xferlib/uxfer_library.h"

namespace cli {

namespace {

HANDLE StandardHandle(FILE* stream)
{
    return GetStdHandle(stream == stdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

}  // namespace

const char kDeviceAccess[] = "uXfer.dll";
const char kSimulatedFolders[] = "%UXFERSIM_HOME% or else %LOCALAPPDATA%\\uXferSim";
const char kSimulateHelp[] = "use the simulated device of uXferSim.dll (beside uxfer.exe) instead of uXfer.dll";

void AddDeviceOptions(CLI::App&, CommonOptions&) {}

std::string LoaderVersionHelp()
{
    return "the loader driver version: " + dump::LoaderVersionList();
}

std::string LoaderVersionRefusal(bool)
{
    return "";
}

int PrepareSystem(const CommonOptions& common)
{
    // uXfer.dll is delay-loaded: the library of the device chosen is loaded
    // here, beside uxfer.exe, before anything calls into it.
    if (const xferlib::LoadFailure failure =
            xferlib::Load({common.simulate ? xferlib::kUxferSim : xferlib::kUxfer, false}))
        return Fail(kExitNoDevice, failure.message);
    // The library's settings come first: they decide which class is
    // enumerated and opened, and how long its waits are.
    if (common.loaderVersion)
        uSetKVVersion(*common.loaderVersion);
    if (common.delay)
        uSetDelay(*common.delay);
    return kExitOk;
}

std::string LocalTimeStamp()
{
    FILETIME utc, local;
    GetSystemTimeAsFileTime(&utc);
    FileTimeToLocalFileTime(&utc, &local);
    const auto ticks = [](const FILETIME& t) {
        return static_cast<long long>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    const long long offsetMinutes = (ticks(local) - ticks(utc)) / 600000000;
    const long long offset = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    SYSTEMTIME t;
    FileTimeToSystemTime(&local, &t);
    char text[40];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03u%c%02lld:%02lld", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond, t.wMilliseconds, offsetMinutes < 0 ? '-' : '+', offset / 60,
                  offset % 60);
    return text;
}

bool IsConsole(FILE* stream)
{
    DWORD mode = 0;
    return GetConsoleMode(StandardHandle(stream), &mode);
}

void WriteConsoleLine(FILE* stream, const std::string& line)
{
    const std::wstring text = win::Widen(line + "\n", CP_UTF8);
    DWORD written = 0;
    WriteConsoleW(StandardHandle(stream), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

ops::Path SystemPath(const std::string& name)
{
    return win::Widen(name, CP_UTF8);
}

std::string SystemText(const ops::Path& path)
{
    return win::Narrow(path, CP_UTF8);
}

bool LoadDumpSettings(const std::string& name, std::string& shown, dump::DumpSettings& settings)
{
    const std::wstring path = win::FullPath(SystemPath(name));
    shown = win::Narrow(win::ShownPath(path), CP_UTF8);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    settings = dump::LoadSettings(path);
    // The settings file is ANSI text; the tool holds names as UTF-8.
    for (std::string* file : {&settings.forRead, &settings.forWrite})
        *file = win::Narrow(win::Widen(*file, CP_ACP), CP_UTF8);
    return true;
}

}  // namespace cli
