// What the object does with the device, as uxfer's commands of the same
// names do it: the same requests (the dump's reset command, then one
// transfer of the whole range), the same file formats and atomic replace,
// the same sentences when something fails.  Each operation runs on the
// caller's thread; Cancel and the timeout stop it from another.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "connection_owner.h"
#include "dump/cancel_switch.h"
#include "failure.h"

namespace automation {

// How an object's transfers run.
struct TransferSettings {
    int32_t timeoutSeconds = -1;  // -1: 60 s and 1 s for every 128 KiB on the wire; 0: no limit
    bool raw = false;             // files and arrays hold the words as they are
    // Told (done, total) in file bytes as a transfer moves.
    std::function<void(uint64_t done, uint64_t total)> progress;
};

// A range of device words and the mode word of its requests.
struct Range {
    uint32_t addr = 0;
    std::optional<uint32_t> size;  // none: the file's or array's length gives it
    uint32_t mode = 0;
};

class Operations {
public:
    // The object's call of the device runs as long as this lives: a Cancel
    // from its start on stops it.
    Operations(ConnectionUse& connection, const TransferSettings& settings, dump::CancelSwitch& cancel)
        : connection_(connection), settings_(settings), cancel_(cancel), call_(cancel, connection.Instance())
    {
    }

    // uxfer read FILE; `written`: the file's bytes.
    Failure ReadToFile(const std::wstring& path, const Range& range, uint64_t& written);
    // uxfer write FILE [--verify]; `sent`: the file bytes sent.
    Failure WriteFromFile(const std::wstring& path, Range range, bool verify, uint64_t& sent);
    // uxfer compare FILE; `offset`: -1 when equal, else the file offset of the first difference.
    Failure CompareWithFile(const std::wstring& path, Range range, int64_t& offset);
    // The range as a file would hold it: the first `bytes` of `data`.
    Failure Read(const Range& range, std::unique_ptr<uint8_t[]>& data, uint32_t& bytes);
    Failure Write(Range range, const std::vector<uint8_t>& data, uint64_t& sent);
    Failure Verify(const Range& range, uint8_t (&value)[4]);
    Failure Status(uint8_t (&status)[8]);

private:
    using Buffer = std::unique_ptr<uint8_t[]>;

    // The wire image of `path` for `command`; without a size in `range` the
    // file's length gives it.
    Failure LoadFile(const char* command, const std::wstring& path, Range& range, Buffer& wire);
    Failure CheckFileSize(const std::string& name, const char* command, uint64_t length, Range& range);
    Failure Allocate(uint32_t bytes, Buffer& buffer);

    // Starts the timeout of the call, whose transfers move `wireBytes` (the
    // default timeout grows with them); a failure when there is no timer.
    Failure StartTimer(uint64_t wireBytes);
    // Runs `step` of the call (see dump::CancelSwitch::Run); a failure says
    // why the call was stopped.
    Failure Step(const std::function<bool()>& step);
    Failure BeginTransfer();
    // One uXferRead or uXferWrite of the whole range, with progress; a read's
    // `onChunk` is told of each chunk moved.
    Failure Move(bool read, const Range& range, uint8_t* wire, const std::function<void(uint32_t)>& onChunk);
    Failure ReadBack(const Range& range, uint8_t* wire);

    ConnectionUse& connection_;
    const TransferSettings& settings_;
    dump::CancelSwitch& cancel_;
    dump::CancelSwitch::Call call_;
    uint32_t callTimeout_ = 0;
};

// uxfer reset CODE on `instance`, on a connection of the library's own.
Failure SendReset(uint32_t instance, uint32_t code);

}  // namespace automation
