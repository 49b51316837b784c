// The vendor and product ids the link may speak to.  Nothing publishes only
// this family's devices, and no vendor id is built in: a device is used only
// when its VID:PID is in the set the user configured (config files, the
// UXFER_USB environment variable, --usb options).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "usblink/result.h"

namespace usblink {

struct UsbId {
    uint16_t vendor = 0;
    uint16_t product = 0;

    bool operator==(const UsbId& other) const { return vendor == other.vendor && product == other.product; }
};

// Product ids this family uses: a device with one of them whose vendor id is
// not configured is listed (not used) with the line that would enable it.
inline constexpr uint16_t kFamilyProducts[] = {0xCD02, 0xCD03};
bool IsFamilyProduct(uint16_t product);

// "1234:cd02": four lower-case hex digits each.
std::string IdText(UsbId id);
// "VID:PID", 1 to 4 hex digits each, an optional 0x before either.
bool ParseId(std::string_view text, UsbId& id);

struct IdSet {
    std::vector<UsbId> ids;  // each once, in the order first met
    // One sentence a bad entry: "FILE line N: ...", "UXFER_USB: ...", "--usb: ...".
    std::vector<std::string> problems;

    bool Contains(UsbId id) const;
};

// The text of a config file: one VID:PID a line, '#' starts a comment, blanks
// around it and blank lines ignored.  `file` names it in problems.
Result ParseConfigText(std::string_view text, const std::string& file, IdSet& set);
// A config file: a missing one adds nothing; one that can't be read is a problem.
Result ReadConfigFile(const std::string& file, IdSet& set);
// VID:PID entries separated by commas or blanks (UXFER_USB); `source` names it in problems.
Result ParseIdList(std::string_view list, const std::string& source, IdSet& set);

struct IdSources {
    std::vector<std::string> files;    // read in this order
    const char* environment = nullptr; // the value of UXFER_USB, null when unset
    std::vector<std::string> options;  // the values of --usb, one entry each
};
// All of them into `set` (emptied first).  Not ok only when out of memory:
// bad entries are in set.problems.
Result LoadIds(const IdSources& sources, IdSet& set);

}  // namespace usblink
