// The progress line of a read or write on standard error,
// "\r 45%  12.3 MiB/s  0:03 left", driven by the library's progress messages
// (dump/chunk_messages.h).
#pragma once

#include <cstdint>
#include <functional>

#include "dump/chunk_messages.h"

namespace cli {

struct CommonOptions;

// Standard error is a console, or --progress asks (`asked`); never with
// --quiet or --json.
bool ProgressWanted(const CommonOptions& common, bool asked);

class ProgressLine {
public:
    // Told the bytes of each chunk as it is moved.
    using ChunkHandler = std::function<void(uint32_t bytes)>;

    // `total`: wire bytes of the transfer.  Neither shown nor a handler:
    // nothing is set up.
    ProgressLine(bool shown, uint32_t total, ChunkHandler onChunk = nullptr);
    // Ends the line, and tells the library to stop sending.
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

private:
    void Advance(uint32_t bytes);
    void Draw();

    dump::ChunkMessages messages_;
    bool shown_;
    ChunkHandler onChunk_;
    bool attached_ = false;
    uint32_t total_;
    uint64_t done_ = 0;
    uint64_t start_;          // performance counter ticks
    uint64_t frequency_;
    uint64_t lastDrawn_ = 0;  // ticks
    size_t widest_ = 0;       // a shorter line blanks what the longer one left
};

}  // namespace cli
