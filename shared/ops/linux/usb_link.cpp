#include "ops/usb_link.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "dump/dump_requests.h"
#include "dump/results.h"

namespace ops {

namespace {

// A request's wire bytes: a 32-bit length of whole 2-word units.
constexpr uint64_t kMostRequest = 0xFFFFFFFCull;

}  // namespace

UsbLink::~UsbLink()
{
    {
        const std::lock_guard<std::mutex> lock(guard_);
        ending_ = true;
    }
    ended_.notify_all();
    if (timer_.joinable())
        timer_.join();
}

Link::Claim UsbLink::Lock(int64_t, const std::function<void(const std::string&)>&, std::string&)
{
    // The claimed interface is the lock: the open had it.
    return Claim::Held;
}

Error UsbLink::Open(uint32_t)
{
    return {};
}

bool UsbLink::StartTimer(uint32_t seconds, std::string& problem)
{
    if (seconds == 0 || timer_.joinable())
        return true;
    try {
        timer_ = std::thread([this, seconds] {
            std::unique_lock<std::mutex> lock(guard_);
            if (!ended_.wait_for(lock, std::chrono::seconds(seconds), [this] { return ending_; })) {
                timedOut_ = true;
                link_.Cancel();
            }
        });
    } catch (const std::system_error& error) {
        problem = error.what();
        return false;
    }
    return true;
}

uint64_t UsbLink::Reserve(uint64_t wireBytes, std::string&)
{
    // The link streams through a buffer of its own: any request fits.
    return std::min(std::max<uint64_t>(wireBytes, 2), kMostRequest);
}

Outcome UsbLink::OutcomeOf(const usblink::Result& result, uint32_t count) const
{
    Outcome outcome;
    outcome.count = count;
    switch (result.code) {
    case usblink::Code::Ok:
        break;
    case usblink::Code::NoMemory:
        outcome.result = dump::kResultNoMemory;
        break;
    case usblink::Code::OpenFailed:
        outcome.result = dump::kResultOpenFailed;
        break;
    case usblink::Code::Cancelled: {
        outcome.result = dump::kResultIoFailed;
        const std::lock_guard<std::mutex> lock(guard_);
        outcome.stop = timedOut_ ? Stop::TimedOut : Stop::Cancelled;
        break;
    }
    case usblink::Code::IoFailed:
    case usblink::Code::Timeout:
        outcome.result = dump::kResultIoFailed;
        break;
    }
    return outcome;
}

Outcome UsbLink::Move(bool read, uint32_t addr, uint32_t bytes, uint32_t mode, const Blocks& blocks, Error& failure)
{
    const auto request = dump::DeviceDescOf<usblink::Request>(addr, bytes / 2, mode);
    uint32_t count = 0;
    usblink::Result result;
    if (read) {
        result = link_.Read(
            request,
            [&](const usblink::Chunk& chunk) {
                blocks.advanced(chunk.size);
                failure = blocks.take(chunk.data, chunk.size);
                return !failure;
            },
            count);
    } else {
        // A chunk has gone when the next is asked for, or the write returned.
        uint32_t told = 0;
        result = link_.Write(
            request,
            [&](const usblink::Chunk& chunk) {
                if (chunk.offset > told) {
                    blocks.advanced(chunk.offset - told);
                    told = chunk.offset;
                }
                failure = blocks.fill(chunk.data, chunk.size);
                return !failure;
            },
            count);
        if (count > told)
            blocks.advanced(count - told);
    }
    Outcome outcome = OutcomeOf(result, count);
    // A block's failure is the request's; the stop it made is not a cancel.
    if (failure)
        outcome.stop = Stop::None;
    return outcome;
}

Outcome UsbLink::ResetCommand()
{
    auto request = dump::ResetCommandDescOf<usblink::Request>();
    uint32_t count = 0;
    const usblink::Result result = link_.DebugWrite(request, dump::kResetCommand, count);
    return OutcomeOf(result, count);
}

Outcome UsbLink::Verify(uint32_t addr, uint32_t words, uint32_t mode, uint8_t (&value)[4])
{
    return OutcomeOf(link_.Verify(dump::DeviceDescOf<usblink::Request>(addr, words, mode), value), 4);
}

Outcome UsbLink::Status(uint8_t (&status)[8])
{
    uint32_t count = 0;
    const usblink::Result result = link_.Status(status, count);
    return OutcomeOf(result, count);
}

}  // namespace ops
