#include "dump_stream.h"

#include "dump/wire.h"
#include "errors.h"

namespace cli {

namespace {

// Stored a few chunks at a time: fewer calls to the file system, and the wire
// bytes still in the processor's cache when they are converted.
constexpr uint32_t kStoreStep = 128u << 10;

}  // namespace

void DumpStream::Received(uint32_t bytes)
{
    received_ = bytes < wireBytes_ - received_ ? received_ + bytes : wireBytes_;
    // Standard output waits for the whole dump.
    if (!output_.ToFile() || failed_ || received_ - stored_ < kStoreStep)
        return;
    if (!Store(received_)) {
        error_ = GetLastError();
        failed_ = true;
    }
}

int DumpStream::Finish()
{
    if (failed_)
        return output_.WriteFailed(error_);
    if (!Store(wireBytes_))
        return output_.WriteFailed(GetLastError());
    return output_.Commit();
}

bool DumpStream::Store(uint32_t to)
{
    uint32_t first = stored_, end = to;
    if (!raw_) {
        first /= 2;
        end /= 2;
        dump::DumpInPlace(wire_, first, end);
    }
    stored_ = to;
    return first == end || output_.Append(wire_ + first, end - first);
}

}  // namespace cli
