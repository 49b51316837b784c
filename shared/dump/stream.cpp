#include "dump/stream.h"

#include "dump/wire.h"

namespace dump {

namespace {

// Stored a few chunks at a time: fewer calls to the file system, and the wire
// bytes still in the processor's cache when they are converted.
constexpr uint32_t kStoreStep = 128u << 10;

}  // namespace

void DumpStream::Received(uint32_t bytes)
{
    received_ = bytes < wireBytes_ - received_ ? received_ + bytes : wireBytes_;
    if (!sink_.Streams() || failed_ || received_ - stored_ < kStoreStep)
        return;
    if (!Store(received_)) {
        error_ = GetLastError();
        failed_ = true;
    }
}

bool DumpStream::Finish(DWORD& error)
{
    if (!failed_ && !Store(wireBytes_)) {
        error_ = GetLastError();
        failed_ = true;
    }
    error = error_;
    return !failed_;
}

bool DumpStream::Store(uint32_t to)
{
    uint32_t first = stored_, end = to;
    if (!raw_) {
        first /= 2;
        end /= 2;
        DumpInPlace(wire_, first, end);
    }
    stored_ = to;
    return first == end || sink_.Append(wire_ + first, end - first);
}

}  // namespace dump
