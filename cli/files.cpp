#include "files.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "win/text.h"
#include "errors.h"
#include "output.h"

namespace cli {

namespace {

const wchar_t kTempPrefix[] = L"uxf";
// A hex dump is made and written a slice at a time: its text is about five
// times the bytes.  A multiple of the 16 bytes of a line.
constexpr uint32_t kHexSlice = 64u << 10;
constexpr DWORD kStdinChunk = 1u << 20;

}  // namespace

std::wstring FullPath(const std::string& path)
{
    return win::FullPath(win::Widen(path, CP_UTF8));
}

std::string Shown(const std::wstring& path)
{
    return win::Narrow(win::ShownPath(path), CP_UTF8);
}

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int DumpOutput::Prepare(const std::string& file)
{
    name_ = file;
    if (file == "-")
        return kExitOk;
    const std::wstring path = FullPath(file);
    switch (dump::CheckReplaceable(path)) {
    case dump::ReplaceCheck::Ok:
        break;
    case dump::ReplaceCheck::Folder:
        return Fail(kExitFile, "can't write the dump to " + name_ + ": it is a folder; give a file name");
    case dump::ReplaceCheck::Held:
        return Fail(kExitFile, "can't replace " + name_ + " (" + SystemErrorText(GetLastError()) +
                                   "); is it read-only or open in another program?");
    }
    file_.reset(new dump::ReplacementFile(path, kTempPrefix));
    if (!file_->Open())
        return Fail(kExitFile, "can't create a file beside " + name_ + " (" + SystemErrorText(GetLastError()) +
                                   "); does its folder exist, and may you write there?");
    return kExitOk;
}

bool DumpOutput::Append(const uint8_t* data, uint32_t bytes)
{
    if (file_)
        return file_->Write(data, bytes);
    std::fflush(stdout);
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!hex_)
        return dump::WriteAll(out, data, bytes);
    for (uint32_t done = 0; done < bytes;) {
        const uint32_t slice = std::min(bytes - done, kHexSlice);
        const std::string text = HexDump(hexAddr_, data + done, slice, raw_);
        if (!dump::WriteAll(out, text.data(), static_cast<uint32_t>(text.size())))
            return false;
        hexAddr_ += raw_ ? slice / 2 : slice;
        done += slice;
    }
    return true;
}

int DumpOutput::WriteFailed(DWORD error)
{
    if (!file_)
        return Fail(kExitFile, "can't write the dump to standard output (" + SystemErrorText(error) + ")");
    return Fail(kExitFile, "can't write the dump to " + Shown(file_->Path()) + " (" + SystemErrorText(error) +
                               "); is the disk full?");
}

int DumpOutput::Commit()
{
    if (file_ && !file_->Commit())
        return Fail(kExitFile, "can't put the dump in place of " + name_ + " (" + SystemErrorText(GetLastError()) +
                                   ")");
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
    std::string problem;
    if (!dump::OpenSource(FullPath(file), name_, file_, length, problem))
        return Fail(kExitFile, problem);
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
    if (!dump::ReadAll(file_.get(), buffer, bytes, got) || got != bytes)
        return Fail(kExitFile, "can't read " + name_ + " (" + SystemErrorText(GetLastError()) + ")");
    return kExitOk;
}

}  // namespace cli
