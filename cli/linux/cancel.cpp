#include "cancel.h"

#include <signal.h>

#include <atomic>

namespace cli {

namespace {

// The handler is a plain function, so what it acts on lives here; only one
// ConsoleBreak exists at a time.
std::atomic<bool> requested{false};
std::atomic<usblink::Link*> stopped{nullptr};
static_assert(std::atomic<usblink::Link*>::is_always_lock_free, "a signal handler reads it");

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnSignal(int)
{
    requested.store(true);
    if (usblink::Link* link = stopped.load())
        link->Cancel();
}

}  // namespace

ConsoleBreak::ConsoleBreak()
{
    // No SA_RESTART: a read of standard input the signal cuts short returns.
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : kSignals)
        sigaction(signal, &action, nullptr);
}

ConsoleBreak::~ConsoleBreak()
{
    stopped.store(nullptr);
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    for (const int signal : kSignals)
        sigaction(signal, &action, nullptr);
}

bool ConsoleBreak::Requested()
{
    return requested.load();
}

void ConsoleBreak::Stops(usblink::Link* link)
{
    stopped.store(link);
    if (link && requested.load())
        link->Cancel();
}

ConsoleBreak::InputRead::InputRead() = default;

ConsoleBreak::InputRead::~InputRead() = default;

}  // namespace cli
