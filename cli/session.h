// The device side of one command: its call of the device (a console event or
// the timeout stops it), the library's connection, opened on the command's
// instance and closed (uClose) when the call ends, also after a failed open,
// and the progress line.
#pragma once

#include <cstdint>
#include <optional>

#include "dump/connection.h"
#include "ops/operation.h"
#include "ops/xfer_link.h"
#include "progress.h"

namespace cli {

struct CommonOptions;

class DeviceCall {
public:
    // `timeoutSeconds`: --timeout (none: the default, 0: no limit); `progress`:
    // --progress (none: the command has no progress line).
    DeviceCall(const CommonOptions& common, std::optional<uint32_t> timeoutSeconds, bool raw, bool noReset,
               std::optional<bool> progress);

    // Begins the call and opens the device with `flags` (OPEN_*).  Prints
    // the error and returns the exit code.
    int Open(uint32_t flags);
    ops::Operation* operator->() { return &*operation_; }

private:
    const CommonOptions& common_;
    ProgressLine line_;
    ops::Settings settings_;
    const ops::Names names_;
    dump::Connection connection_{dump::Connection::AfterFailure::Close};
    std::optional<ops::XferLink> link_;
    std::optional<ops::Operation> operation_;
};

}  // namespace cli
