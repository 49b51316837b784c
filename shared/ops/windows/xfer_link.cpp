#include "ops/xfer_link.h"

#include <windows.h>

#include <algorithm>

#include "dump/chunk_messages.h"
#include "dump/dump_requests.h"
#include "dump/instance_lock.h"
#include "dump/results.h"
#include "ops/devices.h"
#include "uXfer.h"
#include "win/text.h"

namespace ops {

namespace {

static_assert(kBlockBytes % XFER_CHUNK == 0, "blocks of whole chunks");
// Committed ahead of the library: it never reaches memory that isn't there.
constexpr uint32_t kBlocksAhead = 2;
constexpr uint32_t kPageBytes = 4096;
// A request's wire bytes: a 32-bit length of whole 2-word units.  So the
// largest range, 0x7FFFFFFE words, is one request; only an odd read of
// 0x7FFFFFFF words, which moves 0x80000000, needs a second.
constexpr uint64_t kMostRequest = 0xFFFFFFFCull;
// Where the address space can't reserve a whole range, it goes as requests of
// at least this many wire bytes.
constexpr uint64_t kLeastRequest = 256ull << 20;

std::string ErrorText(DWORD error = GetLastError())
{
    return win::SystemErrorText(error);
}

uint64_t RoundUp(uint64_t value, uint64_t unit)
{
    return (value + unit - 1) / unit * unit;
}

}  // namespace

Error Open(dump::Connection& connection, uint32_t instance, uint32_t loaderVersion, uint32_t flags,
           const Names& names)
{
    std::string problem;
    if (!dump::OpenInstance(connection, instance, loaderVersion, flags, Advised(names, "list"), problem))
        return Fail(Kind::NoDevice, problem + WhyNoSimulatedDevice(names.simulate));
    return {};
}

Error SendResetRequest(uint32_t instance, uint32_t code, const Names& names)
{
    uint32_t result = RESULT_OK;
    std::string problem;
    const std::string index = std::to_string(instance);
    if (!dump::SendCancel(instance, code, result, problem))
        return Fail(Kind::NoDevice, "can't select instance " + index + ": " + problem);
    if (result == RESULT_OPEN_FAILED)
        return ResetRequestUnopened(instance, dump::ResultText(result) + "; run " + Advised(names, "list") +
                                                  WhyNoSimulatedDevice(names.simulate));
    if (result != RESULT_OK)
        return ResetRequestFailed(instance, result);
    return {};
}

// One request through the window: commits the blocks ahead of the library,
// hands over each block it is done with, and gives the window back.
class XferLink::Request {
public:
    Request(XferLink& link, bool read, uint32_t bytes, const Blocks& blocks, Error& failure)
        : link_(link), read_(read), length_(bytes), blocks_(blocks), failure_(failure)
    {
    }

    Outcome Run(const TransferDesc& desc)
    {
        Outcome outcome;
        Ahead();
        if (link_.windowClass_)
            link_.windowClass_->Ready();
        if (!failure_) {
            dump::ChunkMessages messages;
            if (!messages.Attach([this](uint32_t chunk) { Chunk(chunk); }))
                failure_ = Fail(Kind::Device, "can't make the window for the library's progress messages: " +
                                                  messages.Problem());
            else
                outcome.stop = link_.Step([&] {
                    outcome.result = read_ ? uXferRead(&desc, Base(), &outcome.count)
                                           : uXferWrite(&desc, Base(), &outcome.count);
                    return outcome.result == RESULT_OK && outcome.count == length_ && !failure_;
                });
        }
        Decommit(released_, committed_);
        return outcome;
    }

private:
    uint8_t* Base() const { return static_cast<uint8_t*>(link_.region_.get()); }

    void Decommit(uint32_t from, uint32_t to)
    {
        if (to > from)
            VirtualFree(Base() + from, to - from, MEM_DECOMMIT);
    }

    // The library is done with the chunk of `bytes` at position_.
    void Chunk(uint32_t bytes)
    {
        if (failure_)
            return;
        position_ = std::min(length_, position_ + bytes);
        blocks_.advanced(bytes);
        const uint32_t done = position_ == length_ ? length_ : position_ - position_ % kBlockBytes;
        if (done > released_) {
            if (read_)
                failure_ = blocks_.take(Base() + released_, done - released_);
            Decommit(released_, done);
            released_ = done;
            if (!failure_)
                Ahead();
        }
        if (failure_)
            StopLibrary();
    }

    // Stops the library before its next chunk, whatever another process
    // holds.  A cancel can't: its reset goes to the shared instance index,
    // which only the instance lock makes ours, and without that the library
    // would go on into blocks never committed (a write: never filled).
    // Closing the connection here, on the transfer's thread between two
    // chunks, fails the next pipe call at once: the library sends nothing
    // more (its own reset neither, the connection is gone) and returns.  A
    // write's range then holds the source up to the failure and what it held
    // after it, never bytes the source didn't give; the next call's reset
    // command starts the device afresh.  The window stays as committed until
    // Run gives it back, after the library returned.
    void StopLibrary() { link_.connection_.Close(); }

