// The files of the dump operations on POSIX systems: descriptors, a scratch
// file unlinked as soon as it is made, and a dump file made beside its target
// and renamed over it once it is complete and on disk.
#include "ops/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "scratch_of.h"

namespace ops {

namespace {

constexpr uint32_t kStdinSlice = 1u << 20;

std::string ErrorText(int error = errno)
{
    return SystemErrorText(static_cast<SystemError>(error));
}

// One owner of a descriptor.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Descriptor& operator=(Descriptor&&) = delete;
    void reset(int fd)
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Closes it now; false (errno) when the close reports a failed write.
    bool Close()
    {
        const int fd = fd_;
        fd_ = -1;
        return close(fd) == 0;
    }

private:
    int fd_;
};

bool WriteAll(int fd, const uint8_t* data, uint64_t bytes)
{
    while (bytes > 0) {
        const ssize_t put = write(fd, data, std::min<uint64_t>(bytes, 1u << 30));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data += put;
        bytes -= static_cast<uint64_t>(put);
    }
    return true;
}

// Reads up to `bytes`; `got` short of it only at the end of the file.
bool ReadAll(int fd, uint8_t* buffer, uint32_t bytes, uint32_t& got)
{
    got = 0;
    while (got < bytes) {
        const ssize_t read = ::read(fd, buffer + got, bytes - got);
        if (read < 0 && errno == EINTR)
            continue;
        if (read < 0)
            return false;
        if (read == 0)
            break;
        got += static_cast<uint32_t>(read);
    }
    return true;
}

class FileSource : public Source {
public:
    FileSource(Descriptor file, std::string name, uint64_t length) : file_(std::move(file))
    {
        name_ = std::move(name);
        length_ = length;
    }
    bool Read(uint8_t* buffer, uint32_t bytes) override
    {
        uint32_t got = 0;
        if (!ReadAll(file_.get(), buffer, bytes, got))
            return false;
        if (got != bytes) {
            // The file got shorter since it was opened.
            errno = ENODATA;
            return false;
        }
        return true;
    }
    bool Rewind() override { return lseek(file_.get(), 0, SEEK_SET) == 0; }
    bool Write(const uint8_t* data, uint32_t bytes) { return WriteAll(file_.get(), data, bytes); }

private:
    Descriptor file_;
};

// A file in $TMPDIR (else /tmp) that nobody else sees: unlinked at once.
Error CreateScratchFile(Descriptor& file)
{
    const char* folder = std::getenv("TMPDIR");
    std::string path = std::string(folder && *folder ? folder : "/tmp") + "/uxsXXXXXX";
    file.reset(mkostemp(&path[0], O_CLOEXEC));
    if (!file)
        return Fail(Kind::File, "can't make a scratch file in the temporary folder (" + ErrorText() + ")");
    unlink(path.c_str());
    return {};
}

}  // namespace

SystemError LastSystemError()
{
    return static_cast<SystemError>(errno);
}

std::string SystemErrorText(SystemError error)
{
    return "error " + std::to_string(error) + ": " + std::strerror(static_cast<int>(error));
}

bool WriteStandardOutput(const uint8_t* data, uint32_t bytes)
{
    return WriteAll(STDOUT_FILENO, data, bytes);
}

Error CreateScratch(std::unique_ptr<Scratch>& scratch)
{
    Descriptor file;
    if (Error error = CreateScratchFile(file))
        return error;
    scratch = std::make_unique<ScratchOf<FileSource, Descriptor>>(std::move(file));
    return {};
}

Error CheckName(const Path& path, const std::string& name)
{
    if (!path.empty() && path.find('\0') == std::string::npos)
        return {};
    std::string shown;
    for (const char c : name)
        shown += c ? std::string(1, c) : std::string("\\0");
    return Fail(Kind::File, "can't use " + shown + ": " + (path.empty() ? "the name is empty" : "the name holds a NUL"));
}

Error OpenFileSource(const Path& path, const std::string& name, std::unique_ptr<Source>& source)
{
    if (Error error = CheckName(path, name))
        return error;
    Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info = {};
    if (!file || fstat(file.get(), &info) != 0)
        return Fail(Kind::File, "can't open " + name + " (" + ErrorText() + ")");
    if (S_ISDIR(info.st_mode))
        return Fail(Kind::File, "can't read " + name + ": it is a folder; give a file name");
    source = std::make_unique<FileSource>(std::move(file), name, static_cast<uint64_t>(info.st_size));
    return {};
}

