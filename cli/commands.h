// The commands.  Each prints its output and errors and returns the exit code.
#pragma once

#include "options.h"

namespace uxfer {

int RunList(const Options& options);
int RunStatus(const Options& options);
int RunVerify(const Options& options);
int RunReset(const Options& options);
int RunRead(const Options& options);
int RunWrite(const Options& options);
int RunWatch(const Options& options);

}  // namespace uxfer
