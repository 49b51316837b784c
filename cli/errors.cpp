#include "errors.h"

#include <windows.h>

#include <cstdio>

#include "win/text.h"
#include "output.h"
#include "uXfer.h"

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

std::string ResultText(uint32_t result)
{
    const char* name = nullptr;
    switch (result) {
    case RESULT_OK:
        name = "RESULT_OK";
        break;
    case RESULT_NO_MEMORY:
        name = "RESULT_NO_MEMORY";
        break;
    case RESULT_OPEN_FAILED:
        name = "RESULT_OPEN_FAILED";
        break;
    case RESULT_IO_FAILED:
        name = "RESULT_IO_FAILED";
        break;
    }
    char text[64];
    if (name)
        std::snprintf(text, sizeof text, "%s (0x%08X)", name, static_cast<unsigned>(result));
    else
        std::snprintf(text, sizeof text, "result 0x%08X", static_cast<unsigned>(result));
    return text;
}

std::string SystemErrorText(unsigned long error)
{
    wchar_t buffer[256] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  buffer, sizeof buffer / sizeof buffer[0], nullptr);
    // The system's texts end in a line break and often a full stop.
    while (length > 0 && (buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n' || buffer[length - 1] == L' ' ||
                          buffer[length - 1] == L'.'))
        --length;
    std::string text = "error " + std::to_string(error);
    if (length > 0)
        text += ": " + win::Narrow(std::wstring(buffer, length), CP_UTF8);
    return text;
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

}  // namespace cli
