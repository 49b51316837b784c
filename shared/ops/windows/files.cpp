#include "ops/files.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "dump/file.h"
#include "win/text.h"
#include "win/unique_any.h"

#include "scratch_of.h"

namespace ops {

namespace {

const wchar_t kScratchPrefix[] = L"uxs";
constexpr DWORD kStdinSlice = 1u << 20;

std::string ErrorText(DWORD error = GetLastError())
{
    return win::SystemErrorText(error);
}

// A file nobody else sees, in the user's temporary folder, that goes away
// when it is closed or the process ends.
Error CreateScratchFile(win::unique_file& file)
{
    wchar_t folder[MAX_PATH + 1];
    wchar_t path[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH || !GetTempFileNameW(folder, kScratchPrefix, 0, path))
        return Fail(Kind::File, "can't make a scratch file in the temporary folder (" + ErrorText() + ")");
    file.reset(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        DeleteFileW(path);
        return Fail(Kind::File, "can't make a scratch file in the temporary folder (" + ErrorText(error) + ")");
    }
    return {};
}

class FileSource : public Source {
public:
    FileSource(win::unique_file file, std::string name, uint64_t length) : file_(std::move(file))
    {
        name_ = std::move(name);
        length_ = length;
    }
    bool Read(uint8_t* buffer, uint32_t bytes) override
    {
        uint32_t got = 0;
        if (!dump::ReadAll(file_.get(), buffer, bytes, got))
            return false;
        if (got != bytes) {
            // The file got shorter since it was opened.
            SetLastError(ERROR_HANDLE_EOF);
            return false;
        }
        return true;
    }
    bool Rewind() override
    {
        LARGE_INTEGER start = {};
        return SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN);
    }

    bool Write(const uint8_t* data, uint32_t bytes) { return dump::WriteAll(file_.get(), data, bytes); }

private:
    win::unique_file file_;
};

}  // namespace

SystemError LastSystemError()
{
    return GetLastError();
}

std::string SystemErrorText(SystemError error)
{
    return ErrorText(error);
}

bool WriteStandardOutput(const uint8_t* data, uint32_t bytes)
{
    return dump::WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), data, bytes);
}

Error CreateScratch(std::unique_ptr<Scratch>& scratch)
{
    win::unique_file file;
    if (Error error = CreateScratchFile(file))
        return error;
    scratch = std::make_unique<ScratchOf<FileSource, win::unique_file>>(std::move(file));
    return {};
}

Error CheckName(const Path& path, const std::string& name)
{
    const std::string problem = dump::NameProblem(path);
    if (problem.empty())
        return {};
    // A NUL would end the sentence wherever it is shown: it is spelt out.
    std::string shown;
    for (const char c : name)
        shown += c ? std::string(1, c) : std::string("\\0");
    return Fail(Kind::File, "can't use " + shown + ": " + problem);
}

Error OpenFileSource(const Path& path, const std::string& name, std::unique_ptr<Source>& source)
{
    if (Error error = CheckName(path, name))
        return error;
    win::unique_file file;
    uint64_t length = 0;
    std::string problem;
    if (!dump::OpenSource(win::FullPath(path), name, file, length, problem))
        return Fail(Kind::File, problem);
    source = std::make_unique<FileSource>(std::move(file), name, length);
    return {};
}

Error OpenStdinSource(std::unique_ptr<Source>& source, std::optional<uint64_t> most,
                      const std::function<bool()>& stopped)
{
    win::unique_file scratch;
    if (Error error = CreateScratchFile(scratch))
        return error;
    const std::unique_ptr<uint8_t[]> slice(new (std::nothrow) uint8_t[kStdinSlice]);
    if (!slice)
        return Fail(Kind::NoMemory, "not enough memory to read standard input");
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    uint64_t length = 0;
    while (!most || length < *most) {
        const DWORD wanted = static_cast<DWORD>(std::min<uint64_t>(kStdinSlice, most ? *most - length : kStdinSlice));
        DWORD moved = 0;
        const bool read = ReadFile(in, slice.get(), wanted, &moved, nullptr);
        const DWORD error = GetLastError();
        // A read cut short by the user's stop ends in some error; the stop is what counts.
        if (stopped())
            return Fail(Kind::Cancelled, "cancelled while reading standard input");
        if (!read) {
            // The writer closing its end of a pipe is the end of the data.
            if (error == ERROR_BROKEN_PIPE)
                break;
            return Fail(Kind::File, "can't read standard input (" + ErrorText(error) + ")");
        }
        if (moved == 0)
            break;
        if (!dump::WriteAll(scratch.get(), slice.get(), moved))
            return Fail(Kind::File, "can't keep standard input in a scratch file (" + ErrorText() +
                                        "); is the disk full?");
        length += moved;
    }
    auto spooled = std::make_unique<FileSource>(std::move(scratch), "standard input", length);
    if (!spooled->Rewind())
        return Fail(Kind::File, "can't read standard input back from its scratch file (" + ErrorText() + ")");
    source = std::move(spooled);
    return {};
}

namespace {
// Made before the replacement file, which keeps a pointer to its text.
struct WidePrefix {
    std::wstring text;
};
}  // namespace

class DumpFile::Target : private WidePrefix, public dump::ReplacementFile {
public:
    Target(const std::wstring& target, const char* prefix)
        : WidePrefix{win::Widen(prefix, CP_UTF8)}, ReplacementFile(target, text.c_str())
    {
    }
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
    const std::wstring full = win::FullPath(path);
    switch (dump::CheckReplaceable(full)) {
    case dump::ReplaceCheck::Ok:
        break;
    case dump::ReplaceCheck::Folder:
        return Fail(Kind::File, "can't write the dump to " + name + ": it is a folder; give a file name");
    case dump::ReplaceCheck::Held:
        return Fail(Kind::File,
                    "can't replace " + name + " (" + ErrorText() + "); is it read-only or open in another program?");
    }
    file_ = std::make_unique<Target>(full, tempPrefix_);
    if (!file_->Open())
        return Fail(Kind::File, "can't create a file beside " + name + " (" + ErrorText() +
                                    "); does its folder exist, and may you write there?");
    return {};
}

Error DumpFile::WriteFailed(SystemError error) const
{
    return Fail(Kind::File, "can't write the dump to " + win::Narrow(win::ShownPath(file_->Path()), CP_UTF8) + " (" +
                                ErrorText(error) + "); is the disk full?");
}

Error DumpFile::Finish()
{
    if (!file_->Commit())
        return Fail(Kind::File, "can't put the dump in place of " + name_ + " (" + ErrorText() + ")");
    return {};
}

}  // namespace ops
