// soak.exe [--seed S] [--ops N | --seconds T] [--bound-ms B]
//
// Runs random operations of uXfer, the dump tool's flows, Talvix (32-bit
// soak only), uxfer.exe and uXfer.Device against instance 0 of the virtual
// device, with random faults armed on the device, and judges each one by the
// device's memory and log, which the device's own model replays.  A failure or a call that
// blocks longer than the bound prints the seed, the operation and the ones
// before it; the same seed and count replay the run.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "soak/faults.h"
#include "soak/handle_count.h"
#include "soak/journal.h"
#include "soak/soak.h"
#include "soak/watchdog.h"
#include "usb_protocol.h"
#include "uXfer.h"
#include "vdev_shim.h"

namespace soak {

namespace {

constexpr uint32_t kSettleEvery = 100;
constexpr uint32_t kStartMemoryBytes = 256 * 1024;
// The soak's own three locks (journal, watchdog, helper) may each get an
// event from the threads library the first time two threads meet on them,
// at any moment of the run; nothing else may add a handle.
constexpr DWORD kLazyLockHandles = 3;

// The second thread: acts on a read the device holds during an operation.
class Helper {
public:
    Helper() : thread_([this] { Run(); }) {}
    ~Helper()
    {
        {
            std::lock_guard<std::mutex> hold(lock_);
            quit_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    void Expect(HeldRead action)
    {
        std::lock_guard<std::mutex> hold(lock_);
        action_ = action;
        job_ = true;
        done_ = false;
        wake_.notify_all();
    }
    // At the end of the operation: stops looking and says what went wrong.
    std::string Finish()
    {
        std::unique_lock<std::mutex> hold(lock_);
        done_ = true;
        wake_.wait(hold, [this] { return !job_; });
        std::string problem;
        problem.swap(problem_);
        return problem;
    }
    uint32_t acted = 0;

private:
    void Run()
    {
        vdev::Device device;
        device.Open(0);
        std::unique_lock<std::mutex> hold(lock_);
        for (;;) {
            wake_.wait(hold, [this] { return quit_ || job_; });
            if (quit_)
                return;
            HeldRead action = action_;
            bool held = false;
            while (!held && !done_) {
                hold.unlock();
                VdevInfo info{};
                held = device.Info(info) && info.readPending;
                if (held)
                    Act(device, action);
                else
                    Sleep(1);
                hold.lock();
            }
            job_ = false;
            wake_.notify_all();
        }
    }
    void Act(vdev::Device& device, HeldRead action)
    {
        bool ok = true;
        const char* what = "release";
        if (action == HeldRead::CancelXfer) {
            what = "uSetCancel";
            ok = uSetCancel(2) == RESULT_OK;
        } else if (action == HeldRead::CancelTalvix) {
            what = "ResetOrCancel";
            ok = TalvixCancelFromHelper();
        } else if (action == HeldRead::CancelAuto) {
            what = "Cancel";
            ok = AutoCancelFromHelper();
        } else if (action == HeldRead::Leave) {
            // The deliverable's timeout ends the read: wait until it has.
            VdevInfo info{};
            while (device.Info(info) && info.readPending)
                Sleep(5);
        }
        if (!ok) {
            std::lock_guard<std::mutex> hold(lock_);
            problem_ = std::string(what) + " from the helper thread failed on a held read";
        }
        if (action == HeldRead::Release || (!ok && action != HeldRead::Leave))
            device.ReleaseRead();
        ++acted;
    }
    std::mutex lock_;
    std::condition_variable wake_;
    bool quit_ = false, job_ = false, done_ = true;
    HeldRead action_ = HeldRead::Release;
    std::string problem_;
    std::thread thread_;
};

Helper* theHelper = nullptr;
std::vector<uint64_t> faultCounts(kFaultKinds);

}  // namespace

uint32_t Rng::Next()
{
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return static_cast<uint32_t>((state_ * 0x2545F4914F6CDD1Dull) >> 32);
}

std::vector<uint8_t> Bytes(uint32_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 7);
    }
    return bytes;
}

std::vector<uint8_t> DumpOf(const std::vector<uint8_t>& wire)
{
    std::vector<uint8_t> dump(wire.size() / 2);
    for (size_t i = 0; i < dump.size(); ++i)
        dump[i] = wire[2 * i];
    return dump;
}

std::vector<uint8_t> WireOf(const std::vector<uint8_t>& dump)
{
    std::vector<uint8_t> wire(2 * dump.size(), 0xFF);
    for (size_t i = 0; i < dump.size(); ++i)
        wire[2 * i] = dump[i];
    return wire;
}

void Context::Knob(uint32_t id, uint32_t value, uint32_t value2)
{
    FollowLog();
    Expect(device.Knob(id, value, value2), "the device refused knob %u (%u, %u)", id, value, value2);
    Expect(twin.Knob(id, value, value2), "the device model refused knob %u (%u, %u)", id, value, value2);
}

void Context::FollowLog()
{
    const std::string problem = twin.Follow(device.Log(twin.Next()));
    if (!problem.empty())
        Fail("%s", problem.c_str());
}

void Context::BackChannelReset()
{
    FollowLog();
    Expect(device.Reset() && vdev::WaitInterfaces(vdev::kDefaultClass, 1, 10000), "back-channel reset failed");
    twin.Reset();
    plugged = true;
    before_ = ReadAllMemory();
}

void Context::SetMemorySize(uint32_t bytes)
{
    Knob(VDEV_KNOB_MEMORY_BYTES, bytes);
    before_ = ReadAllMemory();
}

uint32_t Context::Mark()
{
    VdevInfo info{};
    Expect(device.Info(info), "device info");
    return info.logNext;
}

OpLog Context::LogSince(uint32_t mark)
{
    return OpLog{device.Log(mark)};
}

std::vector<uint8_t> Context::ReadAllMemory()
{
    VdevInfo info{};
    Expect(device.Info(info), "device info");
    std::vector<uint8_t> memory(info.memoryBytes);
    Expect(device.ReadMemory(0, memory.data(), memory.size()), "device memory could not be read");
    return memory;
}

void Context::BeginOperation()
{
    opMark_ = Mark();
    sent_.clear();
}

void Context::CheckDelivered(const char* what, const std::vector<uint8_t>& buffer, uint8_t untouched, uint32_t mark)
{
    std::vector<uint8_t> expected(buffer.size(), untouched);
    for (const Move& move : LogSince(mark).Moves())
        for (uint32_t i = 0; move.in && i < move.bytes && move.caller + i < expected.size(); ++i)
            expected[move.caller + i] = Before(move.device + i);
    for (size_t at = 0; at < buffer.size(); ++at)
        if (buffer[at] != expected[at])
            Fail("%s: byte %u is %02X, the device's %02X", what, static_cast<unsigned>(at), buffer[at], expected[at]);
}

void Context::CheckEcho(const char* what, const std::vector<uint8_t>& buffer, uint8_t untouched,
                        const VdevLogRecord* transfer)
{
    const uint32_t moved = transfer && Ok(*transfer) ? transfer->b : 0;
    for (uint32_t at = 0; at < buffer.size(); ++at) {
        if (at >= moved)
            Expect(buffer[at] == untouched, "%s: byte %u is %02X past the %u bytes moved", what, at, buffer[at], moved);
        else if (at < VDEV_LOG_DATA)  // the log keeps the first bytes
            Expect(buffer[at] == transfer->data[at], "%s: byte %u is %02X, the device sent %02X", what, at,
                   buffer[at], transfer->data[at]);
    }
}

void Context::CheckMemory()
{
    std::vector<uint8_t> expected = before_;
    for (const Move& move : LogSince(opMark_).Moves())
        for (uint32_t i = 0; !move.in && i < move.bytes && move.device + i < expected.size(); ++i) {
            Expect(move.caller + i < sent_.size(), "the device received %u bytes more than were sent",
                   move.caller + move.bytes - static_cast<uint32_t>(sent_.size()));
            expected[move.device + i] = sent_[move.caller + i];
        }
    const std::vector<uint8_t> actual = ReadAllMemory();
    Expect(actual.size() == expected.size(), "memory size %u, %u before", static_cast<unsigned>(actual.size()),
           static_cast<unsigned>(expected.size()));
    for (size_t at = 0; at < actual.size(); ++at)
        if (actual[at] != expected[at])
            Fail("device memory at byte %u holds %02X, not %02X (%s)", static_cast<unsigned>(at), actual[at],
                 expected[at], expected[at] == before_[at] ? "as before" : "as sent");
    before_ = actual;
}

HeldReadPlan Context::ArmFaults(uint32_t allowed, uint32_t most, std::vector<HeldRead> cancels)
{
    HeldReadPlan plan;
    if (!kWithTalvix)
        cancels.erase(std::remove(cancels.begin(), cancels.end(), HeldRead::CancelTalvix), cancels.end());
    const uint32_t count = rng.Percent(35) ? 0 : rng.Range(1, most);
    uint32_t armed = 0;
    for (uint32_t n = 0; n < count; ++n) {
        const uint32_t kind = rng.Below(kFaultKinds);
        const Fault& fault = kFaults[kind];
        if (!(allowed & fault.kind) || (armed & fault.kind) || (armed & fault.conflicts))
            continue;
        armed |= fault.kind;
        uint32_t value = rng.Range(1, 4), value2 = 0;
        if (fault.setUp)
            fault.setUp(rng, value, value2);
        Knob(fault.knob, value, value2);
        ++faultCounts[kind];
        ++faultsArmed;
        Note("[%s %u/%u]", fault.name, value, value2);
        if (fault.holdsRead) {
            plan.armed = true;
            cancels.push_back(HeldRead::Release);
            plan.action = cancels[rng.Below(static_cast<uint32_t>(cancels.size()))];
            static const char* const actions[] = {"release", "uSetCancel", "ResetOrCancel", "Cancel", "leave"};
            Note("[then %s]", actions[static_cast<int>(plan.action)]);
        }
    }
    if (plan.armed)
        theHelper->Expect(plan.action);
    return plan;
}

namespace {

struct Options {
    uint32_t seed = 0;
    uint64_t ops = 0;
    uint32_t seconds = 0;
    DWORD boundMs = 30000;
};

bool ParseOptions(int argc, char** argv, Options& options)
{
    options.seed = GetTickCount();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const unsigned long long value = std::strtoull(argv[i + 1], nullptr, 0);
        if (name == "--seed")
            options.seed = static_cast<uint32_t>(value);
        else if (name == "--ops")
            options.ops = value;
        else if (name == "--seconds")
            options.seconds = static_cast<uint32_t>(value);
        else if (name == "--bound-ms")
            options.boundMs = static_cast<DWORD>(value);
        else
            return false;
    }
    if (argc % 2 == 0)
        return false;
    if (!options.ops && !options.seconds)
        options.ops = 1000;
    return true;
}

class Soak {
public:
    Soak(Context& ctx) : ctx_(ctx)
    {
        drivers_[0].reset(NewXferDriver(ctx));
        drivers_[1].reset(NewVantorDriver(ctx));
        drivers_[2].reset(NewTalvixDriver(ctx));
        drivers_[3].reset(NewCliDriver(ctx));
        drivers_[4].reset(NewAutoDriver(ctx));
    }
    void Step(uint64_t number);
    void Summary(uint64_t ops, DWORD elapsedMs) const;

private:
    void Environment();
    void ResetDevice();
    void AfterOperation();
    void Settle();

