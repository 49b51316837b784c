// The short device requests: status, verify and reset.
#include <cstdio>
#include <string>

#include "cancel.h"
#include "commands.h"
#include "dump_requests.h"
#include "errors.h"
#include "instance_lock.h"
#include "numbers.h"
#include "output.h"
#include "session.h"
#include "uXfer.h"
#include "usb_protocol.h"

namespace uxfer {

namespace {

std::string HexBytes(const uint8_t* bytes, size_t count)
{
    std::string text;
    char byte[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", bytes[i]);
        text += byte;
    }
    return text;
}

Json ByteArray(const uint8_t* bytes, size_t count)
{
    Json array = Json::array();
    for (size_t i = 0; i < count; ++i)
        array.push_back(bytes[i]);
    return array;
}

}  // namespace

int RunStatus(const Options& options)
{
    DeviceSession session(options.instance, options.loaderVersion.value_or(0));
    if (const int code = session.Open(OPEN_CONTROL))
        return code;
    StatusBlock status = {};
    uint32_t count = 0;
    const uint32_t result = uGetStatus(status.bytes, &count);
    if (result != RESULT_OK)
        return Fail(kExitDevice, "the status request to instance " + std::to_string(options.instance) +
                                     " failed: " + ResultText(result) + "; try 'uxfer reset'");
    const bool active = status.bytes[0] & STATUS_ACTIVE;
    const bool error = status.bytes[0] & STATUS_ERROR;
    if (options.json)
        PrintJson({{"command", "status"},
                   {"instance", options.instance},
                   {"bytes", ByteArray(status.bytes, sizeof status.bytes)},
                   {"active", active},
                   {"error", error}});
    else
        PrintLine("status: " + HexBytes(status.bytes, sizeof status.bytes) + "  active: " + (active ? "yes" : "no") +
                  "  error: " + (error ? "yes" : "no"));
    return kExitOk;
}

int RunVerify(const Options& options)
{
    // First made, last gone: a console event is handled until the end.
    ConsoleBreak consoleBreak(options.instance);
    if (!options.size)
        return Fail(kExitUsage, "verify needs --size; run 'uxfer verify --help'");
    const uint32_t addr = options.addr.value_or(0);
    const uint32_t size = *options.size;
    if (const int code = CheckRange(addr, size))
        return code;
    DeviceSession session(options.instance, options.loaderVersion.value_or(0));
    if (const int code = session.Open(OPEN_ALL))
        return code;
    const TransferDesc desc = dump::DeviceDesc(addr, size, options.mode.value_or(0));
    uint8_t value[4] = {};
    uint32_t result = RESULT_OK;
    if (const int code =
            RunCancellable(TransferTimeout(options, desc.length), [&] { result = uXferVerify(&desc, value); }))
        return code;
    if (result != RESULT_OK)
        return Fail(kExitDevice, "the verify request to instance " + std::to_string(options.instance) +
                                     " failed: " + ResultText(result) + "; try 'uxfer status' and 'uxfer reset'");
    if (options.json)
        PrintJson({{"command", "verify"},
                   {"instance", options.instance},
                   {"addr", addr},
                   {"size", size},
                   {"value", ByteArray(value, sizeof value)}});
    else
        PrintLine("verify: " + HexBytes(value, sizeof value));
    return kExitOk;
}

int RunReset(const Options& options)
{
    uint32_t result;
    {
        // As a cancel does: select our instance and send, with no other uxfer selecting between.
        InstanceLock lock;
        if (!lock.Held())
            return Fail(kExitNoDevice, "can't select instance " + std::to_string(options.instance) + ": " +
                                           lock.Problem());
        uSetInstance(options.instance);
        result = uSetCancel(options.resetCode);
    }
    const std::string instance = std::to_string(options.instance);
    if (result == RESULT_OPEN_FAILED)
        return Fail(kExitNoDevice, "can't open instance " + instance + " for the reset request: " +
                                       ResultText(result) + "; run 'uxfer list'");
    if (result != RESULT_OK)
        return Fail(kExitDevice, "the reset request to instance " + instance + " failed: " + ResultText(result));
    if (options.json)
        PrintJson({{"command", "reset"}, {"instance", options.instance}, {"code", options.resetCode}});
    else if (!options.quiet)
        PrintLine("reset: code " + std::to_string(options.resetCode) + " sent to instance " + instance);
    return kExitOk;
}

}  // namespace uxfer
