// The device under an operation: one system's way of reaching it, behind one
// seam.  On Windows it is uXfer.dll (ops/xfer_link.h); elsewhere the USB
// link that speaks the same protocol over libusb (ops/usb_link.h).  An
// operation asks it for the device's lock, the call's timer, and the
// requests of the call; the order of the steps and every sentence stay the
// operation's, so both systems say the same.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "dump/results.h"
#include "ops/error.h"

namespace ops {

// A link hands a transfer's wire image over in blocks of at most this many bytes.
inline constexpr uint32_t kBlockBytes = 16 * 65536;

// What ended a step of the call besides its own result.
enum class Stop { None, Cancelled, TimedOut };

// What one request did.
struct Outcome {
    uint32_t result = dump::kResultOk;  // the library's
    uint32_t count = 0;  // bytes moved
    Stop stop = Stop::None;
};

// What a transfer's request does with its wire image, a block at a time and
// in order: a write's `fill` makes the next bytes before they go, a read's
// `take` gets them once they are in (a block may be shorter than the last
// one only at the request's end).  An error stops the request.  `advanced`
// follows each chunk the device moved.
struct Blocks {
    std::function<Error(uint8_t* wire, uint32_t bytes)> fill;
    std::function<Error(uint8_t* wire, uint32_t bytes)> take;
    std::function<void(uint32_t bytes)> advanced;
};

class Link {
public:
    enum class Claim { Held, Busy, Stopped, Failed };

    virtual ~Link() = default;

    // The device, for the rest of the call: waits for another program that
    // holds it at most `waitSeconds` (0: no limit), telling `waiting` once
    // "instance I is in use by P, process N" when the wait begins, and gives
    // up at a cancel.  Busy: `problem` is that sentence; Failed: why the lock
    // can't be had.  Held also when there is no such device: the open or the
    // first request says so.
    virtual Claim Lock(int64_t waitSeconds, const std::function<void(const std::string&)>& waiting,
                       std::string& problem) = 0;
    // Opens the device with `flags` (OPEN_* of the library); the error names it.
    virtual Error Open(uint32_t flags) = 0;
    // The call's timeout from now (0: no limit).  False: no timer can be had,
    // `problem` says why, and the call must not go on.
    virtual bool StartTimer(uint32_t seconds, std::string& problem) = 0;

    // Room for transfers of `wireBytes`: the most one request may move, in
    // whole blocks; 0 when there is no room at all (then `problem` says how
    // little there was).
    virtual uint64_t Reserve(uint64_t wireBytes, std::string& problem) = 0;
    // One request of `bytes` wire bytes at device word `addr` with `mode`.
    // `failure` is the first error of a block, after which the request stops.
    virtual Outcome Move(bool read, uint32_t addr, uint32_t bytes, uint32_t mode, const Blocks& blocks,
                         Error& failure) = 0;
    // The reset command of a dump, the verification value of `words` words
    // at `addr`, and the status block, each one step of the call.
    virtual Outcome ResetCommand() = 0;
    virtual Outcome Verify(uint32_t addr, uint32_t words, uint32_t mode, uint8_t (&value)[4]) = 0;
    virtual Outcome Status(uint8_t (&status)[8]) = 0;
};

}  // namespace ops
