// The device side of one command: its call of the device (a console event or
// the timeout stops it), the system's link to the device, opened on the
// command's instance and closed when the call ends, also after a failed open,
// and the progress line.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "ops/operation.h"
#include "progress.h"

namespace cli {

struct CommonOptions;

// What a command opens of the device: the control pipe (status), or the
// control and both bulk pipes.
enum class Opens { ControlOnly, AllPipes };

class DeviceCall {
public:
    // `timeoutSeconds`: --timeout (none: the default, 0: no limit); `progress`:
    // --progress (none: the command has no progress line).
    DeviceCall(const CommonOptions& common, std::optional<uint32_t> timeoutSeconds, bool raw, bool noReset,
               std::optional<bool> progress);

    // Begins the call and opens the device.  Prints the error and returns
    // the exit code.
    int Open(Opens opens);
    ops::Operation* operator->() { return &*operation_; }

private:
    struct Device;  // the system's: windows/session.cpp, linux/session.cpp
    struct DeviceDeleter {
        void operator()(Device* device) const;
    };

    const CommonOptions& common_;
    ProgressLine line_;
    ops::Settings settings_;
    const ops::Names names_;
    std::unique_ptr<Device, DeviceDeleter> device_;
    std::optional<ops::Operation> operation_;
};

}  // namespace cli
