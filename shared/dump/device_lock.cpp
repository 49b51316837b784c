#include "dump/device_lock.h"

#include <windows.h>

#include <algorithm>

#include "dump/connection.h"
#include "dump/instance_lock.h"
#include "win/text.h"

namespace dump {

namespace {

constexpr DWORD kStopCheckMs = 100;
const wchar_t kLockPrefix[] = L"Global\\uXferDevice:";
const wchar_t kRecordPrefix[] = L"Global\\uXferDeviceHolder:";

// Who holds a device: written by the holder, read by those that wait.
struct HolderRecord {
    LONG processId;  // 0: none; written last, cleared first
    wchar_t program[64];
};

// The part of the objects' names that names the device: its path in lower
// case (the system spells one path in more than one case), with no
// backslash, which a name can't hold; a long path by a hash of it.
std::wstring KeyOf(const std::string& path)
{
    std::wstring key = win::Widen(ListedPath(path), CP_ACP);
    std::replace(key.begin(), key.end(), L'\\', L'/');
    constexpr size_t kLongest = MAX_PATH - sizeof kRecordPrefix / sizeof(wchar_t);
    if (key.size() <= kLongest)
        return key;
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (wchar_t c : key)
        hash = (hash ^ static_cast<uint16_t>(c)) * 1099511628211ull;
    const std::wstring suffix = L"#" + std::to_wstring(hash);
    return key.substr(key.size() - (kLongest - suffix.size())) + suffix;
}

// "instance I is in use by P, process N", from the holder's record.
std::string HolderText(const std::wstring& key, uint32_t instance)
{
    std::string holder = "another program";
    const win::unique_handle record(OpenFileMappingW(FILE_MAP_READ, FALSE, (kRecordPrefix + key).c_str()));
    const win::unique_view view(record ? MapViewOfFile(record.get(), FILE_MAP_READ, 0, 0, sizeof(HolderRecord))
                                       : nullptr);
    if (view) {
        const volatile HolderRecord* shared = static_cast<const volatile HolderRecord*>(view.get());
        const LONG before = shared->processId;
        wchar_t program[64];
        for (size_t i = 0; i < 64; ++i)
            program[i] = shared->program[i];
        program[63] = 0;
        // A record rewritten while read names no one for sure.
        if (before != 0 && before == shared->processId && program[0])
            holder = win::Narrow(program, CP_UTF8) + ", process " + std::to_string(before);
    }
    return "instance " + std::to_string(instance) + " is in use by " + holder;
}

}  // namespace

DeviceLock::Outcome DeviceLock::Take(const std::string& path, uint32_t instance, DWORD waitMs,
                                     const std::function<bool()>& stopped,
                                     const std::function<void(const std::string&)>& waiting, std::string& problem)
{
    const std::wstring key = KeyOf(path);
    mutex_.reset(OpenSharedMutex(kLockPrefix + key));
    if (!mutex_) {
        problem = "can't take the lock of instance " + std::to_string(instance) + " (" +
                  win::SystemErrorText(GetLastError()) + ")";
        return Outcome::Failed;
    }
    // An abandoned mutex (its holder died) is ours all the same.
    DWORD wait = WaitForSingleObject(mutex_.get(), 0);
    if (wait == WAIT_TIMEOUT) {
        std::string holder = HolderText(key, instance);
        if (waiting)
            waiting(holder);
        const ULONGLONG start = GetTickCount64();
        for (;;) {
            const ULONGLONG waited = GetTickCount64() - start;
            if (waitMs != INFINITE && waited >= waitMs) {
                // Said as it stands now: the holder may have changed meanwhile.
                problem = HolderText(key, instance);
                return Outcome::Busy;
            }
            const DWORD slice =
                waitMs == INFINITE ? kStopCheckMs : static_cast<DWORD>(std::min<ULONGLONG>(kStopCheckMs, waitMs - waited));
            wait = WaitForSingleObject(mutex_.get(), slice);
            if (wait != WAIT_TIMEOUT)
                break;
            if (stopped && stopped())
                return Outcome::Stopped;
        }
    }
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        problem = "can't take the lock of instance " + std::to_string(instance) + " (" +
                  win::SystemErrorText(GetLastError()) + ")";
        return Outcome::Failed;
    }
    hold_.reset(mutex_.get());
    Publish(key);
    return Outcome::Held;
}

void DeviceLock::Publish(const std::wstring& key)
{
    // Without the record the lock holds all the same; a waiter then names
    // "another program".
    record_.reset(OpenSharedSection(kRecordPrefix + key, sizeof(HolderRecord)));
    if (record_)
        view_.reset(MapViewOfFile(record_.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(HolderRecord)));
    if (!view_)
        return;
    auto* shared = static_cast<HolderRecord*>(view_.get());
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    const wchar_t* name = module;
    for (const wchar_t* at = module; *at; ++at)
        if (*at == L'\\' || *at == L'/')
            name = at + 1;
    InterlockedExchange(&shared->processId, 0);
    lstrcpynW(shared->program, name, 64);
    InterlockedExchange(&shared->processId, static_cast<LONG>(GetCurrentProcessId()));
}

DeviceLock::~DeviceLock()
{
    if (view_)
        InterlockedExchange(&static_cast<HolderRecord*>(view_.get())->processId, 0);
}

}  // namespace dump
