#include "files.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "cancel.h"
#include "dump/file.h"
#include "errors.h"
#include "win/text.h"
#include "output.h"

namespace cli {

namespace {

const char kTempPrefix[] = "uxf";
// A hex dump is made and written a slice at a time: its text is about five
// times the bytes.  A multiple of the 16 bytes of a line.
constexpr uint32_t kHexSlice = 64u << 10;

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
    if (file == "-")
        return kExitOk;
    file_ = std::make_unique<ops::DumpFile>(kTempPrefix);
    return Exit(file_->Prepare(win::Widen(file, CP_UTF8), file));
}

bool DumpOutput::Append(const uint8_t* data, uint32_t bytes)
{
    if (file_)
        return file_->Append(data, bytes);
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

ops::Error DumpOutput::WriteFailed(ops::SystemError error) const
{
    if (file_)
        return file_->WriteFailed(error);
    return ops::Fail(ops::Kind::File, "can't write the dump to standard output (" + SystemErrorText(error) + ")");
}

ops::Error DumpOutput::Finish()
{
    return file_ ? file_->Finish() : ops::Error{};
}

int OpenSource(const std::string& file, std::optional<uint64_t> needed, std::unique_ptr<ops::Source>& source)
{
    if (file == "-") {
        const ConsoleBreak::InputRead reading;
        return Exit(ops::OpenStdinSource(source, needed, ConsoleBreak::Requested));
    }
    return Exit(ops::OpenFileSource(win::Widen(file, CP_UTF8), file, source));
}

}  // namespace cli
