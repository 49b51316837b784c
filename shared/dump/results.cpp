#include "dump/results.h"

#include <cstdio>

#ifdef _WIN32
#include "uXfer.h"
static_assert(dump::kResultOk == RESULT_OK && dump::kResultNoMemory == RESULT_NO_MEMORY &&
                  dump::kResultOpenFailed == RESULT_OPEN_FAILED && dump::kResultIoFailed == RESULT_IO_FAILED,
              "the library's results");
#endif

namespace dump {

std::string ResultText(uint32_t result)
{
    const char* name = nullptr;
    switch (result) {
    case kResultOk:
        name = "RESULT_OK";
        break;
    case kResultNoMemory:
        name = "RESULT_NO_MEMORY";
        break;
    case kResultOpenFailed:
        name = "RESULT_OPEN_FAILED";
        break;
    case kResultIoFailed:
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
