// uxfer.exe: device memory to and from files, verification, status, reset
// and device monitoring from the command line, over uXfer.dll (or, with
// --simulate, uXferSim.dll: the same exports over a simulated device).
#include <new>
#include <string>
#include <vector>

#include "commands.h"
#include "win/text.h"
#include "errors.h"
#include "options.h"
#include "uXfer.h"
#include "xferlib/uxfer_library.h"

// The command line comes as UTF-16, so that a file name outside the ANSI code
// page reaches the tool unchanged; inside, text is UTF-8.
int wmain(int argc, wchar_t** wargv)
{
    using namespace cli;
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.push_back(win::Narrow(wargv[i], CP_UTF8));
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    CommonOptions common;
    const ParseResult parsed = ParseCommandLine(argc, argv.data(), common);
    if (!parsed.command)
        return parsed.exitCode;
    // uXfer.dll is delay-loaded: the library of the device chosen is loaded
    // here, beside uxfer.exe, before anything calls into it.
    if (const xferlib::LoadFailure failure =
            xferlib::Load({common.simulate ? xferlib::kUxferSim : xferlib::kUxfer, false}))
        return Fail(kExitNoDevice, failure.message);
    // The library's settings come first: they decide which class is
    // enumerated and opened, and how long its waits are.
    if (common.loaderVersion)
        uSetKVVersion(*common.loaderVersion);
    if (common.delay)
        uSetDelay(*common.delay);
    try {
        return parsed.command->run(common);
    } catch (const std::bad_alloc&) {
        return Fail(kExitNoMemory, "not enough memory");
    }
}
