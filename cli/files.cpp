#include "files.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "errors.h"

namespace uxfer {

namespace {

const char kTempPrefix[] = "uxf";
constexpr DWORD kStdinChunk = 1u << 20;

bool WriteAll(HANDLE handle, const uint8_t* data, uint32_t bytes)
{
    while (bytes > 0) {
        DWORD moved = 0;
        if (!WriteFile(handle, data, bytes, &moved, nullptr) || moved == 0)
            return false;
        data += moved;
        bytes -= moved;
    }
    return true;
}

}  // namespace

std::string FullPath(const std::string& path)
{
    const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return path;
    std::string full(needed, '\0');
    const DWORD length = GetFullPathNameA(path.c_str(), needed, &full[0], nullptr);
    full.resize(length < needed ? length : 0);
    return full.empty() ? path : full;
}

bool FileExists(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

DumpOutput::~DumpOutput()
{
    file_.Close();
    if (!temp_.empty())
        CFile::Remove(temp_);
}

int DumpOutput::Prepare(const std::string& file)
{
    name_ = file;
    if (file == "-") {
        toStdout_ = true;
        return kExitOk;
    }
    path_ = FullPath(file);
    const DWORD attributes = GetFileAttributesA(path_.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return Fail(kExitFile, "can't write the dump to " + name_ + ": it is a folder; give a file name");
        CFile existing;
        if (!existing.Open(path_, CFile::modeWrite))
            return Fail(kExitFile, "can't replace " + name_ + " (" + SystemErrorText(GetLastError()) +
                                       "); is it read-only or open in another program?");
    }
    const size_t slash = path_.find_last_of('\\');
    const std::string folder = slash == std::string::npos ? "." : path_.substr(0, slash + 1);
    char temp[MAX_PATH] = {};
    if (!GetTempFileNameA(folder.c_str(), kTempPrefix, 0, temp))
        return Fail(kExitFile, "can't create a file in the folder " + folder + " (" +
                                   SystemErrorText(GetLastError()) + "); does it exist, and may you write there?");
    temp_ = temp;
    if (!file_.Open(temp_, CFile::modeCreate | CFile::modeWrite))
        return Fail(kExitFile, "can't open the temporary file " + temp_ + " (" + SystemErrorText(GetLastError()) +
                                   ")");
    return kExitOk;
}

int DumpOutput::Store(const uint8_t* data, uint32_t bytes)
{
    if (toStdout_) {
        std::fflush(stdout);
        if (!WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), data, bytes))
            return Fail(kExitFile, "can't write the dump to standard output (" + SystemErrorText(GetLastError()) +
                                       ")");
        return kExitOk;
    }
    if (!file_.Write(data, bytes) || !file_.Flush())
        return Fail(kExitFile, "can't write the dump to " + temp_ + " (" + SystemErrorText(GetLastError()) +
                                   "); is the disk full?");
    file_.Close();
    if (!MoveFileExA(temp_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return Fail(kExitFile, "can't put the dump in place of " + name_ + " (" + SystemErrorText(GetLastError()) +
                                   ")");
    temp_.clear();
    return kExitOk;
}

int WriteSource::Open(const std::string& file, uint64_t& length)
{
    name_ = file;
    if (file == "-") {
        fromStdin_ = true;
        const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
        for (;;) {
            const size_t used = stdinData_.size();
            stdinData_.resize(used + kStdinChunk);
            DWORD moved = 0;
            const BOOL ok = ReadFile(in, stdinData_.data() + used, kStdinChunk, &moved, nullptr);
            stdinData_.resize(used + (ok ? moved : 0));
            if (!ok) {
                // The writer closing its end of a pipe is the end of the data.
                if (GetLastError() == ERROR_BROKEN_PIPE)
                    break;
                return Fail(kExitFile, "can't read standard input (" + SystemErrorText(GetLastError()) + ")");
            }
            if (moved == 0)
                break;
        }
        length = stdinData_.size();
        return kExitOk;
    }
    path_ = FullPath(file);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &data))
        return Fail(kExitFile, "can't read " + name_ + " (" + SystemErrorText(GetLastError()) +
                                   "); does the file exist?");
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return Fail(kExitFile, "can't read " + name_ + ": it is a folder; give a file name");
    length = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    // Opened now, so that an unreadable file is reported before the device is touched.
    if (!file_.Open(path_, CFile::modeRead))
        return Fail(kExitFile, "can't read " + name_ + " (" + SystemErrorText(GetLastError()) + ")");
    return kExitOk;
}

int WriteSource::ReadInto(uint8_t* buffer, uint32_t bytes)
{
    if (fromStdin_) {
        std::memcpy(buffer, stdinData_.data(), bytes);
        std::vector<uint8_t>().swap(stdinData_);
        return kExitOk;
    }
    uint32_t got = 0;
    if (!file_.Read(buffer, bytes, got) || got != bytes)
        return Fail(kExitFile, "can't read " + name_ + " (" + SystemErrorText(GetLastError()) + ")");
    return kExitOk;
}

}  // namespace uxfer
