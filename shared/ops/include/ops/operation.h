// What uxfer and uXfer.Device do with the device, written once: open an
// instance, read a range into a sink, write a source to a range (padded,
// verified by reading it back), compare a range with a source, the
// verification value, the status block, and the reset request.  Each front
// end only maps an Error to its own code.
//
// One Operation is one call of the device: a cancel or the end of the timeout
// (dump::CancelSwitch) stops it at any point, and no later step starts.
//
// Memory stays the same at any size.  The library moves a range into or out
// of one buffer, a 64 KiB chunk at a time, and after each chunk sends its
// progress message on the caller's thread before it touches the next.  So the
// buffer is address space reserved for the whole request, of which only a few
// blocks ahead of the library are committed: a block the library is done with
// is converted and stored (or, for a write, the block ahead is filled) in the
// message handler, then decommitted.  Where the address space can't hold a
// whole range (a 32-bit process), the range goes as consecutive requests as
// large as it can reserve, under one progress total, cancel and timeout.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "dump/cancel_switch.h"
#include "dump/connection.h"
#include "dump/device_lock.h"
#include "ops/error.h"
#include "ops/files.h"

namespace ops {

// A range of device words and the mode word of its requests.
struct Range {
    uint32_t addr = 0;
    std::optional<uint32_t> size;  // none: a source's length gives it
    uint32_t mode = 0;
};

struct Settings {
    bool raw = false;      // files and arrays hold the 16-bit words as they are
    bool noReset = false;  // leaves out every reset command of the call
    // -1: a minute, and more the more the call moves; 0: no limit.
    int64_t timeoutSeconds = -1;
    // File bytes of the whole operation, moved and in all (a verified write
    // counts its write and its read-back).
    std::function<void(uint64_t done, uint64_t total)> progress;
    // The instance's class (0: the default) and library (uXferSim.dll: the
    // simulated devices), which name the device the call locks.
    uint32_t loaderVersion = 0;
    bool simulated = false;
    // Told once, "instance I is in use by P, process N; waiting ...", when
    // the call begins to wait for a device another program holds.
    std::function<void(const std::string& sentence)> waiting;
};

// Why `range` can't be moved; no error when it can.  `oddReadable`: a read
// or compare (see dump::RangeProblem).
Error CheckRange(const Range& range, const Names& names, bool oddReadable);
// Gives `range` its size from `source` when it has none, and checks both
// before the device is touched: `command` (write, compare) is refused a source
// shorter than the range unless `pad` (then zeros make up the rest).
Error FitSource(const char* command, Range& range, const Source& source, bool raw, bool pad, const Names& names);

// Selects the class of `loaderVersion` (0: the default) and `instance` and
// opens it with `flags` (OPEN_*), under the instance lock.
Error Open(dump::Connection& connection, uint32_t instance, uint32_t loaderVersion, uint32_t flags,
           const Names& names);
// The library's reset request with `code`, on a connection of its own.
Error SendResetRequest(uint32_t instance, uint32_t code, const Names& names);

// One program at a time on a device: from its first request (or Open) to
// its end, an Operation holds the device's lock (dump/device_lock.h); another
// one waits for it within the timeout of its settings (-1: a minute, 0: no
// limit), then fails Busy.
class Operation {
public:
    // The call runs from here to the end of the Operation; `connection` is
    // open on `instance`, or opened by Open.
    Operation(dump::CancelSwitch& cancel, dump::Connection& connection, uint32_t instance, const Settings& settings,
              const Names& names);
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    // ops::Open of the connection with `flags`, once the device is the call's.
    Error Open(uint32_t flags);

    // The range into `sink`: one byte a word, or two when raw.
    Error Read(const Range& range, Sink& sink);
    // `source` to the range (FitSource first); `readBackMode`: read the
    // range back with this mode word and compare.
    Error Write(const Range& range, Source& source, bool pad, std::optional<uint32_t> readBackMode);
    // The range read and compared with `source` (FitSource first): a
    // difference is a Mismatch error with the first difference.
    Error Compare(const Range& range, Source& source);
    Error Verify(const Range& range, uint8_t (&value)[4]);
    Error Status(uint8_t (&status)[8]);

private:
    class Window;
    class Transfer;
    friend class Transfer;

    // Takes the device for the rest of the call, unless the call has it.
    Error Claim();
    // Reserves the window for transfers of `wireBytes` each (`transfers` of
    // them) and starts the call's timer.
    Error Prepare(uint64_t wireBytes, uint32_t transfers, Window& window);
    Error StartTimer(uint64_t wireBytes, uint32_t requests);
    // Tells the progress of `fileBytes` more.
    void Advance(uint64_t fileBytes);
    // Runs `step` of the call; an error says why the call was stopped.
    // `when` follows "cancelled" and the timeout's "in N s".
    Error Step(const std::function<bool()>& step, const char* when = "");
    Error SendResetCommand(const char* when);
    // "'uxfer status ...' and 'uxfer reset ...'", with the options that chose the device.
    std::string StatusAndReset() const;
    // Reads the range with `mode` and compares it with `source` from its
    // start; a difference is what `finding` ("comparison found") reports.
    Error CompareWith(const Range& range, Source& source, uint32_t mode, Window& window, const char* finding,
                      const char* when);

    dump::CancelSwitch& cancel_;
    dump::CancelSwitch::Call call_;
    dump::Connection& connection_;
    uint32_t instance_;
    const Settings& settings_;
    const Names& names_;
    uint32_t timeoutSeconds_ = 0;
    uint64_t total_ = 0;  // file bytes of the operation
    uint64_t done_ = 0;
    uint64_t moved_ = 0;  // file bytes, both ways
    dump::DeviceLock device_;
    bool claimed_ = false;
};

}  // namespace ops
