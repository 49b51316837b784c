#include "ops/operation.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "dump/chunk_messages.h"
#include "dump/dump_requests.h"
#include "dump/instance_lock.h"
#include "dump/numbers.h"
#include "dump/results.h"
#include "dump/wire.h"
#include "ops/devices.h"
#include "uXfer.h"
#include "win/text.h"

namespace ops {

namespace {

// Committed, converted and decommitted a block at a time: fewer calls to the
// memory manager and the file system than a chunk at a time.
constexpr uint32_t kBlock = 16 * XFER_CHUNK;
// Committed ahead of the library: it never reaches memory that isn't there.
constexpr uint32_t kBlocksAhead = 2;
// A request's wire bytes: a 32-bit length of whole 2-word units.  So the
// largest range, 0x7FFFFFFE words, is one request; only an odd read of
// 0x7FFFFFFF words, which moves 0x80000000, needs a second.
constexpr uint64_t kMostRequest = 0xFFFFFFFCull;
// How long a call waits for a device another program holds, by default.
constexpr int64_t kDefaultWaitSeconds = 60;
// Where the address space can't reserve a whole range, it goes as requests of
// at least this many wire bytes.
constexpr uint64_t kLeastRequest = 256ull << 20;

const char kUnverified[] = " after the write, before its verification: the device holds the data unverified";

std::string ErrorText(DWORD error = GetLastError())
{
    return win::SystemErrorText(error);
}

uint64_t RoundUp(uint64_t value, uint64_t unit)
{
    return (value + unit - 1) / unit * unit;
}

// The words a range of `size` moves: a whole number of the device's 2-word units.
uint32_t WordsMoved(uint32_t size)
{
    return size + size % 2;
}

uint64_t FileBytes(uint64_t words, bool raw)
{
    return raw ? words * 2 : words;
}

Error NoMemory(const std::string& what)
{
    return Fail(Kind::NoMemory, "not enough memory for " + what);
}

// What a compare or read-back found, word by word.
class Comparison {
public:
    // Word `index` of the range: the expected and the read wire bytes.
    void Word(uint32_t index, uint8_t expected0, uint8_t expected1, const uint8_t* read, bool raw)
    {
        if (expected0 == read[0] && (!raw || expected1 == read[1]))
            return;
        if (count_++ == 0) {
            first_ = index;
            expected_[0] = expected0;
            expected_[1] = expected1;
            read_[0] = read[0];
            read_[1] = read[1];
        }
    }
    bool Equal() const { return count_ == 0; }

