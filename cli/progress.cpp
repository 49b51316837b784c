#include "progress.h"

#include <cstdio>
#include <string>

#include "options.h"

namespace cli {

namespace {

uint64_t Ticks()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart);
}

}  // namespace

bool ProgressWanted(const CommonOptions& common, bool asked)
{
    if (common.quiet || common.json)
        return false;
    DWORD mode = 0;
    return asked || GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode);
}

ProgressLine::ProgressLine(bool shown, uint32_t total, ChunkHandler onChunk)
    : shown_(shown && total > 0), onChunk_(std::move(onChunk)), total_(total), start_(Ticks())
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    frequency_ = static_cast<uint64_t>(frequency.QuadPart);
    if (!shown_ && !onChunk_)
        return;
    attached_ = messages_.Attach([this](uint32_t bytes) { Advance(bytes); });
    if (attached_ && shown_)
        Draw();
}

ProgressLine::~ProgressLine()
{
    if (!attached_ || !shown_)
        return;
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void ProgressLine::Advance(uint32_t bytes)
{
    if (onChunk_)
        onChunk_(bytes);
    if (!shown_)
        return;
    done_ += bytes;
    // A few times a second, and the end: drawing costs far more than a chunk.
    if (done_ >= total_ || Ticks() - lastDrawn_ >= frequency_ / 4)
        Draw();
}

void ProgressLine::Draw()
{
    const uint64_t now = Ticks();
    lastDrawn_ = now;
    const int percent = static_cast<int>(done_ * 100 / total_);
    const double seconds = static_cast<double>(now - start_) / static_cast<double>(frequency_);
    const double rate = seconds > 0 ? static_cast<double>(done_) / seconds : 0;
    const uint64_t left = done_ >= total_ ? 0 : total_ - done_;
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
