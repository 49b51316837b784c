#include "cancel.h"
#include "errors.h"
#include "linux/devices.h"
#include "options.h"
#include "platform.h"

namespace cli {

int SendResetRequest(const CommonOptions& common, uint32_t code)
{
    ConsoleBreak consoleBreak;
    Buses buses;
    std::unique_ptr<usblink::Link> link;
    std::string problem;
    const std::string instance = std::to_string(common.instance);
    if (const int exit = OpenChosenLink(common, usblink::Timeouts{}, buses, link, problem))
        return problem.empty() ? exit
                               : Fail(exit, "can't open instance " + instance + " for the reset request: " + problem);
    ConsoleBreak::Stops(link.get());
    const usblink::Result reset = link->Reset(static_cast<uint16_t>(code));
    ConsoleBreak::Stops(nullptr);
    if (reset.code == usblink::Code::Cancelled)
        return Fail(kExitCancelled, "cancelled");
    if (!reset.ok())
        return Fail(kExitDevice, "the reset request to instance " + instance + " failed: " +
                                     ResultText(dump::kResultIoFailed) + " (" + reset.detail + ")");
    return kExitOk;
}

}  // namespace cli
