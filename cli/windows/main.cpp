// The command line comes as UTF-16, so that a file name outside the ANSI code
// page reaches the tool unchanged; inside, text is UTF-8.
#include <string>
#include <vector>

#include "main.h"
#include "win/text.h"

int wmain(int argc, wchar_t** wargv)
{
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.push_back(win::Narrow(wargv[i], CP_UTF8));
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    return cli::Main(argc, argv.data());
}
