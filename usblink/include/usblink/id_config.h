// Where this system keeps the configured ids, and the writer behind
// "uxfer usb add VID:PID".  On Linux the seated user may open a device node
// only when a udev rule tags it: root writes the system config and that
// rule; a user writes the user's config and is told the line root must run.
#pragma once

#include <string>
#include <vector>

#include "usblink/result.h"
#include "usblink/usb_ids.h"

namespace usblink {

inline constexpr char kConfigFileName[] = "usb.conf";
inline constexpr char kSystemConfigFolder[] = "/etc/uxfer";
inline constexpr char kUdevRuleFileName[] = "70-uxfer.rules";
inline constexpr char kUdevRulesFolder[] = "/etc/udev/rules.d";

// The user's config folder: $XDG_CONFIG_HOME/uxfer when that is set to an
// absolute path, else $HOME/.config/uxfer; empty when neither is known.
// The front end passes the two variables' values (null when unset).
std::string UserConfigFolder(const char* xdgConfigHome, const char* home);
// The config files in the order they are read: the system's, then the user's.
std::vector<std::string> ConfigFiles(const std::string& userFolder);

// The rule that lets the seated user open devices of `id`.
std::string UdevRule(UsbId id);
// "uxfer usb add 1234:cd02".
std::string AddCommand(UsbId id);

enum class Installer { Root, User };

struct AddFolders {
    std::string config;     // the folder of usb.conf, made when missing
    std::string udevRules;  // the folder of the udev rule (Root only)
};

// Where `installer` writes: root the system config and udev's rules folder,
// a user the user's config folder (UserConfigFolder).
AddFolders FoldersFor(Installer installer, const std::string& userFolder);

struct AddOutcome {
    bool configAdded = false;  // false: the id was there already
    bool ruleAdded = false;    // Root: false when the rule was there already
    // User: the line root must run so that the user may open the device.
    std::string rootLine;
};

// Adds `id` to usb.conf in folders.config and, for Root, its rule to the
// rule file in folders.udevRules.  Each file is replaced as a whole (a new
// file renamed over it), keeping what it held; an id already there is not
// added again.  A rule applies to devices plugged in after udev reloads its
// rules: the front end has udev reload and trigger them, or says to replug.
Result AddId(UsbId id, Installer installer, const AddFolders& folders, AddOutcome& outcome);

}  // namespace usblink
