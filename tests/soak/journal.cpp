#include "soak/journal.h"

#include <cstdarg>
#include <cstdio>

#include "soak/soak.h"
#include "uXfer.h"

namespace soak {

namespace {

constexpr size_t kRingSize = 40;
constexpr uint32_t kMemoryBytesAfterRun = VDEV_DEFAULT_MEMORY_BYTES;
constexpr size_t kLogLines = 30;

std::string Format(const char* format, va_list args)
{
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    return text;
}

}  // namespace

Journal journal;

void Journal::Begin(uint64_t number, const char* driver)
{
    std::lock_guard<std::mutex> hold(lock);
    opNumber = number;
    opStart = GetTickCount();
    running = true;
    ring.push_back("#" + std::to_string(number) + " " + driver + ":");
    if (ring.size() > kRingSize)
        ring.pop_front();
}

void Journal::End()
{
    std::lock_guard<std::mutex> hold(lock);
    running = false;
}

void Journal::Append(const std::string& text)
{
    std::lock_guard<std::mutex> hold(lock);
    if (ring.empty())
        ring.push_back("(before the first operation):");
    ring.back() += " " + text;
}

void Journal::Print(const std::string& headline)
{
    std::fprintf(stderr, "\nSOAK FAILURE (seed %u, operation #%llu): %s\nThe last operations:\n", seed,
                 static_cast<unsigned long long>(opNumber), headline.c_str());
    for (const std::string& line : ring)
        std::fprintf(stderr, "  %s\n", line.c_str());
    std::fprintf(stderr, "Replay: soak.exe --seed %u --ops %llu\n", seed, static_cast<unsigned long long>(opNumber + 1));
    std::fflush(stderr);
}

void RestoreDevice(vdev::Device& device)
{
    device.Reset();
    device.SetMemorySize(kMemoryBytesAfterRun);
    uSetInstance(0);
    uSetDelay(100);
}

void EndWithFailure(const std::string& headline)
{
    journal.Print(headline);
    vdev::Device device;
    if (device.Open(0))
        RestoreDevice(device);
    // Threads may be blocked in the device: end without running the modules' teardown.
    TerminateProcess(GetCurrentProcess(), 1);
    for (;;) {
    }
}

void Context::Note(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    journal.Append(Format(format, args));
    va_end(args);
}

// The headline, then the last records of the operation's log: what the judgement rested on.
std::string WithLog(Context& ctx, std::string text)
{
    const std::vector<VdevLogRecord> log = ctx.device.Log(ctx.OpMark());
    text += "\nThe device's log of the operation (" + std::to_string(log.size()) + " records):";
    for (size_t i = log.size() > kLogLines ? log.size() - kLogLines : 0; i < log.size(); ++i)
        text += "\n    " + vdev::Describe(log[i]);
    return text;
}

void Context::Fail(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = Format(format, args);
    va_end(args);
    EndWithFailure(WithLog(*this, text));
}

void Context::Expect(bool holds, const char* format, ...)
{
    if (holds)
        return;
    va_list args;
    va_start(args, format);
    std::string text = Format(format, args);
    va_end(args);
    EndWithFailure(WithLog(*this, text));
}

}  // namespace soak