Error OpenStdinSource(std::unique_ptr<Source>& source, std::optional<uint64_t> most,
                      const std::function<bool()>& stopped)
{
    Descriptor scratch;
    if (Error error = CreateScratchFile(scratch))
        return error;
    const std::unique_ptr<uint8_t[]> slice(new (std::nothrow) uint8_t[kStdinSlice]);
    if (!slice)
        return Fail(Kind::NoMemory, "not enough memory to read standard input");
    uint64_t length = 0;
    while (!most || length < *most) {
        const size_t wanted = static_cast<size_t>(std::min<uint64_t>(kStdinSlice, most ? *most - length : kStdinSlice));
        const ssize_t moved = read(STDIN_FILENO, slice.get(), wanted);
        const int error = errno;
        // A read cut short by the user's stop ends in EINTR; the stop is what counts.
        if (stopped())
            return Fail(Kind::Cancelled, "cancelled while reading standard input");
        if (moved < 0 && error == EINTR)
            continue;
        if (moved < 0)
            return Fail(Kind::File, "can't read standard input (" + ErrorText(error) + ")");
        if (moved == 0)
            break;
        if (!WriteAll(scratch.get(), slice.get(), static_cast<uint64_t>(moved)))
            return Fail(Kind::File, "can't keep standard input in a scratch file (" + ErrorText() +
                                        "); is the disk full?");
        length += static_cast<uint64_t>(moved);
    }
    auto spooled = std::make_unique<FileSource>(std::move(scratch), "standard input", length);
    if (!spooled->Rewind())
        return Fail(Kind::File, "can't read standard input back from its scratch file (" + ErrorText() + ")");
    source = std::move(spooled);
    return {};
}

// The temporary file beside the target: renamed over it once complete and
// flushed to disk, removed when it never got there.
class DumpFile::Target {
public:
    Target(std::string target, const char* prefix) : target_(std::move(target))
    {
        const size_t slash = target_.rfind('/');
        const std::string folder = slash == std::string::npos ? std::string() : target_.substr(0, slash + 1);
        path_ = folder + "." + prefix + "XXXXXX";
    }
    ~Target()
    {
        if (!committed_ && file_)
            unlink(path_.c_str());
    }
    bool Open()
    {
        file_.reset(mkostemp(&path_[0], O_CLOEXEC));
        if (!file_)
            return false;
        // The dump keeps the target's permissions, or gets the usual ones.
        struct stat info = {};
        const mode_t mask = umask(0);
        umask(mask);
        const mode_t mode = stat(target_.c_str(), &info) == 0 ? (info.st_mode & 07777) : (0666 & ~mask);
        fchmod(file_.get(), mode);
        return true;
    }
    bool Write(const uint8_t* data, uint32_t bytes) { return WriteAll(file_.get(), data, bytes); }
    bool Commit()
    {
        if (fsync(file_.get()) != 0 || !file_.Close())
            return false;
        if (rename(path_.c_str(), target_.c_str()) != 0) {
            const int error = errno;
            unlink(path_.c_str());
            errno = error;
            return false;
        }
        committed_ = true;
        return true;
    }
    const std::string& Path() const { return path_; }

private:
    std::string target_;
    std::string path_;
    Descriptor file_;
    bool committed_ = false;
};

DumpFile::DumpFile(const char* tempPrefix) : tempPrefix_(tempPrefix) {}

DumpFile::~DumpFile() = default;

bool DumpFile::Append(const uint8_t* data, uint32_t bytes)
{
    return file_->Write(data, bytes);
}

Error DumpFile::Prepare(const Path& path, const std::string& name)
{
    name_ = name;
    if (Error error = CheckName(path, name))
        return error;
    struct stat info = {};
    if (stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return Fail(Kind::File, "can't write the dump to " + name + ": it is a folder; give a file name");
        if (access(path.c_str(), W_OK) != 0)
            return Fail(Kind::File, "can't replace " + name + " (" + ErrorText() +
                                        "); is it read-only or open in another program?");
    }
    file_ = std::make_unique<Target>(path, tempPrefix_);
    if (!file_->Open())
        return Fail(Kind::File, "can't create a file beside " + name + " (" + ErrorText() +
                                    "); does its folder exist, and may you write there?");
    return {};
}

Error DumpFile::WriteFailed(SystemError error) const
{
    return Fail(Kind::File,
                "can't write the dump to " + file_->Path() + " (" + ErrorText(static_cast<int>(error)) + "); is the disk full?");
}

Error DumpFile::Finish()
{
    if (!file_->Commit())
        return Fail(Kind::File, "can't put the dump in place of " + name_ + " (" + ErrorText() + ")");
    return {};
}

}  // namespace ops
