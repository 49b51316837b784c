// The store's system calls on Windows: wide paths, file mappings, and a
// named mutex and event per folder.
#include "sim/system.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>

#include "sim/store.h"
#include "win/text.h"

namespace sim {

namespace {

// A variable of any length: a folder named by a longer one is still that folder, never another.
std::wstring Environment(const wchar_t* name)
{
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (!size)
        return std::wstring();
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, &value[0], size);
    value.resize(length < size ? length : 0);
    return value;
}

// Names of the store's kernel objects, from its folder: two folders are two stores.
std::wstring ObjectName(const std::wstring& folder, const wchar_t* what)
{
    uint32_t hash = 2166136261u;
    for (wchar_t c : folder) {
        hash ^= static_cast<uint32_t>(std::towlower(c));
        hash *= 16777619u;
    }
    wchar_t name[64];
    swprintf(name, 64, L"uXferSim-%08x-%ls", hash, what);
    return name;
}

uint64_t FileSize(HANDLE file)
{
    LARGE_INTEGER size = {};
    return GetFileSizeEx(file, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
}

// The state file keeps the stamp where it kept the FILETIME: its layout is that of earlier builds.
static_assert(sizeof(SettingsStamp) == sizeof(FILETIME) && alignof(SettingsStamp) == alignof(FILETIME),
              "the stamp in the state file");

SettingsStamp StampOfTime(const FILETIME& time)
{
    return SettingsStamp{time.dwLowDateTime, time.dwHighDateTime};
}

}  // namespace

Path DefaultFolder()
{
    std::wstring folder = Environment(L"UXFERSIM_HOME");
    if (!folder.empty())
        return folder;
    folder = Environment(L"LOCALAPPDATA");
    if (folder.empty())
        folder = Environment(L"USERPROFILE") + L"\\AppData\\Local";
    return folder + L"\\uXferSim";
}

namespace sys {

std::string LastError()
{
    return win::SystemErrorText(GetLastError());
}

bool MakeFolder(const Path& folder)
{
    return CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

Path InFolder(const Path& folder, const std::string& name)
{
    return folder + L"\\" + win::Widen(name, CP_UTF8);
}

std::string Text(const Path& path)
{
    return win::Narrow(path, CP_UTF8);
}

bool ReadSettings(const Path& path, uint64_t limit, std::string& text, SettingsStamp& stamp)
{
    win::unique_file file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    FILETIME time = {};
    GetFileTime(file.get(), nullptr, nullptr, &time);
    stamp = StampOfTime(time);
    const uint64_t size = std::min(FileSize(file.get()), limit);
    text.assign(static_cast<size_t>(size), '\0');
    DWORD got = 0;
    if (size && !ReadFile(file.get(), &text[0], static_cast<DWORD>(size), &got, nullptr))
        got = 0;
    text.resize(got);
    return true;
}

SettingsStamp StampOf(const Path& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return SettingsStamp{};
    return StampOfTime(data.ftLastWriteTime);
}

uint32_t ThisProcess()
{
    return GetCurrentProcessId();
}

bool ProcessEnded(uint32_t id)
{
    win::unique_handle process(OpenProcess(SYNCHRONIZE, FALSE, id));
    return !process || WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

bool File::Open(const Path& path)
{
    file_.reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    return file_.valid();
}

bool File::IsOpen() const
{
    return file_.valid();
}

void File::Close()
{
    mapping_.reset();
    file_.reset();
}

uint64_t File::Size() const
{
    return FileSize(file_.get());
}

bool File::SetSize(uint64_t bytes)
{
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(bytes);
    return SetFilePointerEx(file_.get(), at, nullptr, FILE_BEGIN) && SetEndOfFile(file_.get());
}

void File::MakeSparse()
{
    DWORD returned = 0;
    DeviceIoControl(file_.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
}

bool File::Map()
{
    mapping_.reset(CreateFileMappingW(file_.get(), nullptr, PAGE_READWRITE, 0, 0, nullptr));
    return mapping_.valid();
}

void File::Unmap()
{
    mapping_.reset();
}

bool View::Map(File& file, uint64_t offset, uint32_t bytes)
{
    view_.reset(MapViewOfFile(file.mapping_.get(), FILE_MAP_READ | FILE_MAP_WRITE, static_cast<DWORD>(offset >> 32),
                              static_cast<DWORD>(offset), bytes));
    return view_.valid();
}

void View::Reset()
{
    view_.reset();
}

void* View::get() const
{
    return view_.get();
}

bool Hold::held() const
{
    return hold_.valid();
}

void Hold::Release()
{
    hold_.reset();
}

bool Lock::Open(const Path& folder)
{
    mutex_.reset(CreateMutexW(nullptr, FALSE, ObjectName(folder, L"lock").c_str()));
    return mutex_.valid();
}

Lock::Taken Lock::Take(uint32_t ms, Hold& hold)
{
    const DWORD wait = WaitForSingleObject(mutex_.get(), ms);
    if (wait == WAIT_TIMEOUT)
        return kTimedOut;
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED)
        return kFailed;
    hold.hold_.reset(mutex_.get());
    return kTaken;
}

bool Wake::Open(const Path& folder)
{
    event_.reset(CreateEventW(nullptr, FALSE, FALSE, ObjectName(folder, L"wake").c_str()));
    return event_.valid();
}

void Wake::Set()
{
    SetEvent(event_.get());
}

void Wake::Wait(uint32_t ms)
{
    WaitForSingleObject(event_.get(), ms);
}

}  // namespace sys

}  // namespace sim
