// verify: the device's 4-byte verification value of a range, as received.
#include <CLI/CLI.hpp>

#include "cancel.h"
#include "commands.h"
#include "dump/dump_requests.h"
#include "errors.h"
#include "output.h"
#include "session.h"
#include "transfer.h"
#include "uXfer.h"

namespace cli {

namespace {
RangeOptions options;
}  // namespace

void AddVerifyOptions(CLI::App& command, NumberOptions& numbers)
{
    AddRangeOptions(command, numbers, options);
    AddTimeoutOption(command, numbers, options);
}

int RunVerify(const CommonOptions& common)
{
    // First made, last gone: a console event is handled until the end.
    ConsoleBreak consoleBreak(common.instance);
    if (!options.size)
        return Fail(kExitUsage, "verify needs --size; run 'uxfer verify --help'");
    const uint32_t addr = options.addr.value_or(0);
    const uint32_t size = *options.size;
    if (const int code = CheckRange(addr, size))
        return code;
    const TransferDesc desc = dump::DeviceDesc(addr, size, options.mode.value_or(0));
    if (const int code = BeginCall(TransferTimeout(options, desc.length)))
        return code;
    DeviceSession session(common.instance, common.loaderVersion.value_or(0));
    if (const int code = session.Open(OPEN_ALL))
        return code;
    uint8_t value[4] = {};
    uint32_t result = RESULT_OK;
    if (const int code = RunCancellable([&] {
            result = uXferVerify(&desc, value);
            return result == RESULT_OK;
        }))
        return code;
    if (result != RESULT_OK)
        return Fail(kExitDevice, "the verify request to instance " + std::to_string(common.instance) +
                                     " failed: " + ResultText(result) + "; try 'uxfer status' and 'uxfer reset'");
    if (common.json)
        PrintJson({{"command", "verify"},
                   {"instance", common.instance},
                   {"addr", addr},
                   {"size", size},
                   {"value", ByteArray(value, sizeof value)}});
    else
        PrintLine("verify: " + HexBytes(value, sizeof value));
    return kExitOk;
}

}  // namespace cli