    // "<finding> N of M words different, the first at file offset O, word
    // address A (expected XX XX, read XX XX)"
    Error Difference(const char* finding, uint32_t size, uint32_t addr, bool raw) const
    {
        char detail[64];
        std::snprintf(detail, sizeof detail, " (expected %02X %02X, read %02X %02X)", expected_[0], expected_[1],
                      read_[0], read_[1]);
        FirstDifference first;
        first.fileOffset = FileBytes(first_, raw);
        first.wordAddress = addr + first_;
        first.differingWords = count_;
        Error error = Fail(Kind::Mismatch, std::string(finding) + " " + std::to_string(count_) + " of " +
                                               std::to_string(size) + " words different, the first at file offset " +
                                               std::to_string(first.fileOffset) + ", word address " +
                                               dump::HexText(first.wordAddress) + detail);
        error.difference = first;
        return error;
    }

private:
    uint64_t count_ = 0;
    uint32_t first_ = 0;
    uint8_t expected_[2] = {};
    uint8_t read_[2] = {};
};

// Reads what the source holds for the next `fileBytes`, zeros past its end.
class SourceReader {
public:
    SourceReader(Source& source) : source_(source) {}
    Error Next(uint8_t* buffer, uint32_t fileBytes)
    {
        const uint64_t left = source_.Length() - std::min(position_, source_.Length());
        const uint32_t fromSource = static_cast<uint32_t>(std::min<uint64_t>(fileBytes, left));
        if (fromSource && !source_.Read(buffer, fromSource))
            return Fail(Kind::File, "can't read " + source_.Name() + " (" + ErrorText() + ")");
        std::memset(buffer + fromSource, 0, fileBytes - fromSource);
        position_ += fileBytes;
        return {};
    }

private:
    Source& source_;
    uint64_t position_ = 0;
};

}  // namespace

// Address space for one request's wire image, committed a few blocks at a time.
class Operation::Window {
public:
    // Room for requests of `wanted` wire bytes (whole blocks, of which a
    // request fills at most kMostRequest), or as many as the address space
    // has in one piece, but at least kLeastRequest.
    bool Reserve(uint64_t wanted)
    {
        uint64_t size = RoundUp(std::min(wanted, kMostRequest), kBlock);
        for (;;) {
            if (size <= SIZE_MAX) {
                region_.reset(VirtualAlloc(nullptr, static_cast<SIZE_T>(size), MEM_RESERVE, PAGE_READWRITE));
                if (region_) {
                    size_ = static_cast<uint32_t>(std::min(size, kMostRequest));
                    return true;
                }
            }
            if (size <= kLeastRequest)
                return false;
            size = std::max(size / 2 / kBlock * kBlock, kLeastRequest);
        }
    }
    uint8_t* Base() const { return static_cast<uint8_t*>(region_.get()); }
    uint32_t Size() const { return size_; }
    bool Commit(uint32_t from, uint32_t to)
    {
        return VirtualAlloc(Base() + from, to - from, MEM_COMMIT, PAGE_READWRITE) != nullptr;
    }
    void Decommit(uint32_t from, uint32_t to)
    {
        if (to > from)
            VirtualFree(Base() + from, to - from, MEM_DECOMMIT);
    }

private:
    win::unique_region region_;
    uint32_t size_ = 0;
};

// One read or write of a range as consecutive requests through the window.
// `work` gets the wire image a block at a time, in order: a write's fills it
// before the library sends it, a read's takes it once it is in.
class Operation::Transfer {
public:
    using Work = std::function<Error(uint8_t* wire, uint32_t bytes)>;

    Transfer(Operation& operation, Window& window, bool read, uint32_t addr, uint32_t words, uint32_t mode,
             Work work)
        : op_(operation), window_(window), read_(read), addr_(addr), words_(words), mode_(mode),
          work_(std::move(work))
    {
    }

    Error Run(const char* when)
    {
        const uint64_t wire = uint64_t{words_} * 2;
        for (uint64_t offset = 0; offset < wire;) {
            const uint32_t bytes = static_cast<uint32_t>(std::min<uint64_t>(window_.Size(), wire - offset));
            uint32_t count = 0;
            uint32_t result = RESULT_OK;
            if (Error stopped = Request(addr_ + static_cast<uint32_t>(offset / 2), bytes, count, result, when))
                return stopped;
            if (result != RESULT_OK)
                return Failed(what() + " failed after " + std::to_string(moved_) + " bytes: " +
                              dump::ResultText(result) + "; try " + op_.StatusAndReset());
            if (count != bytes)
                return Failed(what() + " moved only " + std::to_string(moved_) + " bytes; try " +
                              Advised(op_.names_, "status"));
            offset += bytes;
        }
        return {};
    }

private:
    // "the read of N wire bytes from instance I"
    std::string what() const
    {
        return std::string(read_ ? "the read of " : "the write of ") + std::to_string(uint64_t{words_} * 2) +
               " wire bytes " + (read_ ? "from" : "to") + " instance " + std::to_string(op_.instance_);
    }

    Error Failed(std::string text) const
    {
        Error error = Fail(Kind::Device, std::move(text));
        error.moved = op_.moved_;
        return error;
    }

