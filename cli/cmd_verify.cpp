// verify: the device's 4-byte verification value of a range, as received.
#include <CLI/CLI.hpp>

#include "cancel.h"
#include "commands.h"
#include "errors.h"
#include "output.h"
#include "session.h"
#include "transfer.h"

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
    ConsoleBreak consoleBreak;
    if (!options.size)
        return Fail(kExitUsage, "verify needs --size; run 'uxfer verify --help'");
    const ops::Range range = {options.addr.value_or(0), options.size, options.mode.value_or(0)};
    if (const int code = Exit(ops::CheckRange(range, kNames, false)))
        return code;
    DeviceCall call(common, options.timeoutSeconds, false, false, std::nullopt);
    if (const int code = call.Open(Opens::AllPipes))
        return code;
    uint8_t value[4] = {};
    if (const int code = Exit(call->Verify(range, value)))
        return code;
    if (common.json)
        PrintJson({{"command", "verify"},
                   {"instance", common.instance},
                   {"addr", range.addr},
                   {"size", *range.size},
                   {"value", ByteArray(value, sizeof value)}});
    else
        PrintLine("verify: " + HexBytes(value, sizeof value));
    return kExitOk;
}

}  // namespace cli
