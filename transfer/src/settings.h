// Process-wide state of the library.  The connection and the transfer settings
// are private to each process; the delay, the instance index and the
// notification slot live in the image's shared section, one copy for every
// process that has the library loaded.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "usb_connection.h"

extern CUsb theUsb;

extern HWND msgWnd;
extern uint32_t msgFlag;
// Raised by another thread's cancel while a transfer runs on this one.
extern std::atomic<uint32_t> cancelFlag;
// 5: the waits poll the device's status; 6: they only sleep delayMs.
extern uint32_t osGeneration;

extern std::atomic<uint32_t> delayMs;
extern std::atomic<uint32_t> instanceIndex;
extern std::atomic<HDEVNOTIFY> notifyHandle;
// Process that registered notifyHandle: the handle means nothing in any other.
extern std::atomic<DWORD> notifyOwner;
