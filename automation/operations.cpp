#include "operations.h"

#include <cstring>
#include <new>

#include "arguments.h"
#include "dump/chunk_messages.h"
#include "dump/compare.h"
#include "dump/connection.h"
#include "dump/dump_requests.h"
#include "dump/file.h"
#include "dump/instance_lock.h"
#include "dump/numbers.h"
#include "dump/results.h"
#include "dump/stream.h"
#include "dump/wire.h"
#include "uXfer.h"
#include "uXferAuto.h"
#include "win/text.h"
#include "win/unique_any.h"

namespace automation {

namespace {

const wchar_t kTempPrefix[] = L"uxa";

std::string Shown(const std::wstring& path)
{
    return win::Narrow(win::ShownPath(path), CP_UTF8);
}

std::string ErrorText()
{
    return win::SystemErrorText(GetLastError());
}

Failure CheckRange(const Range& range)
{
    const std::string problem = dump::RangeProblem(range.addr, *range.size, "address", "size");
    return problem.empty() ? Failure{} : Fail(UXA_E_ARGUMENT, problem);
}

// The dump file being written: a temporary file beside the target that
// replaces it once the whole dump is in.
class FileSink : public dump::DumpSink {
public:
    FileSink(const std::wstring& path) : file_(path, kTempPrefix) {}
    bool Open() { return file_.Open(); }
    bool Streams() const override { return true; }
    bool Append(const uint8_t* data, uint32_t bytes) override { return file_.Write(data, bytes); }
    bool Commit() { return file_.Commit(); }
    const std::wstring& TempPath() const { return file_.Path(); }

private:
    dump::ReplacementFile file_;
};

// Tells the transfer's chunks to `onChunk` and, in file bytes, to the settings' progress.
class ProgressRelay {
public:
    ProgressRelay(uint32_t wireBytes, bool raw, const TransferSettings& settings,
                  const std::function<void(uint32_t)>& onChunk)
        : wireBytes_(wireBytes), raw_(raw), settings_(settings), onChunk_(onChunk)
    {
        if (settings_.progress || onChunk_)
            messages_.Attach([this](uint32_t bytes) { Advance(bytes); });
    }

private:
    void Advance(uint32_t bytes)
    {
        if (onChunk_)
            onChunk_(bytes);
        done_ = bytes < wireBytes_ - done_ ? done_ + bytes : wireBytes_;
        if (settings_.progress) {
            const uint32_t perFileByte = raw_ ? 1 : 2;
            settings_.progress(done_ / perFileByte, wireBytes_ / perFileByte);
        }
    }

