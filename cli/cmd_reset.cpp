// reset: the reset request with a code: on Windows the library's, on a
// connection of its own, which also ends a transfer another uxfer is waiting
// on; on Linux on the chosen device (platform.h, SendResetRequest).
#include <CLI/CLI.hpp>

#include <string>

#include "commands.h"
#include "errors.h"
#include "output.h"
#include "platform.h"

namespace cli {

namespace {
constexpr uint32_t kDefaultCode = 2;
std::optional<uint32_t> code;
}  // namespace

void AddResetOptions(CLI::App& command, NumberOptions& numbers)
{
    numbers.Add(command, "CODE", "the reset code, 0 to 0xFFFF (default 2)", "CODE", false, kMax16, kLimit16, code);
}

int RunReset(const CommonOptions& common)
{
    const uint32_t resetCode = code.value_or(kDefaultCode);
    if (const int exit = SendResetRequest(common, resetCode))
        return exit;
    if (common.json)
        PrintJson({{"command", "reset"}, {"instance", common.instance}, {"code", resetCode}});
    else if (!common.quiet)
        PrintLine("reset: code " + std::to_string(resetCode) + " sent to instance " + std::to_string(common.instance));
    return kExitOk;
}

}  // namespace cli
