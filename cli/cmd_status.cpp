// status: the device's 8-byte status block.
#include <string>

#include "commands.h"
#include "errors.h"
#include "output.h"
#include "session.h"
#include "uXfer.h"
#include "usb_protocol.h"

namespace cli {

int RunStatus(const CommonOptions& common)
{
    DeviceSession session(common.instance, common.loaderVersion.value_or(0));
    if (const int code = session.Open(OPEN_CONTROL))
        return code;
    StatusBlock status = {};
    uint32_t count = 0;
    const uint32_t result = uGetStatus(status.bytes, &count);
    if (result != RESULT_OK)
        return Fail(kExitDevice, "the status request to instance " + std::to_string(common.instance) +
                                     " failed: " + ResultText(result) + "; try 'uxfer reset'");
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
