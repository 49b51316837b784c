// The description of the last operations, kept for the report of a failed
// run, and the end of such a run.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "vdev_client.h"

namespace soak {

struct Journal {
    std::mutex lock;
    std::deque<std::string> ring;
    uint64_t opNumber = 0;
    DWORD opStart = 0;
    bool running = false;
    uint32_t seed = 0;

    void Begin(uint64_t number, const char* driver);
    void End();
    void Append(const std::string& text);
    // Printed without the lock: the process ends right after.
    void Print(const std::string& headline);
};

// Shared with the watchdog.
extern Journal journal;

// The device as the next test expects to find it, as far as the back channel can.
void RestoreDevice(vdev::Device& device);
// Prints the journal, restores the device and ends the process at once.
[[noreturn]] void EndWithFailure(const std::string& headline);

}  // namespace soak