    // Commits (and for a write, fills) the blocks ahead of the library.
    void Ahead()
    {
        const uint32_t wanted =
            static_cast<uint32_t>(std::min<uint64_t>(length_, uint64_t{released_} + kBlocksAhead * kBlockBytes));
        if (wanted <= committed_)
            return;
        if (!VirtualAlloc(Base() + committed_, wanted - committed_, MEM_COMMIT, PAGE_READWRITE)) {
            failure_ = Fail(Kind::NoMemory, "not enough memory for the transfer's next " +
                                                std::to_string(wanted - committed_) + " bytes (" + ErrorText() + ")");
            return;
        }
        // A first write to each page maps it with one fault, where a system
        // call that fills a fresh page (the library's pipe reads, the source's
        // ReadFile) takes two under Wine.
        for (uint32_t page = committed_; page < wanted; page += kPageBytes)
            Base()[page] = 0;
        if (!read_)
            failure_ = blocks_.fill(Base() + committed_, wanted - committed_);
        committed_ = wanted;
    }

    XferLink& link_;
    bool read_;
    // The request's wire bytes, the library's position, and the blocks
    // committed and given back.
    uint32_t length_;
    const Blocks& blocks_;
    Error& failure_;
    uint32_t position_ = 0;
    uint32_t committed_ = 0;
    uint32_t released_ = 0;
};

XferLink::XferLink(dump::CancelSwitch& cancel, dump::Connection& connection, uint32_t instance,
                   const Settings& settings, const Names& names)
    : cancel_(cancel), call_(cancel, instance), connection_(connection), instance_(instance), settings_(settings),
      names_(names)
{
}

Link::Claim XferLink::Lock(int64_t waitSeconds, const std::function<void(const std::string&)>& waiting,
                           std::string& problem)
{
    const std::string path =
        dump::InstancePath(dump::InterfaceClass(settings_.loaderVersion), instance_, settings_.simulated);
    if (path.empty())
        return Claim::Held;
    const DWORD waitMs = waitSeconds == 0 ? INFINITE : static_cast<DWORD>(waitSeconds * 1000);
    switch (device_.Take(
        path, instance_, waitMs, [this] { return cancel_.Stopped() != dump::CancelSwitch::Outcome::Ran; }, waiting,
        problem)) {
    case dump::DeviceLock::Outcome::Held:
        return Claim::Held;
    case dump::DeviceLock::Outcome::Busy:
        return Claim::Busy;
    case dump::DeviceLock::Outcome::Stopped:
        return Claim::Stopped;
    case dump::DeviceLock::Outcome::Failed:
        break;
    }
    return Claim::Failed;
}

Error XferLink::Open(uint32_t flags)
{
    // The pipes are for the transfers, whose progress messages need a window.
    if (flags & (OPEN_READ | OPEN_WRITE) && !windowClass_)
        windowClass_.emplace();
    return ops::Open(connection_, instance_, settings_.loaderVersion, flags, names_);
}

bool XferLink::StartTimer(uint32_t seconds, std::string& problem)
{
    if (cancel_.StartTimer(seconds) != dump::CancelSwitch::Outcome::NoTimer)
        return true;
    problem = ErrorText();
    return false;
}

Stop XferLink::Step(const std::function<bool()>& step)
{
    switch (cancel_.Run(step)) {
    case dump::CancelSwitch::Outcome::Cancelled:
        return Stop::Cancelled;
    case dump::CancelSwitch::Outcome::TimedOut:
        return Stop::TimedOut;
    default:
        return Stop::None;
    }
}

// Room for requests of `wireBytes` (whole blocks, of which a request fills
// at most kMostRequest), or as many as the address space has in one piece,
// but at least kLeastRequest.
uint64_t XferLink::Reserve(uint64_t wireBytes, std::string& problem)
{
    uint64_t size = RoundUp(std::min(wireBytes, kMostRequest), kBlockBytes);
    for (;;) {
        if (size <= SIZE_MAX) {
            region_.reset(VirtualAlloc(nullptr, static_cast<SIZE_T>(size), MEM_RESERVE, PAGE_READWRITE));
            if (region_)
                return std::min(size, kMostRequest);
        }
        if (size <= kLeastRequest)
            break;
        size = std::max(size / 2 / kBlockBytes * kBlockBytes, kLeastRequest);
    }
    problem = "a transfer window of " + std::to_string(kLeastRequest) +
              " bytes of address space; close other programs, or use the x64 edition";
    return 0;
}

Outcome XferLink::Move(bool read, uint32_t addr, uint32_t bytes, uint32_t mode, const Blocks& blocks, Error& failure)
{
    return Request(*this, read, bytes, blocks, failure).Run(dump::DeviceDesc(addr, bytes / 2, mode));
}

Outcome XferLink::ResetCommand()
{
    Outcome outcome;
    outcome.stop = Step([&] {
        outcome.result = connection_.SendReset();
        return outcome.result == RESULT_OK;
    });
    return outcome;
}

Outcome XferLink::Verify(uint32_t addr, uint32_t words, uint32_t mode, uint8_t (&value)[4])
{
    const TransferDesc desc = dump::DeviceDesc(addr, words, mode);
    Outcome outcome;
    outcome.stop = Step([&] {
        outcome.result = uXferVerify(&desc, value);
        return outcome.result == RESULT_OK;
    });
    return outcome;
}

Outcome XferLink::Status(uint8_t (&status)[8])
{
    Outcome outcome;
    outcome.stop = Step([&] {
        outcome.result = uGetStatus(status, &outcome.count);
        return outcome.result == RESULT_OK && outcome.count == sizeof status;
    });
    return outcome;
}

}  // namespace ops
