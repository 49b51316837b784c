// What uxfer and uXfer.Device do with the device, written once: open an
// instance, read a range into a sink, write a source to a range (padded,
// verified by reading it back), compare a range with a source, the
// verification value, the status block, and the reset request.  Each front
// end only maps an Error to its own code.
//
// One Operation is one call of the device: a cancel or the end of the timeout
// stops it at any point, and no later step starts.
//
// Memory stays the same at any size: the link hands a transfer's wire image
// over a block at a time (ops/link.h), which is converted and stored (or, for
// a write, made) as it goes.  Where the link can't take a whole range in one
// request (the address space of a 32-bit process), the range goes as
// consecutive requests, under one progress total, cancel and timeout.  The
// operations are the same on every system; only the link and the files
// (ops/files.h) are the system's.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "ops/error.h"
#include "ops/files.h"
#include "ops/link.h"

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

// The sentences of the reset request (uxfer reset, the object's Reset) on
// every system: the device can't be opened for it (`why`: the result or the
// system's sentence), or the request failed with the library's `result`.
Error ResetRequestUnopened(uint32_t instance, const std::string& why);
Error ResetRequestFailed(uint32_t instance, uint32_t result);

// One program at a time on a device: from its first request (or Open) to
// its end, an Operation holds the device's lock (Link::Lock); another one
// waits for it within the timeout of its settings (-1: a minute, 0: no
// limit), then fails Busy.
class Operation {
public:
    // The call runs on `link` from here to the end of the Operation; the
    // link's device is `instance` (for the sentences), open or opened by Open.
    Operation(Link& link, uint32_t instance, const Settings& settings, const Names& names);
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    // Opens the link's device with `flags`, once the device is the call's.
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
    class Transfer;
    friend class Transfer;

    // Takes the device for the rest of the call, unless the call has it.
    Error Claim();
    // Makes room for transfers of `wireBytes` each (`transfers` of them) and
    // starts the call's timer.
    Error Prepare(uint64_t wireBytes, uint32_t transfers);
    Error StartTimer(uint64_t wireBytes, uint32_t requests);
    // Tells the progress of `fileBytes` more.
    void Advance(uint64_t fileBytes);
    // Why a step that ended with `stop` stopped the call; no error for none.
    // `when` follows "cancelled" and the timeout's "in N s".
    Error Stopped(Stop stop, const char* when) const;
    Error SendResetCommand(const char* when);
    // "'uxfer status ...' and 'uxfer reset ...'", with the options that chose the device.
    std::string StatusAndReset() const;
    // Reads the range with `mode` and compares it with `source` from its
    // start; a difference is what `finding` ("comparison found") reports.
    Error CompareWith(const Range& range, Source& source, uint32_t mode, const char* finding, const char* when);

    Link& link_;
    uint32_t instance_;
    const Settings& settings_;
    const Names& names_;
    uint32_t timeoutSeconds_ = 0;
    uint64_t total_ = 0;  // file bytes of the operation
    uint64_t done_ = 0;
    uint64_t moved_ = 0;  // file bytes, both ways
    uint64_t requestBytes_ = 0;  // the most one request moves
    bool claimed_ = false;
};

}  // namespace ops
