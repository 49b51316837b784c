// The one error of the dump operations: a kind, which each front end maps to
// its own code (uxfer's exit code, uXfer.Device's HRESULT), and the sentence
// both show.  Failures are values, never exceptions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ops {

enum class Kind {
    None,
    Usage,      // a bad or missing value, a range or size the device can't take
    NoDevice,   // no device at the instance, or it can't be opened
    Device,     // a request or transfer failed
    Timeout,    // no answer from the device within the call's time
    File,       // a file can't be used, read or written
    Mismatch,   // a compare or a verified write found a difference
    NoMemory,   // no memory, address space or timer for the call
    Cancelled,  // stopped by the user
    Busy,       // another program kept the device for longer than the call waits
};

// Where a compare or the read-back of a verified write differs first.
struct FirstDifference {
    uint64_t fileOffset = 0;
    uint32_t wordAddress = 0;
    uint64_t differingWords = 0;
};

struct Error {
    Kind kind = Kind::None;
    std::string text;  // UTF-8
    // File bytes the operation moved (both ways) before it stopped.
    uint64_t moved = 0;
    std::optional<FirstDifference> difference;

    explicit operator bool() const { return kind != Kind::None; }
};

inline Error Fail(Kind kind, std::string text)
{
    Error error;
    error.kind = kind;
    error.text = std::move(text);
    return error;
}

// How a front end's user names the values the sentences mention.
struct Names {
    const char* addr;     // "--addr", "address"
    const char* size;     // "--size", "size"
    const char* pad;      // "--pad"; null: short sources can't be padded
    const char* noReset;  // "--no-reset"; null: the reset command can't be left out
    // What chose the device, which the uxfer commands a sentence advises
    // repeat, so that followed as written they reach the same device.
    bool simulate = false;       // --simulate: the simulated devices
    uint32_t instance = 0;       // --instance N, given when not 0
    uint32_t loaderVersion = 0;  // --loader-version V; 0: not given
};

// "'uxfer COMMAND --simulate --instance 1'": `command` with the options of
// `names` that chose the device (list covers every instance: no --instance).
inline std::string Advised(const Names& names, const std::string& command)
{
    std::string text = "'uxfer " + command;
    if (names.simulate)
        text += " --simulate";
    if (names.instance && command != "list")
        text += " --instance " + std::to_string(names.instance);
    if (names.loaderVersion)
        text += " --loader-version " + std::to_string(names.loaderVersion);
    return text + "'";
}

}  // namespace ops
