#include "device_notify.h"

#include <mutex>

#include "device_backend.h"
#include "shared_settings.h"

namespace {

// The slot holds the id of the process that registered in its high half and
// the tag of that registration in its low half; 0 when empty.  A
// notification handle has a meaning only in the process that registered it
// (and is 64 bits wide in a 64-bit process), so it never leaves that process:
// the tag names it.  Owner and tag change together, in one compare-exchange.
SHARED_CELL std::atomic<uint64_t> notifySlot{0};
// Tags handed out so far by all processes together.  While any process has
// the library loaded a tag is never given twice, so a process that was given
// the id of one that registered and ended can't hold the tag in the slot.
SHARED_CELL std::atomic<uint32_t> notifyTags{0};

uint64_t Cell(DWORD owner, uint32_t tag)
{
    return (static_cast<uint64_t>(owner) << 32) | tag;
}

DWORD Owner(uint64_t cell)
{
    return static_cast<DWORD>(cell >> 32);
}

uint32_t Tag(uint64_t cell)
{
    return static_cast<uint32_t>(cell);
}

uint32_t NewTag()
{
    uint32_t tag;
    do
        tag = notifyTags.fetch_add(1) + 1;
    while (tag == 0);
    return tag;
}

// Puts `cell` into the slot and gives what it held.
uint64_t Replace(uint64_t cell)
{
    uint64_t held = notifySlot.load();
    while (!notifySlot.compare_exchange_weak(held, cell)) {
    }
    return held;
}

// The registration this process made last.
struct Registration {
    uint32_t tag = 0;
    HDEVNOTIFY handle = nullptr;
};
std::mutex registrationLock;
Registration lastRegistration;

}  // namespace

bool RegisterNotification(HWND window, const GUID& cls)
{
    HDEVNOTIFY handle = backend::RegisterNotify(window, cls);
    std::lock_guard<std::mutex> hold(registrationLock);
    uint64_t cell = 0;
    if (handle) {
        lastRegistration = {NewTag(), handle};
        cell = Cell(GetCurrentProcessId(), lastRegistration.tag);
    }
    Replace(cell);
    return handle != nullptr;
}

uint32_t UnregisterNotification()
{
    const uint64_t cell = Replace(0);
    if (cell == 0 || Owner(cell) != GetCurrentProcessId())
        return 0;
    HDEVNOTIFY handle;
    {
        std::lock_guard<std::mutex> hold(registrationLock);
        // The same id with a tag this process never had: the registration of
        // an ended process whose id this one was given.
        if (lastRegistration.tag != Tag(cell))
            return 0;
        handle = lastRegistration.handle;
        lastRegistration = {};
    }
    return backend::UnregisterNotify(handle);
}
