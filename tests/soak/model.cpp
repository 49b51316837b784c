#include "soak/model.h"

#include <algorithm>

#include "usb_protocol.h"

namespace soak {

uint8_t DebugByte(uint32_t offset)
{
    return static_cast<uint8_t>(offset % 256);
}

std::vector<uint8_t> Bytes(uint32_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 7);
    }
    return bytes;
}

void DeviceModel::Reset()
{
    std::fill(memory_.begin(), memory_.end(), 0);
    EndPhase();
    takenLatch_ = errorLatched_ = false;
    std::fill(std::begin(verify_), std::end(verify_), 0);
    controls_ = reads_ = writes_ = polls_ = stateQueries_ = 0;
    ClearKnobs();
    plugged = true;
}

void DeviceModel::Resize(uint32_t bytes)
{
    memory_.assign(bytes, 0);
    EndPhase();
}

bool DeviceModel::Hits(uint32_t& target, uint32_t counter)
{
    if (target && counter == target) {
        target = 0;
        return true;
    }
    return false;
}

void DeviceModel::Knob(uint32_t id, uint32_t value, uint32_t value2)
{
    auto target = [](uint32_t counter, uint32_t k) { return k ? counter + k : 0; };
    switch (id) {
    case VDEV_KNOB_FAIL_CONTROL:
        failControlAt_ = target(controls_, value);
        failControlRequest_ = static_cast<uint8_t>(value2);
        break;
    case VDEV_KNOB_FAIL_READ: failReadAt_ = target(reads_, value); break;
    case VDEV_KNOB_FAIL_WRITE: failWriteAt_ = target(writes_, value); break;
    case VDEV_KNOB_SHORT_READ:
        shortReadAt_ = target(reads_, value);
        shortReadBytes_ = value2;
        break;
    case VDEV_KNOB_PEND_READ: pendReadAt_ = target(reads_, value); break;
    case VDEV_KNOB_ACTIVE_POLLS: activePolls_ = value; break;
    case VDEV_KNOB_ERROR_AT_POLL:
        errorAtPoll_ = target(polls_, value);
        if (!value)
            errorLatched_ = false;
        break;
    case VDEV_KNOB_PENDING_POLLS: pendingPolls_ = value; break;
    case VDEV_KNOB_FAIL_DRIVER_STATE: failStateAt_ = target(stateQueries_, value); break;
    case VDEV_KNOB_MEMORY_BYTES: Resize(value); break;
    case VDEV_KNOB_PLUGGED: plugged = value != 0; break;
    default: break;
    }
}

void DeviceModel::ClearKnobs()
{
    for (uint32_t id : {VDEV_KNOB_FAIL_CONTROL, VDEV_KNOB_FAIL_READ, VDEV_KNOB_FAIL_WRITE, VDEV_KNOB_SHORT_READ,
                        VDEV_KNOB_PEND_READ, VDEV_KNOB_ACTIVE_POLLS, VDEV_KNOB_ERROR_AT_POLL, VDEV_KNOB_PENDING_POLLS,
                        VDEV_KNOB_FAIL_DRIVER_STATE})
        Knob(id, 0, 0);
    heldAction_ = HeldRead::Release;
    xferCancelRaised = false;
}

void DeviceModel::StartPhase(Phase phase, uint32_t cursor, uint32_t bytes)
{
    phase_ = phase;
    cursor_ = cursor;
    remaining_ = bytes;
    takenLatch_ = true;
}

void DeviceModel::EndPhase()
{
    phase_ = Phase::None;
    cursor_ = remaining_ = 0;
}

void DeviceModel::Consume(uint32_t bytes)
{
    cursor_ += bytes;
    remaining_ = bytes >= remaining_ ? 0 : remaining_ - bytes;
    if (remaining_ == 0 && phase_ != Phase::MemoryIn && phase_ != Phase::MemoryOut)
        phase_ = Phase::None;
}

