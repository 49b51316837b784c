#include "progress.h"

#include <cstdio>
#include <string>

#include "options.h"
#include "uXfer.h"

namespace uxfer {

namespace {

uint64_t Ticks()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart);
}

}  // namespace

bool ProgressWanted(const Options& options)
{
    if (options.quiet || options.json)
        return false;
    DWORD mode = 0;
    return options.progress || GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode);
}

ProgressLine::ProgressLine(bool shown, uint32_t total) : total_(total), start_(Ticks())
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    frequency_ = static_cast<uint64_t>(frequency.QuadPart);
    if (!shown || total == 0)
        return;
    attached_ = window_.Create([this](UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
        if (message != WM_COPYDATA || wParam != XFER_PROGRESS_ID)
            return false;
        Advance(static_cast<uint32_t>(reinterpret_cast<const COPYDATASTRUCT*>(lParam)->dwData));
        result = TRUE;
        return true;
    });
    if (!attached_)
        return;
    uSetMsgWnd(window_.Handle());
    uSetMsgFlag(1);
    Draw();
}

ProgressLine::~ProgressLine()
{
    if (!attached_)
        return;
    uSetMsgFlag(0);
    uSetMsgWnd(nullptr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void ProgressLine::Advance(uint32_t bytes)
{
    done_ += bytes;
    const uint64_t now = Ticks();
    const int percent = static_cast<int>(done_ * 100 / total_);
    // Every percent, and at most a few times a second in between.
    if (percent != lastPercent_ || done_ >= total_ || now - lastDrawn_ >= frequency_ / 4)
        Draw();
}

void ProgressLine::Draw()
{
    const uint64_t now = Ticks();
    lastDrawn_ = now;
    lastPercent_ = static_cast<int>(done_ * 100 / total_);
    const double seconds = static_cast<double>(now - start_) / static_cast<double>(frequency_);
    const double rate = seconds > 0 ? static_cast<double>(done_) / seconds : 0;
    const uint64_t left = done_ >= total_ ? 0 : total_ - done_;
    unsigned remaining = 0;
    if (rate > 0)
        remaining = static_cast<unsigned>(static_cast<double>(left) / rate + 0.5);
    char text[96];
    int length = std::snprintf(text, sizeof text, "\r%3d%%  %.1f MiB/s  %u:%02u left", lastPercent_,
                               rate / (1024.0 * 1024.0), remaining / 60, remaining % 60);
    std::string line(text, length);
    if (line.size() < widest_)
        line.append(widest_ - line.size(), ' ');
    widest_ = line.size();
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace uxfer
