// What the store asks of the system: the folder and its files, a file's bytes
// mapped into memory, the lock that serialises every request of every process,
// the wake of the waiters, and whether a process still runs.  windows/ gives it
// with kernel objects, posix/ with descriptors, flock and mmap.
#pragma once

#include <cstdint>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include "win/unique_any.h"
#else
#include <cstddef>
#include <mutex>
#endif

namespace sim {

// A path as the system's file functions take it.
#ifdef _WIN32
using Path = std::wstring;
#else
using Path = std::string;
#endif

// When devices.ini was last written, as the system marks it; zero for no file.
struct SettingsStamp {
    uint32_t low;
    uint32_t high;
};

namespace sys {

// The reason of the last call that failed, for a sentence.
std::string LastError();

// Makes `folder` where missing; false (LastError) when it can't be.
bool MakeFolder(const Path& folder);
// The file `name` of `folder`.
Path InFolder(const Path& folder, const std::string& name);
// A path as UTF-8 text.
std::string Text(const Path& path);

// devices.ini's text (up to `limit` bytes) and stamp; false when there is none.
bool ReadSettings(const Path& path, uint64_t limit, std::string& text, SettingsStamp& stamp);
SettingsStamp StampOf(const Path& path);

uint32_t ThisProcess();
// The process `id` has ended (or never was).
bool ProcessEnded(uint32_t id);

#ifndef _WIN32
// The one owner of a descriptor.
class Descriptor {
public:
    Descriptor() = default;
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    void reset(int fd = -1);
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};
#endif

// A file that every process opens for reading and writing at once.
class File {
public:
    // Made where missing; false (LastError) when it can't be opened.
    bool Open(const Path& path);
    bool IsOpen() const;
    void Close();
    // 0 when it can't be told.
    uint64_t Size() const;
    bool SetSize(uint64_t bytes);
    // Sparse where the file system can: a large image costs what was written.
    void MakeSparse();
    // Readies views of the file as large as it is now; Unmap drops that, and
    // views already made stay valid.
    bool Map();
    void Unmap();

private:
    friend class View;
#ifdef _WIN32
    win::unique_file file_;
    win::unique_handle mapping_;
#else
    Descriptor fd_;
#endif
};

// `bytes` of a mapped file from `offset` (a multiple of the system's page), for reading and writing.
class View {
public:
    View() = default;
    ~View() { Reset(); }
    View(const View&) = delete;
    View& operator=(const View&) = delete;
    bool Map(File& file, uint64_t offset, uint32_t bytes);
    void Reset();
    void* get() const;
    explicit operator bool() const { return get() != nullptr; }

private:
#ifdef _WIN32
    win::unique_view view_;
#else
    void* data_ = nullptr;
    size_t bytes_ = 0;
#endif
};

class Lock;

// The lock held; given back at the end.
class Hold {
public:
    Hold() = default;
    ~Hold() { Release(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    bool held() const;
    void Release();

private:
    friend class Lock;
#ifdef _WIN32
    win::unique_mutex_hold hold_;
#else
    Lock* lock_ = nullptr;
#endif
};

// The lock of one folder, which every process's requests take in turn.  A
// process that ends while it holds the lock gives it back.
class Lock {
public:
    // False (LastError) when it can't be made.
    bool Open(const Path& folder);
    enum Taken { kTaken, kTimedOut, kFailed };
    // Waits up to `ms`; kFailed with LastError.
    Taken Take(uint32_t ms, Hold& hold);

private:
    friend class Hold;
#ifdef _WIN32
    win::unique_handle mutex_;
#else
    void Release();
    Descriptor file_;
    // flock excludes other descriptions of the file, not the threads that share one.
    std::timed_mutex threads_;
#endif
};

// Wakes the waiters of one folder, in every process.
class Wake {
public:
    bool Open(const Path& folder);
    void Set();
    // Up to `ms`; a waiter looks again after it whether woken or not.
    void Wait(uint32_t ms);

private:
#ifdef _WIN32
    win::unique_handle event_;
#endif
};

}  // namespace sys

}  // namespace sim