    Context& ctx_;
    static constexpr int kDrivers = 5;
    std::unique_ptr<Driver> drivers_[kDrivers];
    uint64_t perDriver_[kDrivers + 1] = {};
    uint64_t resets_ = 0, plugs_ = 0, resizes_ = 0, settles_ = 0;
    DWORD baseHandles_ = 0;
    size_t baseBlocks_ = 0;
    bool baseline_ = false;
};

void Soak::Step(uint64_t number)
{
    // uxfer.exe starts a process an operation: fewer of those.  An absent
    // driver (Talvix in the 64-bit soak) has no share.
    static constexpr uint32_t kShares[kDrivers + 1] = {30, 12, 24, 10, 16, 8};
    auto share = [this](int i) { return i == kDrivers || drivers_[i] ? kShares[i] : 0; };
    uint32_t total = 0;
    for (int i = 0; i <= kDrivers; ++i)
        total += share(i);
    uint32_t pick = ctx_.rng.Below(total);
    int which = 0;
    while (pick >= share(which))
        pick -= share(which++);
    journal.Begin(number, which < kDrivers ? drivers_[which]->Name() : "device");
    ++perDriver_[which];
    ctx_.BeginOperation();
    if (which < kDrivers)
        drivers_[which]->Step(ctx_);
    else
        Environment();
    const std::string problem = theHelper->Finish();
    if (!problem.empty())
        ctx_.Fail("%s", problem.c_str());
    for (size_t i = 0; i < kFaultKinds; ++i)
        ctx_.Knob(kFaults[i].knob, 0);
    AfterOperation();
    if (number % kSettleEvery == kSettleEvery - 1)
        Settle();
    journal.End();
}

void Soak::Environment()
{
    switch (ctx_.rng.Below(4)) {
    case 0: {
        const bool plugged = !ctx_.plugged || ctx_.rng.Percent(60);
        ctx_.Note(plugged ? "plug" : "unplug");
        ctx_.Expect(ctx_.device.SetPlugged(plugged) && vdev::WaitInterfaces(vdev::kDefaultClass, plugged, 10000),
                    "the product interface did not follow the plug knob");
        ctx_.plugged = plugged;
        ++plugs_;
        break;
    }
    case 1: {
        const uint32_t sizes[] = {4096, 65536, 65538, 131072, 200000, 256 * 1024, 512 * 1024,
                                  2 * ctx_.rng.Range(1, 300000)};
        const uint32_t bytes = sizes[ctx_.rng.Below(8)];
        ctx_.Note("memory size %u", bytes);
        ctx_.SetMemorySize(bytes);
        ++resizes_;
        break;
    }
    default:
        ResetDevice();
        break;
    }
}

// A reset through one of the deliverables or the back channel; then the
// device must be idle and answer.
void Soak::ResetDevice()
{
    ++resets_;
    const uint32_t first = ctx_.rng.Below(kDrivers + 1);
    bool done = false;
    for (int i = 0; i < kDrivers && !done && first < kDrivers; ++i) {
        Driver* driver = drivers_[(first + i) % kDrivers].get();
        done = driver && driver->ResetDevice(ctx_);
    }
    if (!done) {
        ctx_.Note("back-channel reset");
        ctx_.BackChannelReset();
    }
    VdevInfo info{};
    ctx_.Expect(ctx_.device.Info(info), "device info");
    ctx_.Expect(!info.active && !info.readPending, "after a reset the device is not idle (active %u, held read %u)",
                info.active, info.readPending);
    TalvixProbe(ctx_);
}

void Soak::AfterOperation()
{
    VdevInfo info{};
    ctx_.Expect(ctx_.device.Info(info), "device info");
    ctx_.Expect(!info.readPending, "a read is still held after the operation");
    ctx_.FollowLog();
    ctx_.CheckMemory();
    // Talvix's waits would wait for an open phase for ever: close it first.
    if (info.active)
        ResetDevice();
}

void Soak::Settle()
{
    ++settles_;
    ctx_.Note("| settle");
    for (auto& driver : drivers_)
        if (driver)
            driver->Settle(ctx_);
    const DWORD handles = HandleCount(ctx_);
    const size_t blocks = TalvixSettledBlocks();
    ctx_.Note("handles %lu, Talvix heap blocks %u", static_cast<unsigned long>(handles), static_cast<unsigned>(blocks));
    // The first settle point is the baseline: by then every system DLL and
    // cache the operations touch has been loaded.
    if (!baseline_) {
        baseline_ = true;
        baseHandles_ = handles;
        baseBlocks_ = blocks;
        return;
    }
    ctx_.Expect(handles <= baseHandles_ + kLazyLockHandles, "the process holds %lu handles, %lu at the first settle point",
                static_cast<unsigned long>(handles), static_cast<unsigned long>(baseHandles_));
    ctx_.Expect(blocks == baseBlocks_, "Talvix's module heaps hold %u blocks, %u at the first settle point",
                static_cast<unsigned>(blocks), static_cast<unsigned>(baseBlocks_));
}

void Soak::Summary(uint64_t ops, DWORD elapsedMs) const
{
    std::printf("soak: seed %u, %llu operations in %.1f s (", ctx_.seed, static_cast<unsigned long long>(ops),
                elapsedMs / 1000.0);
    for (int i = 0; i <= kDrivers; ++i)
        if (i == kDrivers || drivers_[i])
            std::printf("%s%s %llu", i ? ", " : "", i < kDrivers ? drivers_[i]->Name() : "device",
                        static_cast<unsigned long long>(perDriver_[i]));
    std::printf(")\n");
    std::printf("soak: %llu faults armed:", static_cast<unsigned long long>(ctx_.faultsArmed));
    for (size_t i = 0; i < kFaultKinds; ++i)
        std::printf("%s %llu %s", i ? "," : "", static_cast<unsigned long long>(faultCounts[i]), kFaults[i].name);
    std::printf("\nsoak: faults that hit a request:");
    for (int i = 0; i < kHits; ++i)
        std::printf("%s %llu %s", i ? "," : "", static_cast<unsigned long long>(ctx_.twin.hits[i]), kHitNames[i]);
    std::printf("\nsoak: %llu held reads acted on, %llu resets, %llu plug changes, %llu memory sizes, "
                "%llu settle points\n",
                static_cast<unsigned long long>(theHelper->acted), static_cast<unsigned long long>(resets_),
                static_cast<unsigned long long>(plugs_), static_cast<unsigned long long>(resizes_),
                static_cast<unsigned long long>(settles_));
}

}  // namespace

}  // namespace soak

