// reset: the reset request with CODE, on the chosen device.
#include <CLI/CLI.hpp>

#include "cancel.h"
#include "commands.h"
#include "errors.h"
#include "linux/devices.h"
#include "output.h"

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
    ConsoleBreak consoleBreak;
    const uint32_t resetCode = code.value_or(kDefaultCode);
    Buses buses;
    std::unique_ptr<usblink::Link> link;
    std::string problem;
    const std::string instance = std::to_string(common.instance);
    if (const int exit = OpenChosenLink(common, usblink::Timeouts{}, buses, link, problem))
        return problem.empty() ? exit
                               : Fail(exit, "can't open instance " + instance + " for the reset request: " + problem);
    ConsoleBreak::Stops(link.get());
    const usblink::Result reset = link->Reset(static_cast<uint16_t>(resetCode));
    ConsoleBreak::Stops(nullptr);
    if (reset.code == usblink::Code::Cancelled)
        return Fail(kExitCancelled, "cancelled");
    if (!reset.ok())
        return Fail(kExitDevice, "the reset request to instance " + instance + " failed: " +
                                     ResultText(dump::kResultIoFailed) + " (" + reset.detail + ")");
    if (common.json)
        PrintJson({{"command", "reset"}, {"instance", common.instance}, {"code", resetCode}});
    else if (!common.quiet)
        PrintLine("reset: code " + std::to_string(resetCode) + " sent to instance " + instance);
    return kExitOk;
}

}  // namespace cli
