#include "commands.h"

namespace cli {

const Command kCommands[] = {
    {"list", "list the present instances of the interface class", false, nullptr, RunList},
    {"read", "dump device memory into FILE ('-': standard output)", true, AddReadOptions, RunRead},
    {"write", "write FILE ('-': standard input) into device memory", true, AddWriteOptions, RunWrite},
    {"compare", "read a range back and compare it with FILE ('-': standard input), writing nothing", true,
     AddCompareOptions, RunCompare},
    {"verify", "print the device's 4-byte verification value of a range", true, AddVerifyOptions, RunVerify},
    {"status", "print the device's 8-byte status block", true, nullptr, RunStatus},
    {"reset", "send the reset request with CODE (default 2); it also ends a transfer another uxfer is waiting on",
     true, AddResetOptions, RunReset},
#ifdef _WIN32
    {"sim", "the simulated devices of uXferSim.dll: state, plug, knobs, memory, request log", true, AddSimOptions,
     RunSim},
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
