// Device-interface notifications for a window, and the one registration slot
// that all processes which load the library share.
#pragma once

#include <windows.h>

#include <cstdint>

// Registers `window` for the arrival and removal messages of interface class
// `cls` and puts the registration into the shared slot, whatever the slot
// held; an earlier registration is not withdrawn.  A failed registration
// empties the slot.  True when registered.
bool RegisterNotification(HWND window, const GUID& cls);

// Empties the slot.  When the registration it held is one that this process
// made, withdraws it and gives UnregisterDeviceNotification's result;
// otherwise, and when the slot was empty, 0.
uint32_t UnregisterNotification();
