// The store of a read: the wire image is converted and handed to the dump's
// sink as it arrives, so that little is left to do once the last chunk is in.
//
// The library reads the whole range into one buffer, a chunk at a time, and
// reports each chunk with a progress message on the transfer's own thread,
// between two chunks.  There the chunk is converted in place (dump byte i is
// wire byte 2i: it lands at or before its wire byte, never past the bytes
// received) and appended to a sink that streams.  The work stays on the
// transfer's thread: converting bytes just received is cheap, and a thread of
// its own would cost the process most of a megabyte, more than a read may hold
// beyond its wire image.  A sink that doesn't stream gets the dump only once
// the whole transfer succeeded.
#pragma once

#include <windows.h>

#include <cstdint>

namespace dump {

// Where a dump's bytes go.
class DumpSink {
public:
    virtual ~DumpSink() = default;
    // False: nothing is appended before the whole dump is in.
    virtual bool Streams() const = 0;
    // Adds `bytes` of the dump; on failure the last error says why.
    virtual bool Append(const uint8_t* data, uint32_t bytes) = 0;
};

class DumpStream {
public:
    // `wire`: the transfer's buffer of `wireBytes`; raw: stored as it is.
    DumpStream(DumpSink& sink, uint8_t* wire, uint32_t wireBytes, bool raw)
        : sink_(sink), wire_(wire), wireBytes_(wireBytes), raw_(raw)
    {
    }

    // The next `bytes` wire bytes are in the buffer.
    void Received(uint32_t bytes);
    // After the whole transfer succeeded: stores the rest.  False: an append
    // failed, `error` says why.
    bool Finish(DWORD& error);

private:
    // Converts and appends wire bytes [stored_, to).
    bool Store(uint32_t to);

    DumpSink& sink_;
    uint8_t* wire_;
    uint32_t wireBytes_;
    bool raw_;
    uint32_t received_ = 0;  // wire bytes in the buffer
    uint32_t stored_ = 0;    // of them, converted and appended
    bool failed_ = false;    // an append failed, for error_: nothing more is stored
    DWORD error_ = 0;
};

}  // namespace dump
