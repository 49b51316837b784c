#include "soak/op_log.h"

#include <algorithm>

#include "usb_protocol.h"

namespace soak {

bool Ok(const VdevLogRecord& record)
{
    return record.c == 0;
}

static bool IsVendor(const VdevLogRecord& r)
{
    return r.type == VDEV_LOG_CONTROL && r.a == IOCTL_VENDOR_REQUEST && r.inLen >= 12;
}

uint8_t RequestOf(const VdevLogRecord& record)
{
    return record.data[4];
}

uint16_t IndexOf(const VdevLogRecord& record)
{
    return static_cast<uint16_t>(record.data[8] | (record.data[9] << 8));
}

const uint8_t* StageOf(const VdevLogRecord& record)
{
    return record.data + record.inLen;
}

OpLog OpLog::After(const VdevLogRecord& command) const
{
    OpLog later;
    for (const VdevLogRecord& r : records) {
        if (r.seq <= command.seq)
            continue;
        if (IsVendor(r) && RequestOf(r) != REQ_STATUS)
            break;
        later.records.push_back(r);
    }
    return later;
}

std::vector<const VdevLogRecord*> OpLog::Vendor(uint8_t request) const
{
    std::vector<const VdevLogRecord*> found;
    for (const VdevLogRecord& r : records)
        if (IsVendor(r) && RequestOf(r) == request)
            found.push_back(&r);
    return found;
}

std::vector<const VdevLogRecord*> OpLog::Controls() const
{
    std::vector<const VdevLogRecord*> found;
    for (const VdevLogRecord& r : records)
        if (IsVendor(r) || (r.type == VDEV_LOG_CONTROL && r.a == IOCTL_DRIVER_STATE))
            found.push_back(&r);
    return found;
}

std::vector<const VdevLogRecord*> OpLog::Pipe(uint16_t type) const
{
    std::vector<const VdevLogRecord*> found;
    for (const VdevLogRecord& r : records)
        if (r.type == type)
            found.push_back(&r);
    return found;
}

uint32_t OpLog::MovedBeforeReset(uint16_t type) const
{
    uint32_t moved = 0;
    for (const VdevLogRecord& r : records) {
        if (r.type == VDEV_LOG_RESET)
            break;
        if (r.type == type && Ok(r))
            moved += r.b;
    }
    return moved;
}

uint32_t OpLog::TransfersBeforeReset(uint16_t type) const
{
    uint32_t transfers = 0;
    for (const VdevLogRecord& r : records) {
        if (r.type == VDEV_LOG_RESET)
            break;
        transfers += r.type == type && Ok(r) && r.a;
    }
    return transfers;
}

bool OpLog::AnyFailed(uint16_t type) const
{
    return std::any_of(records.begin(), records.end(), [type](const VdevLogRecord& r) { return r.type == type && !Ok(r); });
}

// A REQ_READ or REQ_WRITE opens a memory phase at the stage's word address
// for 4 bytes a counted unit; a transfer inside it moves in full at the
// phase's cursor; any other request ends it.
std::vector<Move> OpLog::Moves() const
{
    std::vector<Move> moves;
    bool open = false, in = false;
    uint32_t cursor = 0, remaining = 0, caller = 0;
    for (const VdevLogRecord& r : records) {
        if (IsVendor(r) && Ok(r) && RequestOf(r) != REQ_STATUS) {
            const uint8_t request = RequestOf(r);
            open = request == REQ_READ || request == REQ_WRITE;
            in = request == REQ_READ;
            const unsigned words = in ? READ_STAGE_SIZE / 4 : WRITE_STAGE_SIZE / 4;
            if (open) {
                cursor = StageGetWord(StageOf(r), words - 2) * 2u;
                remaining = StageGetWord(StageOf(r), words - 1) * 4u;
                caller = 0;
                open = remaining > 0;
            }
        } else if ((r.type == VDEV_LOG_READ || r.type == VDEV_LOG_WRITE) && open &&
                   (r.type == VDEV_LOG_READ) == in) {
            if (Ok(r) && r.b) {
                moves.push_back({in, caller, cursor, r.b});
                cursor += r.b;
                remaining -= std::min(remaining, r.b);
                open = remaining > 0;
            }
            caller += r.a;
        }
    }
    return moves;
}

}  // namespace soak
