// The requests a simulated device receives, answered as the device's driver
// answers them: each under the store's lock, over the model in the store, so
// that a request of one process sees what every other one left.  The library's
// device I/O on Windows and the USB link's transport elsewhere pass them on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "sim/store.h"

namespace sim {

// The store's lock could not be had, or another process holds a read of the device.
constexpr ModelStatus kDeviceBusy = static_cast<ModelStatus>(0x80000011L);       // STATUS_DEVICE_BUSY
// The device failed the open (VDEV_KNOB_FAIL_OPEN).
constexpr ModelStatus kNameNotFound = static_cast<ModelStatus>(0xC0000034L);     // STATUS_OBJECT_NAME_NOT_FOUND
// No such instance, or it is unplugged.
constexpr ModelStatus kNoSuchDevice = static_cast<ModelStatus>(0xC000000EL);     // STATUS_NO_SUCH_DEVICE

// Opens `pipe` (VDEV_PIPE_*) of `instance`; logged, with `path`, `access` and
// `share`, when the device is there.
ModelStatus OpenPipe(Store& store, uint32_t instance, uint32_t pipe, const std::string& path, uint32_t access,
                     uint32_t share);
// Logs the close of `pipe`.
void ClosePipe(Store& store, uint32_t instance, uint32_t pipe);

// A control request (IOCTL_VENDOR_REQUEST, IOCTL_DRIVER_STATE or
// IOCTL_GET_DEVICE_DESCRIPTOR); `moved`: the bytes of `out` it filled.  A
// reset request also ends the read the device holds (cancelled).
ModelStatus Control(Store& store, uint32_t instance, uint32_t code, const void* in, uint32_t inSize, void* out,
                    uint32_t outSize, uint32_t& moved);
// A read of the IN pipe.  One the device holds (VDEV_KNOB_PEND_READ) waits,
// outside the lock, until it is released (it then reads), ended by a reset or
// new settings from any process, or `stop` says so (both MODEL_CANCELLED).
// `stop` is asked between looks, a few milliseconds apart; none waits for ever.
ModelStatus Read(Store& store, uint32_t instance, void* buffer, uint32_t size, uint32_t& moved,
                 const std::function<bool()>& stop = nullptr);
// A write of the OUT pipe.
ModelStatus Write(Store& store, uint32_t instance, const void* buffer, uint32_t size, uint32_t& moved);

}  // namespace sim
