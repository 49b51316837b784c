#include "commands.h"

namespace cli {

namespace {
// What the commands reach differs by system; what they do doesn't.
#ifdef _WIN32
const char kListHelp[] = "list the present instances of the interface class";
const char kResetHelp[] =
    "send the reset request with CODE (default 2); it also ends a transfer another uxfer is waiting on";
const char kSimHelp[] = "the simulated devices of uXferSim.dll: state, plug, knobs, memory, request log";
#else
const char kListHelp[] = "list the devices of the configured ids (and the family's devices not used)";
const char kResetHelp[] = "send the reset request with CODE (default 2)";
const char kSimHelp[] = "the simulated devices of --simulate: state, plug, knobs, memory, request log";
#endif
}  // namespace

const Command kCommands[] = {
    {"list", kListHelp, false, nullptr, RunList},
    {"read", "dump device memory into FILE ('-': standard output)", true, AddReadOptions, RunRead},
    {"write", "write FILE ('-': standard input) into device memory", true, AddWriteOptions, RunWrite},
    {"compare", "read a range back and compare it with FILE ('-': standard input), writing nothing", true,
     AddCompareOptions, RunCompare},
    {"verify", "print the device's 4-byte verification value of a range", true, AddVerifyOptions, RunVerify},
    {"status", "print the device's 8-byte status block", true, nullptr, RunStatus},
    {"reset", kResetHelp, true, AddResetOptions, RunReset},
    {"sim", kSimHelp, true, AddSimOptions, RunSim},
#ifdef _WIN32
    {"watch", "print a line for each arrival and removal of a device of the class", false, AddWatchOptions,
     RunWatch},
#else
    {"watch", "print a line for each arrival and removal of a device of a configured id", false, AddWatchOptions,
     RunWatch},
    {"usb", "usb add VID:PID: configure the id of a device to use (as root: for every user, with its udev rule)",
     false, AddUsbOptions, RunUsb},
#endif
};
const size_t kCommandCount = sizeof kCommands / sizeof kCommands[0];

}  // namespace cli
