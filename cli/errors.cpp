#include "errors.h"

#include <cstdio>

#include "options.h"
#include "output.h"

namespace cli {

namespace {
bool failAsJson = false;
Json jsonCommand;  // null: no command
}  // namespace

std::string ExitCodeHelp()
{
    std::string text = "Exit codes:\n";
    char code[8];
#define CLI_EXIT_CODE_LINE(name, value, meaning)     \
    std::snprintf(code, sizeof code, "  %-5d", value); \
    text += std::string(code) + meaning + "\n";
    CLI_EXIT_CODES(CLI_EXIT_CODE_LINE)
#undef CLI_EXIT_CODE_LINE
    return text + "With --json, every outcome is one JSON object on standard output; a failure has \"error\" and "
                  "\"exit\".\n";
}

void FailAsJson(const char* command)
{
    failAsJson = true;
    jsonCommand = command ? Json(command) : Json();
}

int Fail(int code, const std::string& message)
{
    return Fail(code, message, Json::object());
}

int Fail(int code, const std::string& message, const Json& details)
{
    if (failAsJson) {
        Json object = {{"command", jsonCommand}, {"error", message}};
        object.update(details);
        object["exit"] = code;
        PrintJson(object);
        return code;
    }
    std::fflush(stdout);
    WriteLine(stderr, "uxfer: " + message);
    return code;
}

const ops::Names kNames = {"--addr", "--size", "--pad", "--no-reset"};

ops::Names NamesOf(const CommonOptions& common)
{
    ops::Names names = kNames;
    names.simulate = common.simulate;
    names.instance = common.instance;
    names.loaderVersion = common.loaderVersion.value_or(0);
    return names;
}

namespace {

int ExitCodeOf(ops::Kind kind)
{
    switch (kind) {
    case ops::Kind::None:
        return kExitOk;
    case ops::Kind::Usage:
        return kExitUsage;
    case ops::Kind::NoDevice:
        return kExitNoDevice;
    case ops::Kind::Device:
    case ops::Kind::Timeout:
        return kExitDevice;
    case ops::Kind::File:
        return kExitFile;
    case ops::Kind::Mismatch:
        return kExitMismatch;
    case ops::Kind::NoMemory:
        return kExitNoMemory;
    case ops::Kind::Busy:
        return kExitBusy;
    case ops::Kind::Cancelled:
        break;
    }
    return kExitCancelled;
}

}  // namespace

int Exit(const ops::Error& error)
{
    if (!error)
        return kExitOk;
    Json details = Json::object();
    if (error.difference)
        details = {{"first_offset", error.difference->fileOffset},
                   {"first_addr", error.difference->wordAddress},
                   {"differing_words", error.difference->differingWords}};
    else if (error.moved)
        details["moved"] = error.moved;
    return Fail(ExitCodeOf(error.kind), error.text, details);
}

}  // namespace cli
