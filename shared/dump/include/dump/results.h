// The library's results as people read them.
#pragma once

#include <cstdint>
#include <string>

namespace dump {

// "RESULT_IO_FAILED (0xC0000005)"; codes the library doesn't define are shown in hex only.
std::string ResultText(uint32_t result);

}  // namespace dump
