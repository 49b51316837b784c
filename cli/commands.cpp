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
    {"sim", "the simulated devices of uXferSim.dll: state, plug, knobs, memory, request log", true, AddSimOptions,
     RunSim},
    {"watch", "print a line for each arrival and removal of a device of the class", false, AddWatchOptions,
     RunWatch},
};
const size_t kCommandCount = sizeof kCommands / sizeof kCommands[0];

}  // namespace cli