int main(int argc, char** argv)
{
    using namespace soak;
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: soak.exe [--seed S] [--ops N | --seconds T] [--bound-ms B]\n");
        return 2;
    }
    if (!VdevShimInstall()) {
        std::fprintf(stderr, "pipe-name shim could not be installed\n");
        return 2;
    }
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + "usbsoak\\";
    CreateDirectoryA(folder.c_str(), nullptr);

    journal.seed = options.seed;
    Context ctx(options.seed, folder);
    if (!ctx.twin.Ready() || !ctx.device.Open(0) || !ctx.device.Reset() ||
        !vdev::WaitInterfaces(vdev::kDefaultClass, 1, 10000) || vdev::CountInterfaces(vdev::kDefaultClass) != 1) {
        std::fprintf(stderr, "soak: needs the test bed with exactly one device instance\n");
        return 2;
    }
    ctx.BackChannelReset();
    ctx.SetMemorySize(kStartMemoryBytes);
    uSetInstance(0);
    uSetKVVersion(0x0130);
    std::printf("soak: seed %u\n", options.seed);
    std::fflush(stdout);

    Watchdog watchdog(options.boundMs);
    Helper helper;
    theHelper = &helper;
    // One round trip with the helper before the first settle point, so that
    // the handles its synchronisation makes once are part of the baseline.
    helper.Expect(HeldRead::Release);
    helper.Finish();
    uint64_t done = 0;
    const DWORD start = GetTickCount();
    {
        Soak soak(ctx);
        while ((options.ops && done < options.ops) ||
               (!options.ops && GetTickCount() - start < options.seconds * 1000u))
            soak.Step(done++);
        soak.Summary(done, GetTickCount() - start);
    }
    RestoreDevice(ctx.device);
    std::fflush(stdout);
    return 0;
}
