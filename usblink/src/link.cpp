// The vendor protocol, in the order uXfer.dll speaks it: the waits, the
// command blocks and data stages, the chunk loop and its early stop.
#include "usblink/link.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <new>
#include <thread>

#include "transport.h"
#include "usb_protocol.h"

namespace usblink {

namespace {

constexpr uint16_t kStatusValue = 1;
constexpr uint16_t kResetValue = 1;
constexpr uint16_t kStopResetCode = 2;
// Polls a wait gives the device, 10 ms apart: about 10 s.
constexpr uint32_t kMaxStatusPolls = 1000;
constexpr auto kStatusPollInterval = std::chrono::milliseconds(10);
// The device ends a bulk transfer on a short packet; a stop after a chunk
// that filled its last packet needs a zero-length packet (out) or a drained
// packet (in) to leave the pipe on a boundary.
constexpr uint32_t kPacketSize = 64;

std::string Hex(unsigned value)
{
    char text[12];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

Result Failure(Code code, std::string detail)
{
    return Result{code, std::move(detail)};
}

void PutWords(uint8_t* stage, std::initializer_list<uint32_t> words)
{
    unsigned index = 0;
    for (uint32_t word : words)
        StagePutWord(stage, index++, word);
}

template <typename Body>
Result Guarded(Body body)
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}

}  // namespace

Link::Link(const DeviceInfo& device, std::unique_ptr<detail::Transport> transport,
           std::unique_ptr<uint8_t[]> buffer, const Timeouts& timeouts)
    : device_(device), transport_(std::move(transport)), buffer_(std::move(buffer)), timeouts_(timeouts)
{
}

Link::~Link() = default;

Result Link::Control(uint8_t direction, uint8_t request, uint16_t value, uint16_t index, uint8_t* stage,
                     uint16_t size, uint32_t& moved)
{
    VendorCommandBlock block;
    VendorBlockInit(&block, direction, request, value, index, size);
    Result result = transport_->Control(block, stage, timeouts_.controlMs, moved);
    if (!result.ok())
        result.detail = "vendor request " + Hex(request) + ": " + result.detail;
    return result;
}

Result Link::QueryStatus(uint8_t status[8], uint32_t& count)
{
    return Control(VENDOR_DEVICE_TO_HOST, REQ_STATUS, kStatusValue, 0, status, STATUS_STAGE_SIZE, count);
}

Result Link::Refused() const
{
    return Failure(Code::Cancelled, "cancelled before it started; nothing sent");
}

Result Link::Unsendable(const Request& request) const
{
    if (request.unitSize == 0)
        return Failure(Code::IoFailed, "a unit size of 0 gives no unit count; nothing sent");
    return cancel_.load() ? Refused() : Ok();
}

// A cancel ends what the device was doing with the reset a stopped transfer gets.
Result Link::AfterCancel(Result result)
{
    if (result.code != Code::Cancelled)
        return result;
    const Result reset = Reset(kStopResetCode);
    if (!reset.ok())
        result.detail += "; then the reset failed: " + reset.detail;
    return result;
}

Result Link::WaitFor(bool active)
{
    StatusBlock status = {};
    for (uint32_t poll = 0; poll < kMaxStatusPolls; ++poll) {
        if (cancel_.load())
            return AfterCancel(Failure(Code::Cancelled, "cancelled while waiting for the device"));
        std::this_thread::sleep_for(kStatusPollInterval);
        uint32_t count = 0;
        Result result = QueryStatus(status.bytes, count);
        if (!result.ok())
            return result;
        if (status.bytes[0] & STATUS_ERROR)
            return Failure(Code::IoFailed, "the device reports an error (status byte " + Hex(status.bytes[0]) + ")");
        if (((status.bytes[0] & STATUS_ACTIVE) != 0) == active)
            return Ok();
    }
    return Failure(Code::Timeout, active ? "the device did not take the command within 1000 status polls"
                                         : "the device stayed busy through 1000 status polls");
}

Result Link::SendCommand(uint8_t request, uint16_t value, uint16_t index, uint8_t* stage, uint16_t size)
{
    Result result = WaitFor(false);
    if (!result.ok())
        return result;
    uint32_t moved = 0;
    result = Control(VENDOR_HOST_TO_DEVICE, request, value, index, stage, size, moved);
    if (!result.ok())
        return result;
    return WaitFor(true);
}

Result Link::Bulk(bool in, uint8_t* data, uint32_t size, uint32_t& moved)
{
    moved = 0;
    return transport_->Bulk(in, data, size, timeouts_.chunkMs, &cancel_, moved);
}

Result Link::StopEarly(bool in, uint32_t chunk, Result why)
{
    const Result reset = Reset(kStopResetCode);
    if (!reset.ok()) {
        why.detail += "; then the reset failed: " + reset.detail;
        return why;
    }
    if (chunk % kPacketSize == 0) {
        // Whatever comes of it: the pipe is given its chance to realign.
        uint32_t moved = 0;
        transport_->Bulk(in, buffer_.get(), in ? kPacketSize : 0, timeouts_.drainMs, nullptr, moved);
    }
    return why;
}

Result Link::MoveChunks(bool in, uint32_t length, const ChunkHandler& handler, uint32_t& count)
{
    count = 0;
    uint32_t offset = 0;
    uint32_t chunk = kChunkBytes;  // a stop before the first chunk counts as after a full one
    bool stopped = false;
    while (offset < length) {
        if (cancel_.load())
            return StopEarly(in, chunk, Failure(Code::Cancelled, "cancelled after " + std::to_string(count) + " of " +
                                                                     std::to_string(length) + " bytes"));
        if (stopped)
            return StopEarly(in, chunk, Failure(Code::Cancelled, "stopped by the caller after " +
                                                                     std::to_string(count) + " bytes"));
        const uint32_t previous = chunk;
        chunk = std::min(length - offset, kChunkBytes);
        Chunk piece{offset, chunk, 0, buffer_.get()};
        if (!in && !handler(piece))
            return StopEarly(in, previous, Failure(Code::Cancelled, "stopped by the caller after " +
                                                                        std::to_string(count) + " bytes"));
        uint32_t moved = 0;
        Result result = Bulk(in, buffer_.get(), chunk, moved);
        count += moved;
        if (!result.ok()) {
            result.detail = std::string(in ? "reading" : "writing") + " the chunk at byte " + std::to_string(offset) +
                            ": " + result.detail;
            return StopEarly(in, chunk, std::move(result));
        }
        piece.moved = moved;
        if (in)
            stopped = !handler(piece);
        offset += chunk;
    }
    return Ok();
}

Result Link::Read(const Request& request, const ChunkHandler& sink, uint32_t& count)
{
    count = 0;
    return Guarded([&] {
        if (Result refused = Unsendable(request); !refused.ok())
            return refused;
        uint8_t stage[READ_STAGE_SIZE];
        PutWords(stage, {request.param0, request.address >> 1, request.length / request.unitSize});
        Result result = SendCommand(REQ_READ, request.cmdValue, request.cmdIndex, stage, sizeof stage);
        if (!result.ok())
            return result;
        return MoveChunks(true, request.length, sink, count);
    });
}

Result Link::Write(const Request& request, const ChunkHandler& source, uint32_t& count)
{
    count = 0;
    return Guarded([&] {
        if (Result refused = Unsendable(request); !refused.ok())
            return refused;
        uint8_t stage[WRITE_STAGE_SIZE];
        PutWords(stage, {request.param0, request.param1, request.address >> 1, request.length / request.unitSize});
        Result result = SendCommand(REQ_WRITE, request.cmdValue, request.cmdIndex, stage, sizeof stage);
        if (!result.ok())
            return result;
        return MoveChunks(false, request.length, source, count);
    });
}

Result Link::Verify(const Request& request, uint8_t value[4])
{
    return Guarded([&] {
        if (Result refused = Unsendable(request); !refused.ok())
            return refused;
        uint8_t stage[VERIFY_STAGE_SIZE];
        PutWords(stage, {request.address >> 1, request.length / request.unitSize});
        Result result = SendCommand(REQ_DEBUG, request.cmdValue, request.cmdIndex, stage, sizeof stage);
        if (!result.ok())
            return result;
        // Exactly 4 bytes: a short answer is no verification value.
        uint32_t moved = 0;
        result = AfterCancel(Bulk(true, buffer_.get(), 4, moved));
        if (!result.ok())
            return result;
        if (moved != 4)
            return Failure(Code::IoFailed, "the verification value came with " + std::to_string(moved) + " of 4 bytes");
        std::copy(buffer_.get(), buffer_.get() + 4, value);
        return Ok();
    });
}

Result Link::Status(uint8_t status[8], uint32_t& count)
{
    count = 0;
    return Guarded([&] { return QueryStatus(status, count); });
}

Result Link::Reset(uint16_t code)
{
    return Guarded([&] {
        uint32_t moved = 0;
        return Control(VENDOR_DEVICE_TO_HOST, REQ_RESET, kResetValue, code, nullptr, 0, moved);
    });
}

Result Link::Debug(bool in, const Request& request, uint8_t* buffer, uint32_t& count)
{
    count = 0;
    return Guarded([&] {
        if (cancel_.load())
            return Refused();
        uint8_t stage[DEBUG_STAGE_SIZE];
        PutWords(stage, {request.length});
        Result result = SendCommand(REQ_DEBUG, request.cmdValue, request.cmdIndex, stage, sizeof stage);
        if (!result.ok())
            return result;
        return AfterCancel(Bulk(in, buffer, request.length, count));
    });
}

Result Link::DebugRead(const Request& request, uint8_t* buffer, uint32_t& count)
{
    return Debug(true, request, buffer, count);
}

Result Link::DebugWrite(const Request& request, const uint8_t* buffer, uint32_t& count)
{
    // The pipe only reads from the buffer.
    return Debug(false, request, const_cast<uint8_t*>(buffer), count);
}

}  // namespace usblink
