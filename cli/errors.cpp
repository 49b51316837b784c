#include "errors.h"

#include <windows.h>

#include <cstdio>

#include "output.h"
#include "uXfer.h"

namespace uxfer {

namespace {
bool failAsJson = false;
Json jsonCommand;  // null: no command
}  // namespace

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
    char buffer[256] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  buffer, sizeof buffer, nullptr);
    // The system's texts end in a line break and often a full stop.
    while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' || buffer[length - 1] == ' ' ||
                          buffer[length - 1] == '.'))
        --length;
    std::string text = "error " + std::to_string(error);
    if (length > 0)
        text += ": " + std::string(buffer, length);
    return text;
}

void FailAsJson(const char* command)
{
    failAsJson = true;
    jsonCommand = command ? Json(command) : Json();
}

int Fail(int code, const std::string& message)
{
    if (failAsJson) {
        PrintJson({{"command", jsonCommand}, {"error", JsonText(message)}, {"exit", code}});
        return code;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "uxfer: %s\n", message.c_str());
    std::fflush(stderr);
    return code;
}

}  // namespace uxfer
