#include "soak/watchdog.h"

#include <chrono>
#include <cstdio>

#include "soak/journal.h"

namespace soak {

Watchdog::Watchdog(DWORD boundMs) : thread_([this, boundMs] { Run(boundMs); }) {}

Watchdog::~Watchdog()
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void Watchdog::Run(DWORD boundMs)
{
    std::unique_lock<std::mutex> hold(lock_);
    while (!wake_.wait_for(hold, std::chrono::milliseconds(250), [this] { return quit_; })) {
        bool overdue;
        {
            std::lock_guard<std::mutex> j(journal.lock);
            overdue = journal.running && GetTickCount() - journal.opStart > boundMs;
        }
        if (overdue) {
            char text[128];
            std::snprintf(text, sizeof text, "blocked for more than %lu ms", static_cast<unsigned long>(boundMs));
            EndWithFailure(text);
        }
    }
}

}  // namespace soak
