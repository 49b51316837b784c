// status: the device's 8-byte status block.
#include <string>

#include "cancel.h"
#include "commands.h"
#include "errors.h"
#include "output.h"
#include "session.h"
#include "usb_protocol.h"

namespace cli {

int RunStatus(const CommonOptions& common)
{
    ConsoleBreak consoleBreak;
    DeviceCall call(common, std::nullopt, false, false, std::nullopt);
    if (const int code = call.Open(Opens::ControlOnly))
        return code;
    StatusBlock status = {};
    if (const int code = Exit(call->Status(status.bytes)))
        return code;
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
