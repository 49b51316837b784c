// uxfer.exe: device memory to and from files, verification, status, reset
// and device monitoring from the command line, over uXfer.dll.
#include <new>
#include <string>
#include <vector>

#include "commands.h"
#include "errors.h"
#include "framework/file.h"
#include "options.h"
#include "uXfer.h"

// The command line comes as UTF-16, so that a file name outside the ANSI code
// page reaches the tool unchanged; inside, text is UTF-8.
int wmain(int argc, wchar_t** wargv)
{
    using namespace uxfer;
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.push_back(Narrow(wargv[i], CP_UTF8));
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    Options options;
    const ParseResult parsed = ParseCommandLine(argc, argv.data(), options);
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
