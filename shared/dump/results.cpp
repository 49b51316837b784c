#include "dump/results.h"

#include <cstdio>

#include "uXfer.h"

namespace dump {

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

}  // namespace dump
