// uxfer: device memory to and from files, verification, status, reset and
// device monitoring from the command line: over uXfer.dll on Windows (or,
// with --simulate, uXferSim.dll), over the USB link elsewhere.  The entry
// point is the system's (windows/main.cpp, linux/main.cpp); it hands the
// command line here as UTF-8.
#include "main.h"

#include <new>

#include "commands.h"
#include "errors.h"
#include "options.h"
#include "platform.h"

namespace cli {

int Main(int argc, char** argv)
{
    CommonOptions common;
    const ParseResult parsed = ParseCommandLine(argc, argv, common);
    if (!parsed.command)
        return parsed.exitCode;
    if (const int code = PrepareSystem(common))
        return code;
    try {
        return parsed.command->run(common);
    } catch (const std::bad_alloc&) {
        return Fail(kExitNoMemory, "not enough memory");
    }
}

}  // namespace cli
