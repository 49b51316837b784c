// Vendor requests on the control path, and the status waits around every
// command that moves data.
#pragma once

#include <cstdint>

#include "usb_connection.h"

// Polls the device gets before a wait gives up (10 ms apart, so about 10 s).
constexpr uint32_t kMaxStatusPolls = 1000;
constexpr uint32_t kStatusPollMs = 10;

// REQ_STATUS on theUsb, without a wait; the block goes to status8.
uint32_t QueryStatus(void* status8, DWORD* returned);
// Raises cancelFlag, then REQ_RESET with wIndex = the low 16 bits of resetCode.
uint32_t SendReset(CUsb& usb, uint32_t resetCode);
// Until STATUS_ACTIVE is clear (idle) or set (command taken).
uint32_t WaitIdle();
uint32_t WaitDone();
// WaitIdle, the host-to-device request with its data stage on theUsb, WaitDone.
uint32_t SendCommand(uint8_t request, uint16_t value, uint16_t index, void* stage, uint16_t stageSize);
