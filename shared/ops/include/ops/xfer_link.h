// The link of the Windows editions: uXfer.dll (or uXferSim.dll, whichever
// the front end loaded) on the process's one connection.  A cancel or the
// timeout of the call (dump::CancelSwitch) stops its steps; the device lock
// (dump::DeviceLock) keeps other programs off the device for the call.
//
// The library moves a range into or out of one buffer, a 64 KiB chunk at a
// time, and after each chunk sends its progress message on the caller's
// thread before it touches the next.  So the buffer is address space
// reserved for the whole request, of which only a few blocks ahead of the
// library are committed: a block the library is done with is handed over (or,
// for a write, the block ahead is made) in the message handler, then
// decommitted.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "dump/cancel_switch.h"
#include "dump/connection.h"
#include "dump/device_lock.h"
#include "ops/link.h"
#include "ops/operation.h"
#include "win/hidden_window.h"
#include "win/unique_any.h"

namespace ops {

// Selects the class of `loaderVersion` (0: the default) and `instance` and
// opens it with `flags` (OPEN_*), under the instance lock.
Error Open(dump::Connection& connection, uint32_t instance, uint32_t loaderVersion, uint32_t flags,
           const Names& names);
// The library's reset request with `code`, on a connection of its own.
Error SendResetRequest(uint32_t instance, uint32_t code, const Names& names);

class XferLink : public Link {
public:
    // The call on `instance` runs from here to the end of the link;
    // `connection` is open on it, or opened by Open.  `settings` give the
    // class and library that name the device the call locks.
    XferLink(dump::CancelSwitch& cancel, dump::Connection& connection, uint32_t instance, const Settings& settings,
             const Names& names);

    Claim Lock(int64_t waitSeconds, const std::function<void(const std::string&)>& waiting,
               std::string& problem) override;
    Error Open(uint32_t flags) override;
    bool StartTimer(uint32_t seconds, std::string& problem) override;
    uint64_t Reserve(uint64_t wireBytes, std::string& problem) override;
    Outcome Move(bool read, uint32_t addr, uint32_t bytes, uint32_t mode, const Blocks& blocks,
                 Error& failure) override;
    Outcome ResetCommand() override;
    Outcome Verify(uint32_t addr, uint32_t words, uint32_t mode, uint8_t (&value)[4]) override;
    Outcome Status(uint8_t (&status)[8]) override;

private:
    class Request;

    // Runs `step`, a library call that may block in the device, under the
    // cancel switch.
    Stop Step(const std::function<bool()>& step);

    dump::CancelSwitch& cancel_;
    dump::CancelSwitch::Call call_;
    dump::Connection& connection_;
    uint32_t instance_;
    const Settings& settings_;
    const Names& names_;
    dump::DeviceLock device_;
    win::unique_region region_;  // the transfer window
    // Set up while the device opens, for a call that moves data.
    std::optional<win::WindowClassAhead> windowClass_;
};

}  // namespace ops
