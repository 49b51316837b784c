// uxfer.exe: device memory to and from files, verification, status, reset
// and device monitoring from the command line, over uXfer.dll.
#include <new>

#include "commands.h"
#include "errors.h"
#include "options.h"
#include "uXfer.h"

int main(int argc, char** argv)
{
    using namespace uxfer;
    Options options;
    const ParseResult parsed = ParseCommandLine(argc, argv, options);
    if (!parsed.run)
        return parsed.exitCode;
    // The library's settings come first: they decide which class is
    // enumerated and opened, and how long its waits are.
    if (options.loaderVersion)
        uSetKVVersion(*options.loaderVersion);
    if (options.delay)
        uSetDelay(*options.delay);
    try {
        switch (options.command) {
        case Command::List:
            return RunList(options);
        case Command::Read:
            return RunRead(options);
        case Command::Write:
            return RunWrite(options);
        case Command::Verify:
            return RunVerify(options);
        case Command::Status:
            return RunStatus(options);
        case Command::Reset:
            return RunReset(options);
        case Command::Watch:
            return RunWatch(options);
        }
    } catch (const std::bad_alloc&) {
        return Fail(kExitNoMemory, "not enough memory");
    }
    return kExitUsage;
}