    dump::ChunkMessages messages_;
    uint32_t wireBytes_;
    bool raw_;
    const TransferSettings& settings_;
    const std::function<void(uint32_t)>& onChunk_;
    uint32_t done_ = 0;
};

// Why a call was stopped; nothing when it wasn't.
Failure StopFailure(dump::CancelSwitch::Outcome outcome, uint32_t timeoutSeconds)
{
    switch (outcome) {
    case dump::CancelSwitch::Outcome::Ran:
        return {};
    case dump::CancelSwitch::Outcome::Cancelled:
        return Fail(UXA_E_CANCELLED, "cancelled");
    case dump::CancelSwitch::Outcome::TimedOut:
        return Fail(UXA_E_TIMEOUT, "no answer from the device in " + std::to_string(timeoutSeconds) +
                                       " s, so the transfer was stopped; try 'uxfer status' and 'uxfer reset', "
                                       "or a longer Timeout (0: no limit)");
    case dump::CancelSwitch::Outcome::NoTimer:
        break;
    }
    return NoMemory("the timer of Timeout (" + ErrorText() + ")");
}

}  // namespace

Failure Operations::Allocate(uint32_t bytes, Buffer& buffer)
{
    buffer.reset(new (std::nothrow) uint8_t[bytes]);
    if (!buffer)
        return NoMemory("a transfer of " + std::to_string(bytes) + " bytes; use a smaller size");
    return {};
}

Failure Operations::StartTimer(uint64_t wireBytes)
{
    callTimeout_ = settings_.timeoutSeconds < 0 ? dump::DefaultTimeoutSeconds(wireBytes)
                                                : static_cast<uint32_t>(settings_.timeoutSeconds);
    return StopFailure(cancel_.StartTimer(callTimeout_), callTimeout_);
}

Failure Operations::Step(const std::function<bool()>& step)
{
    return StopFailure(cancel_.Run(step), callTimeout_);
}

Failure Operations::BeginTransfer()
{
    Failure failure;
    if (Failure stopped = Step([&] {
            failure = connection_.SendReset();
            return !failure;
        }))
        return stopped;
    return failure;
}

Failure Operations::Move(bool read, const Range& range, uint8_t* wire, const std::function<void(uint32_t)>& onChunk)
{
    const TransferDesc desc = dump::DeviceDesc(range.addr, *range.size, range.mode);
    const uint32_t instance = connection_.Instance();
    const std::string what = std::string(read ? "the read of " : "the write of ") + std::to_string(desc.length) +
                             " wire bytes " + (read ? "from" : "to") + " instance " + std::to_string(instance);
    uint32_t count = 0;
    uint32_t result = RESULT_OK;
    // A transfer that moved everything is done, whatever stop came meanwhile.
    if (Failure stopped = Step([&] {
            ProgressRelay progress(desc.length, settings_.raw, settings_, onChunk);
            result = read ? uXferRead(&desc, wire, &count) : uXferWrite(&desc, wire, &count);
            return result == RESULT_OK && count == desc.length;
        }))
        return stopped;
    if (result != RESULT_OK)
        return Fail(UXA_E_DEVICE, what + " failed after " + std::to_string(count) + " bytes: " +
                                      dump::ResultText(result) + "; try 'uxfer status' and 'uxfer reset'");
    if (count != desc.length)
        return Fail(UXA_E_DEVICE, what + " moved only " + std::to_string(count) + " bytes; try 'uxfer status'");
    return {};
}

Failure Operations::ReadToFile(const std::wstring& path, const Range& range, uint64_t& written)
{
    if (Failure failure = CheckRange(range))
        return failure;
    const std::wstring full = win::FullPath(path);
    const std::string name = win::Narrow(path, CP_UTF8);
    switch (dump::CheckReplaceable(full)) {
    case dump::ReplaceCheck::Ok:
        break;
    case dump::ReplaceCheck::Folder:
        return Fail(UXA_E_FILE, "can't write the dump to " + name + ": it is a folder; give a file name");
    case dump::ReplaceCheck::Held:
        return Fail(UXA_E_FILE,
                    "can't replace " + name + " (" + ErrorText() + "); is it read-only or open in another program?");
    }
    FileSink sink(full);
    if (!sink.Open())
        return Fail(UXA_E_FILE, "can't create a file beside " + name + " (" + ErrorText() +
                                    "); does its folder exist, and may you write there?");
    const uint32_t size = *range.size;
    Buffer wire;
    if (Failure failure = Allocate(size * 2, wire))
        return failure;
    if (Failure failure = StartTimer(size * 2))
        return failure;
    if (Failure failure = BeginTransfer())
        return failure;
    dump::DumpStream stream(sink, wire.get(), size * 2, settings_.raw);
    if (Failure failure =
            Move(true, range, wire.get(), [&stream](uint32_t bytes) { stream.Received(bytes); }))
        return failure;
    DWORD error = 0;
    if (!stream.Finish(error))
        return Fail(UXA_E_FILE, "can't write the dump to " + Shown(sink.TempPath()) + " (" +
                                    win::SystemErrorText(error) + "); is the disk full?");
    if (!sink.Commit())
        return Fail(UXA_E_FILE, "can't put the dump in place of " + name + " (" + ErrorText() + ")");
    written = settings_.raw ? uint64_t{size} * 2 : size;
    return {};
}

Failure Operations::CheckFileSize(const std::string& name, const char* command, uint64_t length, Range& range)
{
    if (!range.size) {
        uint32_t words = 0;
        const std::string problem = dump::SizeFromLength(name, command, length, settings_.raw, "size", words);
        if (!problem.empty())
            return Fail(UXA_E_ARGUMENT, problem);
        range.size = words;
    }
    if (Failure failure = CheckRange(range))
        return failure;
    const uint64_t needed = settings_.raw ? uint64_t{*range.size} * 2 : *range.size;
    const std::string problem = dump::ShortSourceProblem(name, command, length, needed, "give a smaller size");
    return problem.empty() ? Failure{} : Fail(UXA_E_ARGUMENT, problem);
}

Failure Operations::LoadFile(const char* command, const std::wstring& path, Range& range, Buffer& wire)
{
    const std::wstring full = win::FullPath(path);
    const std::string name = win::Narrow(path, CP_UTF8);
    win::unique_file file;
    uint64_t length = 0;
    std::string problem;
    if (!dump::OpenSource(full, name, file, length, problem))
        return Fail(UXA_E_FILE, problem);
    if (Failure failure = CheckFileSize(name, command, length, range))
        return failure;
    const uint32_t size = *range.size;
    if (Failure failure = Allocate(size * 2, wire))
        return failure;
    const uint32_t fileBytes = settings_.raw ? size * 2 : size;
    uint32_t got = 0;
    if (!dump::ReadAll(file.get(), wire.get(), fileBytes, got) || got != fileBytes)
        return Fail(UXA_E_FILE, "can't read " + name + " (" + ErrorText() + ")");
    if (!settings_.raw)
        dump::WireInPlace(wire.get(), size);
    return {};
}

Failure Operations::ReadBack(const Range& range, uint8_t* wire)
{
    if (Failure failure = BeginTransfer())
        return failure;
    return Move(true, range, wire, nullptr);
}

Failure Operations::WriteFromFile(const std::wstring& path, Range range, bool verify, uint64_t& sent)
{
    Buffer wire;
    if (Failure failure = LoadFile("write", path, range, wire))
        return failure;
    const uint32_t size = *range.size;
    Buffer readBack;
    if (verify)
        if (Failure failure = Allocate(size * 2, readBack))
            return failure;
    if (Failure failure = StartTimer(uint64_t{size} * (verify ? 4 : 2)))
        return failure;
    if (Failure failure = BeginTransfer())
        return failure;
    if (Failure failure = Move(false, range, wire.get(), nullptr))
        return failure;
    if (verify) {
        // Read back the way a read does, with the read mode word.
        Range back = range;
        back.mode = 0;
        if (Failure failure = ReadBack(back, readBack.get())) {
            if (failure.code == UXA_E_CANCELLED || failure.code == UXA_E_TIMEOUT)
                failure.text += " after the write, before its verification: the device holds the data unverified";
            return failure;
        }
        const dump::Difference difference = dump::CompareWire(wire.get(), readBack.get(), size, settings_.raw);
        if (difference.count)
            return Fail(UXA_E_MISMATCH, dump::DifferenceText("verification found", difference, size, range.addr,
                                                             settings_.raw, wire.get(), readBack.get()));
    }
    sent = settings_.raw ? uint64_t{size} * 2 : size;
    return {};
}

Failure Operations::CompareWithFile(const std::wstring& path, Range range, int64_t& offset)
{
    Buffer expected;
    if (Failure failure = LoadFile("compare", path, range, expected))
        return failure;
    const uint32_t size = *range.size;
    Buffer readBack;
    if (Failure failure = Allocate(size * 2, readBack))
        return failure;
    if (Failure failure = StartTimer(size * 2))
        return failure;
    if (Failure failure = ReadBack(range, readBack.get()))
        return failure;
    const dump::Difference difference = dump::CompareWire(expected.get(), readBack.get(), size, settings_.raw);
    offset = difference.count ? static_cast<int64_t>(dump::FileOffset(difference, settings_.raw)) : -1;
    return {};
}

Failure Operations::Read(const Range& range, Buffer& data, uint32_t& bytes)
{
    if (Failure failure = CheckRange(range))
        return failure;
    const uint32_t size = *range.size;
    if (Failure failure = Allocate(size * 2, data))
        return failure;
    if (Failure failure = StartTimer(size * 2))
        return failure;
    if (Failure failure = ReadBack(range, data.get()))
        return failure;
    if (!settings_.raw)
        dump::DumpInPlace(data.get(), size);
    bytes = settings_.raw ? size * 2 : size;
    return {};
}

Failure Operations::Write(Range range, const std::vector<uint8_t>& data, uint64_t& sent)
{
    if (Failure failure = CheckFileSize("data", "write", data.size(), range))
        return failure;
    const uint32_t size = *range.size;
    const uint32_t bytes = settings_.raw ? size * 2 : size;
    Buffer wire;
    if (Failure failure = Allocate(size * 2, wire))
        return failure;
    std::memcpy(wire.get(), data.data(), bytes);
    if (!settings_.raw)
        dump::WireInPlace(wire.get(), size);
    if (Failure failure = StartTimer(size * 2))
        return failure;
    if (Failure failure = BeginTransfer())
        return failure;
    if (Failure failure = Move(false, range, wire.get(), nullptr))
        return failure;
    sent = bytes;
    return {};
}

Failure Operations::Verify(const Range& range, uint8_t (&value)[4])
{
    if (Failure failure = CheckRange(range))
        return failure;
    const TransferDesc desc = dump::DeviceDesc(range.addr, *range.size, range.mode);
    if (Failure failure = StartTimer(desc.length))
        return failure;
    uint32_t result = RESULT_OK;
    if (Failure stopped = Step([&] {
            result = uXferVerify(&desc, value);
            return result == RESULT_OK;
        }))
        return stopped;
    if (result != RESULT_OK)
        return Fail(UXA_E_DEVICE, "the verify request to instance " + std::to_string(connection_.Instance()) +
                                      " failed: " + dump::ResultText(result) + "; try 'uxfer status' and 'uxfer reset'");
    return {};
}

Failure Operations::Status(uint8_t (&status)[8])
{
    if (Failure failure = StartTimer(0))
        return failure;
    uint32_t count = 0;
    uint32_t result = RESULT_OK;
    if (Failure stopped = Step([&] {
            result = uGetStatus(status, &count);
            return result == RESULT_OK && count == sizeof status;
        }))
        return stopped;
    const std::string what = "the status request to instance " + std::to_string(connection_.Instance());
    if (result != RESULT_OK)
        return Fail(UXA_E_DEVICE, what + " failed: " + dump::ResultText(result) + "; try 'uxfer reset'");
    if (count != sizeof status)
        return Fail(UXA_E_DEVICE, what + " was answered with " + std::to_string(count) + " of its " +
                                      std::to_string(sizeof status) + " bytes; try 'uxfer reset'");
    return {};
}

Failure SendReset(uint32_t instance, uint32_t code)
{
    uint32_t result = 0;
    std::string problem;
    if (!dump::SendCancel(instance, code, result, problem))
        return Fail(UXA_E_NO_DEVICE, "can't select instance " + std::to_string(instance) + ": " + problem);
    if (result == RESULT_OPEN_FAILED)
        return Fail(UXA_E_NO_DEVICE, "can't open instance " + std::to_string(instance) +
                                         " for the reset request: " + dump::ResultText(result) + "; run 'uxfer list'");
    if (result != RESULT_OK)
        return Fail(UXA_E_DEVICE, "the reset request to instance " + std::to_string(instance) + " failed: " +
                                      dump::ResultText(result));
    return {};
}

}  // namespace automation
