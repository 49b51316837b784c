// The commands of the tool, one a file (cmd_<name>.cpp), and the one table
// that registers them.  A command owns its options, its run and its output:
// it prints its results and errors and returns the exit code.
#pragma once

#include <cstddef>

#include "options.h"

namespace cli {

struct Command {
    const char* name;
    const char* description;
    // False for the commands that cover every instance of the class.
    bool takesInstance;
    // Adds the command's own options to its subcommand; null: it has none.
    void (*addOptions)(CLI::App& command, NumberOptions& numbers);
    int (*run)(const CommonOptions& common);
};

// Every command, in the order the help lists them.
extern const Command kCommands[];
extern const size_t kCommandCount;

void AddReadOptions(CLI::App& command, NumberOptions& numbers);
int RunRead(const CommonOptions& common);
void AddWriteOptions(CLI::App& command, NumberOptions& numbers);
int RunWrite(const CommonOptions& common);
void AddCompareOptions(CLI::App& command, NumberOptions& numbers);
int RunCompare(const CommonOptions& common);
void AddVerifyOptions(CLI::App& command, NumberOptions& numbers);
int RunVerify(const CommonOptions& common);
int RunStatus(const CommonOptions& common);
void AddResetOptions(CLI::App& command, NumberOptions& numbers);
int RunReset(const CommonOptions& common);
int RunList(const CommonOptions& common);
void AddWatchOptions(CLI::App& command, NumberOptions& numbers);
int RunWatch(const CommonOptions& common);
void AddSimOptions(CLI::App& command, NumberOptions& numbers);
int RunSim(const CommonOptions& common);
void AddUsbOptions(CLI::App& command, NumberOptions& numbers);
int RunUsb(const CommonOptions& common);

}  // namespace cli
