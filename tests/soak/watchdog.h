// Ends the process when an operation of the journal takes longer than the bound.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace soak {

class Watchdog {
public:
    explicit Watchdog(DWORD boundMs);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    void Run(DWORD boundMs);

    std::mutex lock_;
    std::condition_variable wake_;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace soak
