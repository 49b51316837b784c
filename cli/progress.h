// The progress line of a read, write or compare on standard error,
// "\r 45%  12.3 MiB/s  0:03 left", told the operation's progress.
#pragma once

#include <cstdint>
#include <string>

namespace cli {

struct CommonOptions;

// Standard error is a console, or --progress asks (`asked`); never with
// --quiet or --json.
bool ProgressWanted(const CommonOptions& common, bool asked);

class ProgressLine {
public:
    explicit ProgressLine(bool shown);
    // Ends the line once one was drawn.
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // `done` of `total` bytes.
    void Update(uint64_t done, uint64_t total);

private:
    void Draw(uint64_t done, uint64_t total);

    bool shown_;
    bool drawn_ = false;
    static constexpr uint64_t frequency_ = 1000000;  // ticks a second
    uint64_t start_;                                 // ticks
    uint64_t lastDrawn_ = 0;
    size_t widest_ = 0;       // a shorter line blanks what the longer one left
};

}  // namespace cli
