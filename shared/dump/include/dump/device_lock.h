// One program at a time on a device.  The library lets two processes send
// requests to one device, which then mixes them: two writes leave memory
// holding parts of both.  So uxfer and uXfer.Device hold a lock on the device
// for the whole of an operation: a named mutex in the global namespace (the
// processes of every session and user share the devices), named after the
// device's interface path, which the system gives back when its holder dies.
// Beside it, a small shared record names the holder (program and process id)
// for a program that waits.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "win/unique_any.h"

namespace dump {

// The interface path of `instance` of class `cls`, numbered as the library
// numbers them: the system's present interfaces, or with `simulated` the
// simulated devices'.  Empty when there is none.
std::string InstancePath(const GUID& cls, uint32_t instance, bool simulated);

class DeviceLock {
public:
    enum class Outcome { Held, Busy, Stopped, Failed };

    DeviceLock() = default;
    // Gives the lock back, if held.
    ~DeviceLock();
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

    // Takes the lock of the device at `path` (`instance`, for the sentences),
    // waiting for another holder at most `waitMs` (INFINITE: no limit) and
    // asking `stopped` every 100 ms whether to give up.  When the wait begins,
    // `waiting` gets "instance I is in use by P, process N".  Busy: the wait
    // ended, `problem` is that sentence; Failed: the lock can't be had at all,
    // `problem` says why.
    Outcome Take(const std::string& path, uint32_t instance, DWORD waitMs, const std::function<bool()>& stopped,
                 const std::function<void(const std::string&)>& waiting, std::string& problem);

private:
    void Publish(const std::wstring& key);

    win::unique_handle mutex_;
    win::unique_mutex_hold hold_;  // released before the handle closes
    win::unique_handle record_;
    win::unique_view view_;
};

}  // namespace dump
