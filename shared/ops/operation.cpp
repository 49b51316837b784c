#include "ops/operation.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "dump/numbers.h"
#include "dump/results.h"
#include "dump/wire.h"

namespace ops {

namespace {

// How long a call waits for a device another program holds, by default.
constexpr int64_t kDefaultWaitSeconds = 60;

const char kUnverified[] = " after the write, before its verification: the device holds the data unverified";

std::string ErrorText()
{
    return SystemErrorText(LastSystemError());
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

// One read or write of a range as consecutive requests of the link.  `work`
// gets the wire image a block at a time, in order: a write's fills it before
// it goes, a read's takes it once it is in.
class Operation::Transfer {
public:
    using Work = std::function<Error(uint8_t* wire, uint32_t bytes)>;

    Transfer(Operation& operation, bool read, uint32_t addr, uint32_t words, uint32_t mode, Work work)
        : op_(operation), read_(read), addr_(addr), words_(words), mode_(mode), work_(std::move(work))
    {
    }

    Error Run(const char* when)
    {
        const uint64_t wire = uint64_t{words_} * 2;
        for (uint64_t offset = 0; offset < wire;) {
            const uint32_t bytes = static_cast<uint32_t>(std::min<uint64_t>(op_.requestBytes_, wire - offset));
            uint32_t count = 0;
            uint32_t result = dump::kResultOk;
            if (Error stopped = Request(addr_ + static_cast<uint32_t>(offset / 2), bytes, count, result, when))
                return stopped;
            if (result != dump::kResultOk)
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
        const bool raw = op_.settings_.raw;
        Blocks blocks;
        (read_ ? blocks.take : blocks.fill) = work_;
        blocks.advanced = [this, raw](uint32_t chunk) { op_.Advance(FileBytes(chunk / 2, raw)); };
        Error failure;
        const Outcome outcome = op_.link_.Move(read_, addr, bytes, mode_, blocks, failure);
        count = outcome.count;
        result = outcome.result;
        if (!failure)
            failure = op_.Stopped(outcome.stop, when);
        moved_ += count;
        op_.moved_ += FileBytes(count / 2, raw);
        failure.moved = op_.moved_;
        return failure;
    }

    Operation& op_;
    bool read_;
    uint32_t addr_;
    uint32_t words_;
    uint32_t mode_;
    Work work_;
    uint64_t moved_ = 0;  // wire bytes of all requests
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

Error ResetRequestUnopened(uint32_t instance, const std::string& why)
{
    return Fail(Kind::NoDevice, "can't open instance " + std::to_string(instance) + " for the reset request: " + why);
}

Error ResetRequestFailed(uint32_t instance, uint32_t result)
{
    return Fail(Kind::Device,
                "the reset request to instance " + std::to_string(instance) + " failed: " + dump::ResultText(result));
}

std::string Operation::StatusAndReset() const
{
    return Advised(names_, "status") + " and " + Advised(names_, "reset");
}

Operation::Operation(Link& link, uint32_t instance, const Settings& settings, const Names& names)
    : link_(link), instance_(instance), settings_(settings), names_(names)
{
}

Error Operation::Open(uint32_t flags)
{
    if (Error error = Claim())
        return error;
    return link_.Open(flags);
}

Error Operation::Claim()
{
    if (claimed_)
        return {};
    const int64_t seconds = settings_.timeoutSeconds < 0 ? kDefaultWaitSeconds : settings_.timeoutSeconds;
    const std::string until = seconds == 0 ? "for it to end" : "up to " + std::to_string(seconds) + " s";
    std::string problem;
    switch (link_.Lock(
        seconds,
        [&](const std::string& holder) {
            if (settings_.waiting)
                settings_.waiting(holder + "; waiting " + until);
        },
        problem)) {
    case Link::Claim::Held:
        claimed_ = true;
        return {};
    case Link::Claim::Busy:
        return Fail(Kind::Busy, problem);
    case Link::Claim::Stopped:
        return Fail(Kind::Cancelled, "cancelled");
    case Link::Claim::Failed:
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
    std::string problem;
    if (!link_.StartTimer(timeoutSeconds_, problem))
        return NoMemory("the timer of the call's timeout (" + problem + ")");
    return {};
}

Error Operation::Stopped(Stop stop, const char* when) const
{
    if (stop == Stop::None)
        return {};
    Error error = stop == Stop::Cancelled
                      ? Fail(Kind::Cancelled, std::string("cancelled") + when)
                      : Fail(Kind::Timeout, "no answer from the device in " + std::to_string(timeoutSeconds_) +
                                                " s, so the transfer was stopped" + when + "; try " +
                                                StatusAndReset() + ", or a longer timeout (0: no limit)");
    error.moved = moved_;
    return error;
}

Error Operation::Prepare(uint64_t wireBytes, uint32_t transfers)
{
    std::string problem;
    requestBytes_ = link_.Reserve(wireBytes, problem);
    if (requestBytes_ == 0)
        return NoMemory(problem);
    const uint32_t requests = static_cast<uint32_t>((wireBytes + requestBytes_ - 1) / requestBytes_);
    return StartTimer(wireBytes * transfers, requests * transfers);
}

Error Operation::SendResetCommand(const char* when)
{
    if (settings_.noReset)
        return {};
    const Outcome outcome = link_.ResetCommand();
    if (Error stopped = Stopped(outcome.stop, when))
        return stopped;
    if (outcome.result != dump::kResultOk)
        return Fail(Kind::Device, "the reset command to instance " + std::to_string(instance_) + " failed: " +
                                      dump::ResultText(outcome.result) + "; try " + StatusAndReset() +
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
    std::unique_ptr<Scratch> scratch;
    if (!sink.Streams())
        if (Error error = CreateScratch(scratch))
            return error;
    if (Error error = Claim())
        return error;
    total_ = FileBytes(size, raw);
    if (Error error = Prepare(uint64_t{words} * 2, 1))
        return error;
    if (Error error = SendResetCommand(""))
        return error;
    uint32_t kept = 0;  // words stored
    Transfer transfer(*this, true, range.addr, words, range.mode, [&](uint8_t* wire, uint32_t bytes) {
        const uint32_t count = std::min(bytes / 2, size - kept);
        kept += count;
        if (!raw)
            dump::DumpInPlace(wire, count);
        const uint32_t fileBytes = static_cast<uint32_t>(FileBytes(count, raw));
        if (scratch) {
            if (!scratch->Write(wire, fileBytes))
                return Fail(Kind::File, "can't keep the dump in a scratch file (" + ErrorText() + "); is the disk full?");
        } else if (!sink.Append(wire, fileBytes)) {
            return sink.WriteFailed(LastSystemError());
        }
        return Error{};
    });
    if (Error error = transfer.Run(""))
        return error;
    if (scratch) {
        const std::unique_ptr<uint8_t[]> slice(new (std::nothrow) uint8_t[kBlockBytes]);
        if (!slice)
            return NoMemory("the dump's way out");
        if (!scratch->Rewind())
            return Fail(Kind::File, "can't read the dump back from its scratch file (" + ErrorText() + ")");
        for (uint64_t left = FileBytes(size, raw); left > 0;) {
            const uint32_t bytes = static_cast<uint32_t>(std::min<uint64_t>(left, kBlockBytes));
            if (!scratch->Read(slice.get(), bytes))
                return Fail(Kind::File, "can't read the dump back from its scratch file (" + ErrorText() + ")");
            if (!sink.Append(slice.get(), bytes))
                return sink.WriteFailed(LastSystemError());
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
    total_ = FileBytes(size, raw) * transfers;
    if (Error error = Prepare(uint64_t{size} * 2, transfers))
        return error;
    if (Error error = SendResetCommand(""))
        return error;
    SourceReader reader(source);
    Transfer write(*this, false, range.addr, size, range.mode, [&](uint8_t* wire, uint32_t bytes) {
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
    return CompareWith(range, source, *readBackMode, "verification found", kUnverified);
}

Error Operation::Compare(const Range& fitted, Source& source)
{
    Range range = fitted;
    if (Error error = FitSource("compare", range, source, settings_.raw, false, names_))
        return error;
    if (Error error = Claim())
        return error;
    total_ = FileBytes(*range.size, settings_.raw);
    if (Error error = Prepare(uint64_t{WordsMoved(*range.size)} * 2, 1))
        return error;
    if (Error error = SendResetCommand(""))
        return error;
    return CompareWith(range, source, range.mode, "comparison found", "");
}

Error Operation::CompareWith(const Range& range, Source& source, uint32_t mode, const char* finding,
                             const char* when)
{
    SourceReader expected(source);
    const uint32_t size = *range.size;
    const bool raw = settings_.raw;
    const std::unique_ptr<uint8_t[]> slice(new (std::nothrow) uint8_t[kBlockBytes]);
    if (!slice)
        return NoMemory("the comparison");
    Comparison comparison;
    uint32_t compared = 0;  // words
    Transfer read(*this, true, range.addr, WordsMoved(size), mode, [&](uint8_t* wire, uint32_t bytes) {
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
    // The request's length: 2 bytes a word, in 32 bits.
    if (Error error = StartTimer(*range.size << 1, 1))
        return error;
    const Outcome outcome = link_.Verify(range.addr, *range.size, range.mode, value);
    if (Error stopped = Stopped(outcome.stop, ""))
        return stopped;
    if (outcome.result != dump::kResultOk)
        return Fail(Kind::Device, "the verify request to instance " + std::to_string(instance_) + " failed: " +
                                      dump::ResultText(outcome.result) + "; try " + StatusAndReset());
    return {};
}

Error Operation::Status(uint8_t (&status)[8])
{
    if (Error error = Claim())
        return error;
    if (Error error = StartTimer(0, 1))
        return error;
    const Outcome outcome = link_.Status(status);
    if (Error stopped = Stopped(outcome.stop, ""))
        return stopped;
    const std::string what = "the status request to instance " + std::to_string(instance_);
    if (outcome.result != dump::kResultOk)
        return Fail(Kind::Device,
                    what + " failed: " + dump::ResultText(outcome.result) + "; try " + Advised(names_, "reset"));
    if (outcome.count != sizeof status)
        return Fail(Kind::Device, what + " was answered with " + std::to_string(outcome.count) + " of its " +
                                      std::to_string(sizeof status) + " bytes; try " + Advised(names_, "reset"));
    return {};
}

}  // namespace ops
