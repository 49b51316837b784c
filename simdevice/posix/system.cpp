// The store's system calls on POSIX systems: descriptors and mmap, flock on
// the folder's lock file (which the kernel gives back when its holder dies),
// and waiters that look again every few milliseconds instead of a wake: no
// object that every process can wait on outlives them all here.
#include "sim/system.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "sim/store.h"

namespace sim {

namespace {

constexpr auto kLockPoll = std::chrono::milliseconds(1);
constexpr uint32_t kWakePollMs = 5;
constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

std::string Variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

SettingsStamp StampOfStat(const struct stat& info)
{
    // The time alone misses a rewrite within the file system's tick: size and
    // file number join it.
    uint64_t hash = 1469598103934665603ull;
    for (uint64_t part : {static_cast<uint64_t>(info.st_mtim.tv_sec), static_cast<uint64_t>(info.st_mtim.tv_nsec),
                          static_cast<uint64_t>(info.st_size), static_cast<uint64_t>(info.st_ino)}) {
        hash ^= part;
        hash *= 1099511628211ull;
    }
    hash += hash == 0;  // zero is no file
    return SettingsStamp{static_cast<uint32_t>(hash), static_cast<uint32_t>(hash >> 32)};
}

int OpenShared(const Path& path)
{
    int fd;
    do
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kFileMode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

Path DefaultFolder()
{
    const std::string folder = Variable("UXFERSIM_HOME");
    if (!folder.empty())
        return folder;
    // A relative XDG_STATE_HOME is to be ignored.
    const std::string state = Variable("XDG_STATE_HOME");
    if (!state.empty() && state[0] == '/')
        return state + "/uxfer-sim";
    std::string home = Variable("HOME");
    if (home.empty())
        if (const passwd* user = getpwuid(getuid()))
            home = user->pw_dir;
    return home + "/.local/state/uxfer-sim";
}

namespace sys {

std::string LastError()
{
    return std::strerror(errno);
}

bool MakeFolder(const Path& folder)
{
    // The folders on the way too: ~/.local/state need not be there yet.
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (mkdir(part.c_str(), kFolderMode) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            return true;
    }
}

Path InFolder(const Path& folder, const std::string& name)
{
    return folder + "/" + name;
}

std::string Text(const Path& path)
{
    return path;
}

bool ReadSettings(const Path& path, uint64_t limit, std::string& text, SettingsStamp& stamp)
{
    Descriptor file;
    file.reset(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info;
    if (!file || fstat(file.get(), &info) != 0)
        return false;
    stamp = StampOfStat(info);
    text.assign(static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(info.st_size), limit)), '\0');
    size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = read(file.get(), &text[got], text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    text.resize(got);
    return true;
}

SettingsStamp StampOf(const Path& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? StampOfStat(info) : SettingsStamp{};
}

uint32_t ThisProcess()
{
    return static_cast<uint32_t>(getpid());
}

bool ProcessEnded(uint32_t id)
{
    return kill(static_cast<pid_t>(id), 0) != 0 && errno == ESRCH;
}

void Descriptor::reset(int fd)
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = fd;
}

bool File::Open(const Path& path)
{
    fd_.reset(OpenShared(path));
    return IsOpen();
}

bool File::IsOpen() const
{
    return static_cast<bool>(fd_);
}

void File::Close()
{
    fd_.reset();
}

uint64_t File::Size() const
{
    struct stat info;
    return fstat(fd_.get(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

bool File::SetSize(uint64_t bytes)
{
    int result;
    do
        result = ftruncate(fd_.get(), static_cast<off_t>(bytes));
    while (result != 0 && errno == EINTR);
    return result == 0;
}

void File::MakeSparse()
{
    // Every file grown by ftruncate is, where the file system can.
}

bool File::Map()
{
    // Views come from the descriptor itself.
    return IsOpen();
}

void File::Unmap() {}

bool View::Map(File& file, uint64_t offset, uint32_t bytes)
{
    Reset();
    void* data = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, file.fd_.get(), static_cast<off_t>(offset));
    if (data == MAP_FAILED)
        return false;
    data_ = data;
    bytes_ = bytes;
    return true;
}

void View::Reset()
{
    if (data_)
        munmap(data_, bytes_);
    data_ = nullptr;
    bytes_ = 0;
}

void* View::get() const
{
    return data_;
}

bool Hold::held() const
{
    return lock_ != nullptr;
}

void Hold::Release()
{
    if (lock_)
        lock_->Release();
    lock_ = nullptr;
}

bool Lock::Open(const Path& folder)
{
    file_.reset(OpenShared(InFolder(folder, "lock")));
    return static_cast<bool>(file_);
}

Lock::Taken Lock::Take(uint32_t ms, Hold& hold)
{
    hold.Release();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    if (!threads_.try_lock_until(deadline))
        return kTimedOut;
    for (;;) {
        if (flock(file_.get(), LOCK_EX | LOCK_NB) == 0) {
            hold.lock_ = this;
            return kTaken;
        }
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
            threads_.unlock();
            errno = error;
            return error == EWOULDBLOCK ? kTimedOut : kFailed;
        }
        std::this_thread::sleep_for(kLockPoll);
    }
}

void Lock::Release()
{
    flock(file_.get(), LOCK_UN);
    threads_.unlock();
}

bool Wake::Open(const Path&)
{
    return true;
}

void Wake::Set() {}

void Wake::Wait(uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, kWakePollMs)));
}

}  // namespace sys

}  // namespace sim
