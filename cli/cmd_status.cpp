// status: the device's 8-byte status block.
#include <string>

#include "cancel.h"
#include "commands.h"
#include "dump/connection.h"
#include "errors.h"
#include "output.h"
#include "session.h"
#include "uXfer.h"
#include "usb_protocol.h"

namespace cli {

int RunStatus(const CommonOptions& common)
{
    ConsoleBreak consoleBreak(common.instance);
    if (const int code = BeginCall(dump::DefaultTimeoutSeconds(0)))
        return code;
    DeviceSession session(common.instance, common.loaderVersion.value_or(0));
    if (const int code = session.Open(OPEN_CONTROL))
        return code;
    StatusBlock status = {};
    uint32_t count = 0;
    uint32_t result = RESULT_OK;
    if (const int code = RunCancellable([&] {
            result = uGetStatus(status.bytes, &count);
            return result == RESULT_OK && count == sizeof status.bytes;
        }))
        return code;
    const std::string what = "the status request to instance " + std::to_string(common.instance);
    if (result != RESULT_OK)
        return Fail(kExitDevice, what + " failed: " + ResultText(result) + "; try 'uxfer reset'");
    if (count != sizeof status.bytes)
        return Fail(kExitDevice, what + " was answered with " + std::to_string(count) + " of its " +
                                     std::to_string(sizeof status.bytes) + " bytes; try 'uxfer reset'");
    const bool active = status.bytes[0] & STATUS_ACTIVE;
    const bool error = status.bytes[0] & STATUS_ERROR;
    if (common.json)
        PrintJson({{"command", "status"},
                   {"instance", common.instance},
                   {"bytes", ByteArray(status.bytes, sizeof status.bytes)},
                   {"active", active},
                   {"error", error}});
    else
        PrintLine("status: " + HexBytes(status.bytes, sizeof status.bytes) + "  active: " + (active ? "yes" : "no") +
                  "  error: " + (error ? "yes" : "no"));
    return kExitOk;
}

}  // namespace cli
