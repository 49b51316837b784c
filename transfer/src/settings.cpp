#include "settings.h"

// Constructed while the library loads, before its entry point first runs.
CUsb theUsb;

HWND msgWnd = nullptr;
uint32_t msgFlag = 0;
std::atomic<uint32_t> cancelFlag{0};
uint32_t osGeneration;  // written by the entry point

#define SHARED_CELL __attribute__((section("shared"), shared))
SHARED_CELL std::atomic<uint32_t> delayMs{100};
SHARED_CELL std::atomic<uint32_t> instanceIndex{0};
SHARED_CELL std::atomic<HDEVNOTIFY> notifyHandle{nullptr};
SHARED_CELL std::atomic<DWORD> notifyOwner{0};

static_assert(std::atomic<uint32_t>::is_always_lock_free, "shared cells must be plain memory");
static_assert(std::atomic<HDEVNOTIFY>::is_always_lock_free, "shared cells must be plain memory");
