// The fault-injection soak: random operations on the three deliverables
// against the virtual device, each checked against the model of what the
// documented behaviour allows.  One driver per deliverable; the faults in one
// table (faults.h); the journal of the last operations, the watchdog and the
// handle count in files of their own; the main program owns the seed, the
// helper thread and the process-wide invariants.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include "soak/model.h"
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

// A read the device holds, and what the helper thread does about it.
struct HeldReadPlan {
    bool armed = false;
    HeldRead action = HeldRead::Release;
};

class Context {
public:
    Context(uint32_t seed, const std::string& folder) : seed(seed), rng(seed), folder(folder) {}

    // Arms up to `most` random faults of the allowed kinds on the device and
    // the model; a held read gets one of the `cancels` actions (Release
    // always allowed).  Returns the held-read plan for the helper.
    HeldReadPlan ArmFaults(uint32_t allowed, uint32_t most, std::vector<HeldRead> cancels = {});
    // Appends to the description of the running operation.
    void Note(const char* format, ...);
    // A broken invariant: prints the seed and the last operations, ends the process.
    [[noreturn]] void Fail(const char* format, ...);
    void Expect(bool holds, const char* format, ...);
    // Device memory equals the model over [offset, offset + size).
    void CheckMemory(uint32_t offset, uint32_t size);

    const uint32_t seed;
    Rng rng;
    const std::string folder;  // scratch folder of the run, ending in '\'
    vdev::Device device;
    DeviceModel model;
    uint64_t faultsArmed = 0;
};

// The soak's three drivers, each over one deliverable.
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
Driver* NewTalvixDriver(Context& ctx);

// What the drivers share: uXfer's connection (the dump tool's flows use it
// too), Talvix's module heaps, and Talvix calls the main program makes.
struct XferConn;
XferConn& SharedXferConn();
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

}  // namespace soak
