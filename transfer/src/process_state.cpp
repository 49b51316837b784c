#include "process_state.h"

// Constructed while the library loads, before its entry point first runs.
CUsb theUsb;

HWND msgWnd = nullptr;
uint32_t msgFlag = 0;
std::atomic<uint32_t> cancelFlag{0};
uint32_t osGeneration;  // written by the entry point
