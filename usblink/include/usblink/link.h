// The link to one device: the family's vendor protocol spoken over USB
// itself, request for request as uXfer.dll speaks it through the Windows
// driver, so that the device receives the same on every system:
// - every data-carrying command waits for the device to be idle (status
//   polls), sends its vendor request with its data stage, then waits for the
//   device to report the command taken;
// - bulk data moves in 64 KiB chunks through one buffer the link owns, each
//   chunk handed to the caller's sink (reads) or filled by its source
//   (writes), so memory stays the same at any size;
// - a chunk that fails or is cancelled ends the transfer with the reset
//   request, code 2, and leaves the pipe on a packet boundary.
// One thread runs the link's calls; Cancel may come from any other thread or
// a signal handler.  Every wait is bounded.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "usblink/devices.h"
#include "usblink/result.h"

namespace usblink {

// What a command carries, with uXfer's TransferDesc's meaning.
struct Request {
    uint32_t param0 = 0;
    uint32_t param1 = 0;
    uint32_t address = 0;   // bytes of host-side data; the device gets it halved
    uint32_t length = 0;    // bytes over the pipe
    uint32_t unitSize = 0;  // length / unitSize is the unit count the device gets; 0 is refused
    uint16_t cmdValue = 0;
    uint16_t cmdIndex = 0;
};

inline constexpr uint32_t kChunkBytes = 65536;  // as uXfer's chunk

// One chunk of a transfer: `size` bytes at `offset` of the whole.  A read's
// sink finds `moved` bytes of it in `data` (a short chunk still counts as
// `size`: the next one lands at its own offset); a write's source fills all
// `size` bytes of `data`.
struct Chunk {
    uint32_t offset;
    uint32_t size;
    uint32_t moved;
    uint8_t* data;
};
// False stops the transfer as a cancel does.
using ChunkHandler = std::function<bool(const Chunk&)>;

struct Timeouts {
    unsigned controlMs = 5000;  // one vendor request
    unsigned chunkMs = 10000;   // one chunk, or one debug or verify transfer
    unsigned drainMs = 500;     // the packet that realigns the pipe after a stop
};

namespace detail {
class Transport;
}

class Link {
public:
    Link(const DeviceInfo& device, std::unique_ptr<detail::Transport> transport,
         std::unique_ptr<uint8_t[]> buffer, const Timeouts& timeouts);
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    const DeviceInfo& Device() const { return device_; }

    // REQ_READ, then request.length bytes from the pipe; `count` the bytes moved.
    Result Read(const Request& request, const ChunkHandler& sink, uint32_t& count);
    // REQ_WRITE, then request.length bytes to the pipe.
    Result Write(const Request& request, const ChunkHandler& source, uint32_t& count);
    // The 4-byte verification value of request.address/length.
    Result Verify(const Request& request, uint8_t value[4]);
    // The 8-byte status block, without any wait; `count` the bytes received.
    Result Status(uint8_t status[8], uint32_t& count);
    // REQ_RESET with `code` as its index.
    Result Reset(uint16_t code);
    // The debug command with request.length as its data, then that many bytes
    // from (read) or to (write) the pipe in one transfer.
    Result DebugRead(const Request& request, uint8_t* buffer, uint32_t& count);
    Result DebugWrite(const Request& request, const uint8_t* buffer, uint32_t& count);

    // Stops the running call and refuses later ones (Cancelled) until
    // ClearCancel.  Async-signal-safe: it only raises a flag, which the call
    // sees within a few milliseconds, also while the device holds a transfer.
    void Cancel() { cancel_.store(true); }
    void ClearCancel() { cancel_.store(false); }

private:
    Result Control(uint8_t direction, uint8_t request, uint16_t value, uint16_t index, uint8_t* stage,
                   uint16_t size, uint32_t& moved);
    Result QueryStatus(uint8_t status[8], uint32_t& count);
    Result WaitFor(bool active);
    Result SendCommand(uint8_t request, uint16_t value, uint16_t index, uint8_t* stage, uint16_t size);
    Result Bulk(bool in, uint8_t* data, uint32_t size, uint32_t& moved);
    Result MoveChunks(bool in, uint32_t length, const ChunkHandler& handler, uint32_t& count);
    Result StopEarly(bool in, uint32_t chunk, Result why);
    Result AfterCancel(Result result);
    Result Debug(bool in, const Request& request, uint8_t* buffer, uint32_t& count);
    Result Refused() const;
    // Why a data-carrying command can't go: a unit size of 0, or a cancel; Ok when it can.
    Result Unsendable(const Request& request) const;

    DeviceInfo device_;
    std::unique_ptr<detail::Transport> transport_;
    std::unique_ptr<uint8_t[]> buffer_;  // kChunkBytes
    Timeouts timeouts_;
    std::atomic<bool> cancel_{false};
    static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler raises the flag");
};

}  // namespace usblink
