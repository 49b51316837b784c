// The fault-injection soak: random operations on the deliverables against the
// virtual device, each judged by what the device's memory and log show it
// did.  One driver per deliverable; the faults in one table (faults.h); the
// device's own model beside it (device_twin.h); the views of the log
// (op_log.h); the journal of the last operations, the watchdog and the handle
// count in files of their own; the main program owns the seed, the helper
// thread and the process-wide invariants.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include "soak/device_twin.h"
#include "soak/op_log.h"
#include "vdev_client.h"

namespace soak {

// Reproducible random numbers: the whole run follows from the seed.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
    uint32_t Next();
    uint32_t Below(uint32_t n) { return n ? Next() % n : 0; }
    uint32_t Range(uint32_t lo, uint32_t hi) { return lo + Below(hi - lo + 1); }
    bool Percent(uint32_t p) { return Below(100) < p; }

private:
    uint64_t state_;
};

// Kinds of fault an operation can meet; a driver says which make sense.
enum FaultKind : uint32_t {
    kFailControl = 1 << 0,
    kFailRead = 1 << 1,
    kFailWrite = 1 << 2,
    kShortRead = 1 << 3,
    kPendRead = 1 << 4,
    kActivePolls = 1 << 5,
    kErrorAtPoll = 1 << 6,
    kPendingPolls = 1 << 7,
    kFailDriverState = 1 << 8,
};

// What the helper thread does with a read the device holds.
enum class HeldRead {
    Release,       // back channel: the read completes as if never held
    CancelXfer,    // uSetCancel(2) from the helper: reset request, the read fails
    CancelTalvix,  // ResetOrCancel on the helper's own object: same on the device
    CancelAuto,    // Cancel of the uXfer.Device object under test, from the helper
    Leave,         // nothing: the deliverable's own timeout ends it
};

struct HeldReadPlan {
    bool armed = false;
    HeldRead action = HeldRead::Release;
};

class Context {
public:
    Context(uint32_t seed, const std::string& folder) : seed(seed), rng(seed), folder(folder) {}

    // Arms up to `most` random faults of the allowed kinds on the device and
    // its model; a held read gets one of the `cancels` actions (Release
    // always allowed).  Returns the held-read plan for the helper.
    HeldReadPlan ArmFaults(uint32_t allowed, uint32_t most, std::vector<HeldRead> cancels = {});
    // A knob on the device and on its model, once the model has caught up
    // with the log (knobs count from the moment they are set).
    void Knob(uint32_t id, uint32_t value, uint32_t value2 = 0);
    // Replays the device's log on its model so far.
    void FollowLog();
    // The back channel's reset, on the device and its model.
    void BackChannelReset();
    void SetMemorySize(uint32_t bytes);

    // The log from sequence number `mark` on; Mark() is where the next record goes.
    uint32_t Mark();
    OpLog LogSince(uint32_t mark);
    // Device memory as the running operation found it (0xFF past the end).
    uint8_t Before(uint32_t at) const { return at < before_.size() ? before_[at] : 0xFF; }
    uint32_t MemoryBytes() const { return static_cast<uint32_t>(before_.size()); }
    // The bytes the running operation gives its deliverable to write.
    void Sent(std::vector<uint8_t> bytes) { sent_ = std::move(bytes); }
    // `buffer` holds what the log's reads since `mark` moved from memory, and
    // `untouched` elsewhere.
    void CheckDelivered(const char* what, const std::vector<uint8_t>& buffer, uint8_t untouched, uint32_t mark);
    // `buffer` holds the bytes the log shows `transfer` (none: no transfer)
    // moved, and `untouched` past them.
    void CheckEcho(const char* what, const std::vector<uint8_t>& buffer, uint8_t untouched,
                   const VdevLogRecord* transfer);
    uint32_t OpMark() const { return opMark_; }
    // At the end of an operation: memory holds what the operation's log shows
    // written of what was sent, and elsewhere what it held before.
    void CheckMemory();
    // Starts an operation: its log and its memory.
    void BeginOperation();

    // Appends to the description of the running operation.
    void Note(const char* format, ...);
    // A broken invariant: prints the seed and the last operations, ends the process.
    [[noreturn]] void Fail(const char* format, ...);
    void Expect(bool holds, const char* format, ...);

    const uint32_t seed;
    Rng rng;
    const std::string folder;  // scratch folder of the run, ending in '\'
    vdev::Device device;
    DeviceTwin twin;
    bool plugged = true;
    uint64_t faultsArmed = 0;

private:
    std::vector<uint8_t> ReadAllMemory();

    std::vector<uint8_t> before_, sent_;
    uint32_t opMark_ = 0;
};

// The soak's drivers, each over one deliverable.
class Driver {
public:
    virtual ~Driver() = default;
    virtual const char* Name() const = 0;
    // One random operation, checked.
    virtual void Step(Context& ctx) = 0;
    // Releases what it holds between operations (handles, objects), so that
    // the process can be compared with its starting state.
    virtual void Settle(Context& ctx) = 0;
    // Sends the device a reset request through this deliverable; false when
    // it has no way to right now.
    virtual bool ResetDevice(Context& ctx) = 0;
};

Driver* NewXferDriver(Context& ctx);
Driver* NewVantorDriver(Context& ctx);
// Talvix.dll is 32-bit only: the 64-bit soak has no Talvix driver (null), no
// held read cancelled through it and no Talvix heaps or probe.
constexpr bool kWithTalvix = sizeof(void*) == 4;
Driver* NewTalvixDriver(Context& ctx);
Driver* NewCliDriver(Context& ctx);
Driver* NewAutoDriver(Context& ctx);

// uXfer's process-wide connection: what the calls so far opened.
struct XferConn {
    bool control = false, readPipe = false, writePipe = false;
    bool defaultClass = true;  // the interface class uSetKVVersion selected
    uint32_t instance = 0;     // instanceIndex
};
// What the drivers share: uXfer's connection (the dump tool's flows use it
// too), Talvix's module heaps, and Talvix calls the main program makes.
// What uCreate and uClose of this process return, and the connection after them.
uint32_t ExpectXferCreate(const Context& ctx, uint32_t flags);
uint32_t ExpectXferClose();
// uXfer.Device used this process's uXfer connection: it selected instance 0
// of the default class, opened it, sent its progress elsewhere and closed it.
void XferConnectionLent();
// uXfer.Device's Reset selected instance 0 of the default class (those of its
// last Open) for its reset request, whatever this process had selected.
void XferSelectedForReset();
// uxfer of this process's bitness selected instance 0 in the library's shared
// settings (the interface class is each process's own).
void XferInstanceSelectedElsewhere();
// Whether uSetCancel of this process finds the device: the instance selected
// is 0, of the class selected (the cancel connection looks for that class).
bool XferCancelReaches(const Context& ctx);
// Busy blocks of Talvix's module heaps at the last settle point, when no
// TVXDevice object was alive.
size_t TalvixSettledBlocks();
// A cancel from the helper thread through a second TVXDevice object.
bool TalvixCancelFromHelper();
// A faultless status request that must find the device idle (after a reset).
void TalvixProbe(Context& ctx);
// Cancel of the uXfer.Device object under test, from the helper thread.
bool AutoCancelFromHelper();

// Reproducible bytes for writes and files.
std::vector<uint8_t> Bytes(uint32_t size, uint32_t seed);
// The file bytes of a wire image in the default format (each word's first byte), and back ((byte, 0xFF) words).
std::vector<uint8_t> DumpOf(const std::vector<uint8_t>& wire);
std::vector<uint8_t> WireOf(const std::vector<uint8_t>& dump);

}  // namespace soak
