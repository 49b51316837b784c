// The library's results as people read them.  uXfer.dll gives them on
// Windows; a link of another system maps its own failures to them, so that
// both say the same.
#pragma once

#include <cstdint>
#include <string>

namespace dump {

enum Result : uint32_t {
    kResultOk = 0x00000000u,
    kResultNoMemory = 0xC0000003u,
    kResultOpenFailed = 0xC0000004u,
    kResultIoFailed = 0xC0000005u,
};

// "RESULT_IO_FAILED (0xC0000005)"; codes the library doesn't define are shown in hex only.
std::string ResultText(uint32_t result);

}  // namespace dump
