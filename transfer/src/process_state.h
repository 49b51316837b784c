// State of the library that each process has for itself: the connection, the
// progress-message settings, the cancel flag and the Windows generation.
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
