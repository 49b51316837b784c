#include "files.h"

#include <algorithm>
#include <cstdio>

#include "cancel.h"
#include "errors.h"
#include "output.h"
#include "platform.h"

namespace cli {

namespace {

const char kTempPrefix[] = "uxf";
// A hex dump is made and written a slice at a time: its text is about five
// times the bytes.  A multiple of the 16 bytes of a line.
constexpr uint32_t kHexSlice = 64u << 10;

}  // namespace

int DumpOutput::Prepare(const std::string& file)
{
    if (file == "-")
        return kExitOk;
    file_ = std::make_unique<ops::DumpFile>(kTempPrefix);
    return Exit(file_->Prepare(SystemPath(file), file));
}

bool DumpOutput::Append(const uint8_t* data, uint32_t bytes)
{
    if (file_)
        return file_->Append(data, bytes);
    std::fflush(stdout);
    if (!hex_)
        return ops::WriteStandardOutput(data, bytes);
    for (uint32_t done = 0; done < bytes;) {
        const uint32_t slice = std::min(bytes - done, kHexSlice);
        const std::string text = HexDump(hexAddr_, data + done, slice, raw_);
        if (!ops::WriteStandardOutput(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size())))
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
    return Exit(ops::OpenFileSource(SystemPath(file), file, source));
}

}  // namespace cli
