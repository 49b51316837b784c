#include "progress.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "options.h"
#include "platform.h"

namespace cli {

namespace {

// Microseconds of a steady clock.
uint64_t Ticks()
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

}  // namespace

bool ProgressWanted(const CommonOptions& common, bool asked)
{
    if (common.quiet || common.json)
        return false;
    return asked || IsConsole(stderr);
}

ProgressLine::ProgressLine(bool shown) : shown_(shown), start_(Ticks()) {}

ProgressLine::~ProgressLine()
{
    if (!drawn_)
        return;
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void ProgressLine::Update(uint64_t done, uint64_t total)
{
    if (!shown_ || total == 0)
        return;
    // A few times a second, and the end: drawing costs far more than a chunk.
    if (!drawn_ || done >= total || Ticks() - lastDrawn_ >= frequency_ / 4)
        Draw(done, total);
}

void ProgressLine::Draw(uint64_t done, uint64_t total)
{
    const uint64_t now = Ticks();
    drawn_ = true;
    lastDrawn_ = now;
    const int percent = static_cast<int>(done * 100 / total);
    const double seconds = static_cast<double>(now - start_) / static_cast<double>(frequency_);
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    const uint64_t left = done >= total ? 0 : total - done;
    unsigned remaining = 0;
    if (rate > 0)
        remaining = static_cast<unsigned>(static_cast<double>(left) / rate + 0.5);
    char text[96];
    int length = std::snprintf(text, sizeof text, "\r%3d%%  %.1f MiB/s  %u:%02u left", percent,
                               rate / (1024.0 * 1024.0), remaining / 60, remaining % 60);
    std::string line(text, length);
    if (line.size() < widest_)
        line.append(widest_ - line.size(), ' ');
    widest_ = line.size();
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace cli
