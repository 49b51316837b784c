// The device side of one command: the library's connection, opened on this
// process's instance and closed (uClose) when the session ends, also after a
// failed open.
#pragma once

#include <cstdint>
#include <string>

#include "dump/connection.h"

namespace cli {

class DeviceSession {
public:
    DeviceSession(uint32_t instance, uint32_t loaderVersion)
        : instance_(instance), loaderVersion_(loaderVersion), connection_(dump::Connection::AfterFailure::Close)
    {
    }

    // Selects the instance and opens it with the flags (OPEN_*), both under
    // the instance lock.  On failure prints the error and returns the exit code.
    int Open(uint32_t flags);
    // The dump tool's reset command, as before its transfers.  On failure
    // prints the error and returns the exit code.
    int SendReset();

private:
    uint32_t instance_;
    uint32_t loaderVersion_;
    dump::Connection connection_;
};

}  // namespace cli