    Error Request(uint32_t addr, uint32_t bytes, uint32_t& count, uint32_t& result, const char* when)
    {
        length_ = bytes;
        position_ = committed_ = released_ = 0;
        failure_ = {};
        Ahead();
        if (!failure_) {
            const TransferDesc desc = dump::DeviceDesc(addr, bytes / 2, mode_);
            dump::ChunkMessages messages;
            if (!messages.Attach([this](uint32_t chunk) { Chunk(chunk); }))
                failure_ = Failed("can't make the window for the library's progress messages: " +
                                  messages.Problem());
            else if (Error stopped = op_.Step(
                         [&] {
                             result = read_ ? uXferRead(&desc, window_.Base(), &count)
                                            : uXferWrite(&desc, window_.Base(), &count);
                             return result == RESULT_OK && count == bytes && !failure_;
                         },
                         when);
                     stopped && !failure_)
                failure_ = stopped;
        }
        window_.Decommit(released_, committed_);
        moved_ += count;
        op_.moved_ += FileBytes(count / 2, op_.settings_.raw);
        failure_.moved = op_.moved_;
        return failure_;
    }

    // The library is done with the chunk of `bytes` at position_.
    void Chunk(uint32_t bytes)
    {
        if (failure_)
            return;
        position_ = std::min(length_, position_ + bytes);
        op_.Advance(FileBytes(bytes / 2, op_.settings_.raw));
        const uint32_t done = position_ == length_ ? length_ : position_ - position_ % kBlock;
        if (done > released_) {
            if (read_)
                failure_ = work_(window_.Base() + released_, done - released_);
            window_.Decommit(released_, done);
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
    // Request gives it back, after the library returned.
    void StopLibrary() { op_.connection_.Close(); }

    // Commits (and for a write, fills) the blocks ahead of the library.
    void Ahead()
    {
        const uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(length_, uint64_t{released_} + kBlocksAhead * kBlock));
        if (wanted <= committed_)
            return;
        if (!window_.Commit(committed_, wanted)) {
            failure_ = NoMemory("the transfer's next " + std::to_string(wanted - committed_) + " bytes (" +
                                ErrorText() + ")");
            return;
        }
        if (!read_)
            failure_ = work_(window_.Base() + committed_, wanted - committed_);
        committed_ = wanted;
    }

    Operation& op_;
    Window& window_;
    bool read_;
    uint32_t addr_;
    uint32_t words_;
    uint32_t mode_;
    Work work_;
    uint64_t moved_ = 0;  // wire bytes of all requests
    // Of the request running: its wire bytes, the library's position, and
    // the blocks committed and given back.
    uint32_t length_ = 0;
    uint32_t position_ = 0;
    uint32_t committed_ = 0;
    uint32_t released_ = 0;
    Error failure_;
};

Error CheckRange(const Range& range, const Names& names, bool oddReadable)
{
    const std::string problem = dump::RangeProblem(range.addr, *range.size, names.addr, names.size, oddReadable);
    return problem.empty() ? Error{} : Fail(Kind::Usage, problem);
}

Error FitSource(const char* command, Range& range, const Source& source, bool raw, bool pad, const Names& names)
{
    const bool oddReadable = std::strcmp(command, "compare") == 0;
    if (!range.size) {
        uint32_t words = 0;
        const std::string problem =
            dump::SizeFromLength(source.Name(), command, source.Length(), raw, names.size, oddReadable, words);
        if (!problem.empty())
            return Fail(Kind::Usage, problem);
        range.size = words;
    }
    if (Error error = CheckRange(range, names, oddReadable))
        return error;
    if (pad)
        return {};
    // Only a write can be padded, and only where the front end offers it.
    const bool padOffered = names.pad && !oddReadable;
    const std::string remedy =
        (padOffered ? "add " + std::string(names.pad) + " to fill the rest with zeros, or give" : std::string("give")) +
        " a smaller " + names.size;
    const std::string problem =
        dump::ShortSourceProblem(source.Name(), command, source.Length(), FileBytes(*range.size, raw), remedy);
    return problem.empty() ? Error{} : Fail(Kind::Usage, problem);
}

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
        return Fail(Kind::NoDevice, "can't open instance " + index + " for the reset request: " +
                                        dump::ResultText(result) + "; run " + Advised(names, "list") +
                                        WhyNoSimulatedDevice(names.simulate));
    if (result != RESULT_OK)
        return Fail(Kind::Device, "the reset request to instance " + index + " failed: " + dump::ResultText(result));
    return {};
}

std::string Operation::StatusAndReset() const
{
    return Advised(names_, "status") + " and " + Advised(names_, "reset");
}

Operation::Operation(dump::CancelSwitch& cancel, dump::Connection& connection, uint32_t instance,
                     const Settings& settings, const Names& names)
    : cancel_(cancel), call_(cancel, instance), connection_(connection), instance_(instance), settings_(settings),
      names_(names)
{
}

Error Operation::Open(uint32_t flags)
{
    if (Error error = Claim())
        return error;
    return ops::Open(connection_, instance_, settings_.loaderVersion, flags, names_);
}

Error Operation::Claim()
{
    if (claimed_)
        return {};
    const std::string path =
        dump::InstancePath(dump::InterfaceClass(settings_.loaderVersion), instance_, settings_.simulated);
    // No such instance: the open or the first request says so.
    if (path.empty())
        return {};
    const int64_t seconds = settings_.timeoutSeconds < 0 ? kDefaultWaitSeconds : settings_.timeoutSeconds;
    const DWORD waitMs = seconds == 0 ? INFINITE : static_cast<DWORD>(seconds * 1000);
    const std::string until = seconds == 0 ? "for it to end" : "up to " + std::to_string(seconds) + " s";
    std::string problem;
    switch (device_.Take(
        path, instance_, waitMs, [this] { return cancel_.Stopped() != dump::CancelSwitch::Outcome::Ran; },
        [&](const std::string& holder) {
            if (settings_.waiting)
                settings_.waiting(holder + "; waiting " + until);
        },
        problem)) {
    case dump::DeviceLock::Outcome::Held:
        claimed_ = true;
        return {};
    case dump::DeviceLock::Outcome::Busy:
        return Fail(Kind::Busy, problem);
    case dump::DeviceLock::Outcome::Stopped:
        return Fail(Kind::Cancelled, "cancelled");
    case dump::DeviceLock::Outcome::Failed:
        break;
    }
    return Fail(Kind::NoDevice, problem);
}

void Operation::Advance(uint64_t fileBytes)
{
    done_ = std::min(total_, done_ + fileBytes);
    if (settings_.progress)
        settings_.progress(done_, total_);
}

Error Operation::StartTimer(uint64_t wireBytes, uint32_t requests)
{
    timeoutSeconds_ = settings_.timeoutSeconds < 0 ? dump::DefaultTimeoutSeconds(wireBytes, requests)
                                                   : static_cast<uint32_t>(settings_.timeoutSeconds);
    if (cancel_.StartTimer(timeoutSeconds_) == dump::CancelSwitch::Outcome::NoTimer)
        return NoMemory("the timer of the call's timeout (" + ErrorText() + ")");
    return {};
}

Error Operation::Step(const std::function<bool()>& step, const char* when)
{
    switch (cancel_.Run(step)) {
    case dump::CancelSwitch::Outcome::Ran:
    case dump::CancelSwitch::Outcome::NoTimer:
        return {};
    case dump::CancelSwitch::Outcome::Cancelled: {
        Error error = Fail(Kind::Cancelled, std::string("cancelled") + when);
        error.moved = moved_;
        return error;
    }
    case dump::CancelSwitch::Outcome::TimedOut:
        break;
    }
    Error error = Fail(Kind::Timeout, "no answer from the device in " + std::to_string(timeoutSeconds_) +
                                          " s, so the transfer was stopped" + when +
                                          "; try " + StatusAndReset() + ", or a longer timeout (0: no limit)");
    error.moved = moved_;
    return error;
}

Error Operation::Prepare(uint64_t wireBytes, uint32_t transfers, Window& window)
{
    if (!window.Reserve(wireBytes))
        return NoMemory("a transfer window of " + std::to_string(kLeastRequest) +
                        " bytes of address space; close other programs, or use the x64 edition");
    const uint32_t requests = static_cast<uint32_t>((wireBytes + window.Size() - 1) / window.Size());
    return StartTimer(wireBytes * transfers, requests * transfers);
}

Error Operation::SendResetCommand(const char* when)
{
    if (settings_.noReset)
        return {};
    uint32_t result = RESULT_OK;
    if (Error stopped = Step(
            [&] {
                result = connection_.SendReset();
                return result == RESULT_OK;
            },
            when))
        return stopped;
    if (result != RESULT_OK)
        return Fail(Kind::Device, "the reset command to instance " + std::to_string(instance_) + " failed: " +
                                      dump::ResultText(result) + "; try " + StatusAndReset() +
                                      (names_.noReset ? ", or " + std::string(names_.noReset) : std::string()));
    return {};
}

Error Operation::Read(const Range& range, Sink& sink)
{
    if (Error error = CheckRange(range, names_, true))
        return error;
    const uint32_t size = *range.size;
    const uint32_t words = WordsMoved(size);
    const bool raw = settings_.raw;
    // A sink that waits for the whole dump gets it from a scratch file.
    win::unique_file scratch;
    if (!sink.Streams())
        if (Error error = CreateScratchFile(scratch))
            return error;
    if (Error error = Claim())
        return error;
    Window window;
    total_ = FileBytes(size, raw);
    if (Error error = Prepare(uint64_t{words} * 2, 1, window))
        return error;
    if (Error error = SendResetCommand(""))
        return error;
    uint32_t kept = 0;  // words stored
    Transfer transfer(*this, window, true, range.addr, words, range.mode, [&](uint8_t* wire, uint32_t bytes) {
        const uint32_t count = std::min(bytes / 2, size - kept);
        kept += count;
        if (!raw)
            dump::DumpInPlace(wire, count);
        const uint32_t fileBytes = static_cast<uint32_t>(FileBytes(count, raw));
        if (scratch) {
            if (!dump::WriteAll(scratch.get(), wire, fileBytes))
                return Fail(Kind::File, "can't keep the dump in a scratch file (" + ErrorText() + "); is the disk full?");
        } else if (!sink.Append(wire, fileBytes)) {
            return sink.WriteFailed(GetLastError());
        }
        return Error{};
    });
    if (Error error = transfer.Run(""))
        return error;
    if (scratch) {
        LARGE_INTEGER start = {};
        const std::unique_ptr<uint8_t[]> slice(new (std::nothrow) uint8_t[kBlock]);
        if (!slice)
            return NoMemory("the dump's way out");
        if (!SetFilePointerEx(scratch.get(), start, nullptr, FILE_BEGIN))
            return Fail(Kind::File, "can't read the dump back from its scratch file (" + ErrorText() + ")");
        for (uint64_t left = FileBytes(size, raw); left > 0;) {
            const uint32_t bytes = static_cast<uint32_t>(std::min<uint64_t>(left, kBlock));
            uint32_t got = 0;
            if (!dump::ReadAll(scratch.get(), slice.get(), bytes, got) || got != bytes)
                return Fail(Kind::File, "can't read the dump back from its scratch file (" + ErrorText() + ")");
            if (!sink.Append(slice.get(), bytes))
                return sink.WriteFailed(GetLastError());
            left -= bytes;
        }
    }
    return sink.Finish();
}

Error Operation::Write(const Range& fitted, Source& source, bool pad, std::optional<uint32_t> readBackMode)
{
    Range range = fitted;
    if (Error error = FitSource("write", range, source, settings_.raw, pad, names_))
        return error;
    const uint32_t size = *range.size;
    const bool raw = settings_.raw;
    const uint32_t transfers = readBackMode ? 2 : 1;
    if (Error error = Claim())
        return error;
    Window window;
    total_ = FileBytes(size, raw) * transfers;
    if (Error error = Prepare(uint64_t{size} * 2, transfers, window))
        return error;
    if (Error error = SendResetCommand(""))
        return error;
    SourceReader reader(source);
    Transfer write(*this, window, false, range.addr, size, range.mode, [&](uint8_t* wire, uint32_t bytes) {
        const uint32_t words = bytes / 2;
        if (Error error = reader.Next(wire, static_cast<uint32_t>(FileBytes(words, raw))))
            return error;
        if (!raw)
            dump::WireInPlace(wire, words);
        return Error{};
    });
    if (Error error = write.Run(""))
        return error;
    if (!readBackMode)
        return {};

    // Read back the way a read does.
    if (Error error = SendResetCommand(kUnverified))
        return error;
    if (!source.Rewind())
        return Fail(Kind::File, "can't read " + source.Name() + " again for the verification (" + ErrorText() + ")");
    return CompareWith(range, source, *readBackMode, window, "verification found", kUnverified);
}

Error Operation::Compare(const Range& fitted, Source& source)
{
    Range range = fitted;
    if (Error error = FitSource("compare", range, source, settings_.raw, false, names_))
        return error;
    if (Error error = Claim())
        return error;
    Window window;
    total_ = FileBytes(*range.size, settings_.raw);
    if (Error error = Prepare(uint64_t{WordsMoved(*range.size)} * 2, 1, window))
        return error;
    if (Error error = SendResetCommand(""))
        return error;
    return CompareWith(range, source, range.mode, window, "comparison found", "");
}

Error Operation::CompareWith(const Range& range, Source& source, uint32_t mode, Window& window, const char* finding,
                             const char* when)
{
    SourceReader expected(source);
    const uint32_t size = *range.size;
    const bool raw = settings_.raw;
    const std::unique_ptr<uint8_t[]> slice(new (std::nothrow) uint8_t[kBlock]);
    if (!slice)
        return NoMemory("the comparison");
    Comparison comparison;
    uint32_t compared = 0;  // words
    Transfer read(*this, window, true, range.addr, WordsMoved(size), mode, [&](uint8_t* wire, uint32_t bytes) {
        const uint32_t count = std::min(bytes / 2, size - compared);
        if (Error error = expected.Next(slice.get(), static_cast<uint32_t>(FileBytes(count, raw))))
            return error;
        // Blocks that match, nearly all of them, are passed over whole.
        const bool same = raw ? std::memcmp(slice.get(), wire, size_t{count} * 2) == 0
                              : dump::DumpMatchesWire(slice.get(), wire, count);
        for (uint32_t i = 0; !same && i < count; ++i) {
            if (raw)
                comparison.Word(compared + i, slice[2 * i], slice[2 * i + 1], wire + 2 * i, true);
            else
                comparison.Word(compared + i, slice[i], 0xFF, wire + 2 * i, false);
        }
        compared += count;
        return Error{};
    });
    if (Error error = read.Run(when))
        return error;
    return comparison.Equal() ? Error{} : comparison.Difference(finding, size, range.addr, raw);
}

Error Operation::Verify(const Range& range, uint8_t (&value)[4])
{
    if (Error error = CheckRange(range, names_, false))
        return error;
    if (Error error = Claim())
        return error;
    const TransferDesc desc = dump::DeviceDesc(range.addr, *range.size, range.mode);
    if (Error error = StartTimer(desc.length, 1))
        return error;
    uint32_t result = RESULT_OK;
    if (Error stopped = Step([&] {
            result = uXferVerify(&desc, value);
            return result == RESULT_OK;
        }))
        return stopped;
    if (result != RESULT_OK)
        return Fail(Kind::Device, "the verify request to instance " + std::to_string(instance_) + " failed: " +
                                      dump::ResultText(result) + "; try " + StatusAndReset());
    return {};
}

Error Operation::Status(uint8_t (&status)[8])
{
    if (Error error = Claim())
        return error;
    if (Error error = StartTimer(0, 1))
        return error;
    uint32_t count = 0;
    uint32_t result = RESULT_OK;
    if (Error stopped = Step([&] {
            result = uGetStatus(status, &count);
            return result == RESULT_OK && count == sizeof status;
        }))
        return stopped;
    const std::string what = "the status request to instance " + std::to_string(instance_);
    if (result != RESULT_OK)
        return Fail(Kind::Device, what + " failed: " + dump::ResultText(result) + "; try " + Advised(names_, "reset"));
    if (count != sizeof status)
        return Fail(Kind::Device, what + " was answered with " + std::to_string(count) + " of its " +
                                      std::to_string(sizeof status) + " bytes; try " + Advised(names_, "reset"));
    return {};
}

}  // namespace ops
