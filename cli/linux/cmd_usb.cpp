// usb add VID:PID: configures an id.  Root writes the system config and a udev
// rule that lets the seated user open such devices; a user writes the user's
// config and is told the line root must run.
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <string>

#include "commands.h"
#include "errors.h"
#include "output.h"
#include "usblink/id_config.h"

namespace cli {

namespace {
std::string action;
std::string idText;
}  // namespace

void AddUsbOptions(CLI::App& command, NumberOptions&)
{
    command.add_option("ACTION", action, "add: configure the id")->required();
    command.add_option("VID:PID", idText, "the vendor and product id, hex")->required();
}

int RunUsb(const CommonOptions& common)
{
    if (action != "add")
        return Fail(kExitUsage, "usb: unknown action '" + action + "' (add); run 'uxfer usb --help'");
    usblink::UsbId id;
    if (!usblink::ParseId(idText, id))
        return Fail(kExitUsage, "usb add: '" + idText + "' is not a VID:PID (1 to 4 hex digits each)");
    const bool root = geteuid() == 0;
    const std::string userFolder = usblink::UserConfigFolder(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    if (!root && userFolder.empty())
        return Fail(kExitFile, "usb add: neither XDG_CONFIG_HOME nor HOME says where your config goes");
    const usblink::Installer installer = root ? usblink::Installer::Root : usblink::Installer::User;
    const usblink::AddFolders folders = usblink::FoldersFor(installer, userFolder);
    usblink::AddOutcome outcome;
    const usblink::Result added = usblink::AddId(id, installer, folders, outcome);
    if (!added.ok())
        return Fail(added.code == usblink::Code::NoMemory ? kExitNoMemory : kExitFile, "usb add: " + added.detail);
    const std::string config = folders.config + "/" + usblink::kConfigFileName;
    const std::string rules = folders.udevRules + "/" + usblink::kUdevRuleFileName;
    if (common.json) {
        Json result = {{"command", "usb"}, {"id", usblink::IdText(id)}, {"config", config},
                       {"config_added", outcome.configAdded}};
        if (root)
            result.update({{"rule", rules}, {"rule_added", outcome.ruleAdded}});
        else
            result["root_line"] = outcome.rootLine;
        PrintJson(result);
        return kExitOk;
    }
    if (common.quiet)
        return kExitOk;
    PrintLine(std::string(outcome.configAdded ? "added " : "already there: ") + usblink::IdText(id) + " in " + config);
    if (root)
        PrintLine(std::string(outcome.ruleAdded ? "added its udev rule to " : "its udev rule is already in ") + rules +
                  "; it applies to devices plugged in after 'udevadm control --reload' (or a replug)");
    else
        PrintLine("to let users open such devices, root must run: " + outcome.rootLine);
    return kExitOk;
}

}  // namespace cli
