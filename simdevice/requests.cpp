#include "sim/requests.h"

#include <cstring>

#include "usb_protocol.h"

namespace sim {

namespace {

constexpr uint32_t kWaitStepMs = 50;

uint32_t Deliver(DeviceModel& m, void* buffer, uint32_t size)
{
    const uint32_t n = ModelPipeRead(&m, static_cast<uint8_t*>(buffer), ModelReadLimit(&m, size));
    ModelLog(&m, VDEV_LOG_READ, VDEV_PIPE_IN, size, n, 0, buffer, n, 0);
    return n;
}

// Until the held read `hold` is released or ended, or `stop` says so.
ModelStatus WaitHeld(Store& store, uint32_t instance, uint32_t hold, void* buffer, uint32_t size, uint32_t& moved,
                     const std::function<bool()>& stop)
{
    for (;;) {
        store.Wait(kWaitStepMs);
        const bool stopping = stop && stop();
        Access access(store);
        if (!access.held()) {
            if (stopping)
                return MODEL_CANCELLED;
            continue;
        }
        InstanceRecord& record = access.record(instance);
        const bool mine = record.heldSeq == hold;
        if (mine && record.heldRead == kHeld && !stopping)
            continue;
        const bool released = mine && record.heldRead == kHeldReleased;
        if (mine)
            record.heldRead = kNotHeld;
        DeviceModel& m = access.model(instance);
        if (released) {
            moved = Deliver(m, buffer, size);
            return MODEL_OK;
        }
        ModelLog(&m, VDEV_LOG_READ, VDEV_PIPE_IN, size, 0, static_cast<uint32_t>(MODEL_CANCELLED), nullptr, 0, 0);
        return MODEL_CANCELLED;
    }
}

}  // namespace

ModelStatus OpenPipe(Store& store, uint32_t instance, uint32_t pipe, const std::string& path, uint32_t access,
                     uint32_t share)
{
    Access held(store);
    if (!held.held())
        return kDeviceBusy;
    if (instance >= held.header().instanceCount || !held.record(instance).plugged)
        return kNoSuchDevice;
    DeviceModel& m = held.model(instance);
    const ModelStatus status = ModelOpenFails(&m, pipe) ? kNameNotFound : MODEL_OK;
    ModelLog(&m, VDEV_LOG_OPEN, static_cast<uint16_t>(pipe), access, share, static_cast<uint32_t>(status),
             path.c_str(), static_cast<uint32_t>(path.size()), 0);
    return status;
}

void ClosePipe(Store& store, uint32_t instance, uint32_t pipe)
{
    Access access(store);
    if (access.held() && instance < access.header().instanceCount)
        ModelLog(&access.model(instance), VDEV_LOG_CLOSE, static_cast<uint16_t>(pipe), 0, 0, 0, nullptr, 0, 0);
}

ModelStatus Control(Store& store, uint32_t instance, uint32_t code, const void* in, uint32_t inSize, void* out,
                    uint32_t outSize, uint32_t& moved)
{
    moved = 0;
    if (code != IOCTL_VENDOR_REQUEST && code != IOCTL_DRIVER_STATE && code != IOCTL_GET_DEVICE_DESCRIPTOR)
        return MODEL_BAD_REQUEST;
    uint8_t block[12] = {};
    const uint32_t given = inSize > sizeof block ? sizeof block + 1 : inSize;  // too long: the model refuses it
    if (in)
        std::memcpy(block, in, given > sizeof block ? sizeof block : given);
    Access access(store);
    if (!access.held())
        return kDeviceBusy;
    DeviceModel& m = access.model(instance);
    uint32_t done = 0;
    const ModelStatus status =
        ModelControl(&m, code, block, in ? given : 0, static_cast<uint8_t*>(out), out ? outSize : 0, &done);
    if (code == IOCTL_VENDOR_REQUEST && status >= 0 && block[4] == REQ_RESET) {
        InstanceRecord& record = access.record(instance);
        const bool held = record.heldRead == kHeld;
        ModelLog(&m, VDEV_LOG_RESET, VDEV_PIPE_CONTROL, block[8] | (block[9] << 8), held, 0, nullptr, 0, 0);
        if (held)
            access.EndHeldRead(instance, kHeldCancelled);
    }
    if (status >= 0)
        moved = done;
    return status;
}

ModelStatus Read(Store& store, uint32_t instance, void* buffer, uint32_t size, uint32_t& moved,
                 const std::function<bool()>& stop)
{
    moved = 0;
    uint32_t hold = 0;
    {
        Access access(store);
        if (!access.held())
            return kDeviceBusy;
        DeviceModel& m = access.model(instance);
        InstanceRecord& record = access.record(instance);
        switch (ModelPlanRead(&m)) {
        case READ_FAIL:
            ModelLog(&m, VDEV_LOG_READ, VDEV_PIPE_IN, size, 0, static_cast<uint32_t>(MODEL_FAILED), buffer, 0, 0);
            return MODEL_FAILED;
        case READ_HOLD:
            // A read held by a process that has ended holds nothing.
            if (record.heldRead == kHeld && !sys::ProcessEnded(record.heldBy))
                return kDeviceBusy;
            record.heldRead = kHeld;
            record.heldBy = sys::ThisProcess();
            hold = ++record.heldSeq;
            break;
        case READ_NORMAL:
            moved = Deliver(m, buffer, size);
            return MODEL_OK;
        }
    }
    return WaitHeld(store, instance, hold, buffer, size, moved, stop);
}

ModelStatus Write(Store& store, uint32_t instance, const void* buffer, uint32_t size, uint32_t& moved)
{
    moved = 0;
    Access access(store);
    if (!access.held())
        return kDeviceBusy;
    DeviceModel& m = access.model(instance);
    uint32_t done = 0;
    ModelStatus status = MODEL_FAILED;
    if (!ModelWriteFails(&m))
        status = ModelPipeWrite(&m, static_cast<const uint8_t*>(buffer), size, &done);
    ModelLog(&m, VDEV_LOG_WRITE, VDEV_PIPE_OUT, size, done, static_cast<uint32_t>(status), buffer, size, 0);
    moved = done;
    return status;
}

}  // namespace sim
