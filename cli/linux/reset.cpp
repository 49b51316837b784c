#include "cancel.h"
#include "errors.h"
#include "linux/devices.h"
#include "options.h"
#include "ops/operation.h"
#include "platform.h"

namespace cli {

int SendResetRequest(const CommonOptions& common, uint32_t code)
{
    ConsoleBreak consoleBreak;
    Buses buses;
    std::unique_ptr<usblink::Link> link;
    std::string problem;
    if (const int exit = OpenChosenLink(common, usblink::Timeouts{}, buses, link, problem))
        return problem.empty() ? exit : Exit(ops::ResetRequestUnopened(common.instance, problem));
    ConsoleBreak::Stops(link.get());
    const usblink::Result reset = link->Reset(static_cast<uint16_t>(code));
    ConsoleBreak::Stops(nullptr);
    if (reset.code == usblink::Code::Cancelled)
        return Exit(ops::Fail(ops::Kind::Cancelled, "cancelled"));
    if (!reset.ok())
        return Exit(ops::ResetRequestFailed(common.instance, dump::kResultIoFailed));
    return kExitOk;
}

}  // namespace cli