bool DeviceModel::Vendor(uint8_t request, uint16_t /*index*/, uint8_t* stage, uint32_t stageSize)
{
    ++controls_;
    if (failControlAt_ && controls_ == failControlAt_) {
        if (!failControlRequest_ || failControlRequest_ == request) {
            failControlAt_ = 0;
            return false;
        }
        ++failControlAt_;  // filtered: the next request is the candidate
    }
    switch (request) {
    case REQ_READ:
        StartPhase(Phase::MemoryIn, StageGetWord(stage, 1) * 2u, StageGetWord(stage, 2) * 4u);
        return true;
    case REQ_WRITE:
        StartPhase(Phase::MemoryOut, StageGetWord(stage, 2) * 2u, StageGetWord(stage, 3) * 4u);
        return true;
    case REQ_STATUS: {
        bool active = remaining_ > 0 || takenLatch_;
        ++polls_;
        if (activePolls_) {
            --activePolls_;
            active = true;
        }
        if (errorAtPoll_ && polls_ >= errorAtPoll_) {
            errorLatched_ = true;
            errorAtPoll_ = 0;
        }
        takenLatch_ = false;
        std::fill(stage, stage + stageSize, 0);
        stage[0] = static_cast<uint8_t>((active ? STATUS_ACTIVE : 0) | (errorLatched_ ? STATUS_ERROR : 0));
        return true;
    }
    case REQ_RESET:
        EndPhase();
        takenLatch_ = errorLatched_ = false;
        return true;
    case REQ_DEBUG:
        if (stageSize == VERIFY_STAGE_SIZE) {
            uint32_t first = StageGetWord(stage, 0), words = StageGetWord(stage, 1) * 2u, sum = 0;
            for (uint32_t i = 0; i < words; ++i) {
                uint64_t byte = (static_cast<uint64_t>(first) + i) * 2;
                sum += byte + 1 < memory_.size() ? memory_[byte] | (memory_[byte + 1] << 8) : 0xFFFF;
            }
            StagePutWord(verify_, 0, sum);
            StartPhase(Phase::Verify, 0, 4);
        } else {
            StartPhase(Phase::Debug, 0, StageGetWord(stage, 0));
        }
        return true;
    default:
        return false;
    }
}

bool DeviceModel::DriverState(bool& pending)
{
    ++stateQueries_;
    if (Hits(failStateAt_, stateQueries_))
        return false;
    pending = pendingPolls_ > 0;
    if (pendingPolls_)
        --pendingPolls_;
    return true;
}

uint32_t DeviceModel::ReadLimit(uint32_t size)
{
    if (Hits(shortReadAt_, reads_) && shortReadBytes_ < size)
        return shortReadBytes_;
    return size;
}

PipeResult DeviceModel::PipeRead(uint32_t size)
{
    PipeResult result;
    ++reads_;
    if (Hits(failReadAt_, reads_))
        return result;
    if (Hits(pendReadAt_, reads_) && heldAction_ != HeldRead::Release) {
        // The helper's reset request ends the phase and fails the held read.
        if (heldAction_ == HeldRead::CancelXfer)
            xferCancelRaised = true;
        ++controls_;
        EndPhase();
        takenLatch_ = errorLatched_ = false;
        return result;
    }
    result.ok = true;
    size = ReadLimit(size);
    switch (phase_) {
    case Phase::MemoryIn:
        if (remaining_ == 0)
            return result;
        for (uint32_t i = 0; i < size; ++i)
            result.data.push_back(ByteAt(cursor_ + i));
        break;
    case Phase::Verify:
        size = std::min(size, remaining_);
        result.data.assign(verify_ + cursor_, verify_ + cursor_ + size);
        break;
    case Phase::Debug:
        size = std::min(size, remaining_);
        for (uint32_t i = 0; i < size; ++i)
            result.data.push_back(DebugByte(cursor_ + i));
        break;
    default:
        return result;
    }
    result.moved = size;
    Consume(size);
    if (remaining_ == 0 && phase_ == Phase::MemoryIn)
        EndPhase();
    return result;
}

PipeResult DeviceModel::PipeWrite(const uint8_t* data, uint32_t size)
{
    PipeResult result;
    ++writes_;
    if (Hits(failWriteAt_, writes_))
        return result;
    result.ok = true;
    result.moved = size;
    if (phase_ == Phase::MemoryOut && remaining_ > 0) {
        for (uint32_t i = 0; i < size; ++i)
            if (cursor_ + i < memory_.size())
                memory_[cursor_ + i] = data[i];
        Consume(size);
        if (remaining_ == 0)
            EndPhase();
    } else if (phase_ == Phase::Debug) {
        Consume(std::min(size, remaining_));
    }
    return result;
}

}  // namespace soak
