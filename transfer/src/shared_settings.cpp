#include "shared_settings.h"

SHARED_CELL std::atomic<uint32_t> delayMs{100};
SHARED_CELL std::atomic<uint32_t> instanceIndex{0};
