#include "soak/oracle.h"

#include <algorithm>
#include <cstring>

#include "talvix_records.h"
#include "usb_protocol.h"

namespace soak {

namespace {

constexpr uint32_t kPacket = 64;
constexpr uint32_t kCancelResetCode = 2;

// A data-carrying command: on a generation-6 system the waits only sleep.
bool Command(DeviceModel& device, const XferConn& conn, uint8_t request, uint8_t* stage, uint32_t size)
{
    return conn.control && device.Vendor(request, 0, stage, size);
}

// The chunk loop of a read or write, and its stop after a failure or cancel.
XferOutcome MoveChunks(DeviceModel& device, const XferConn& conn, bool in, uint32_t length, const uint8_t* data,
                       std::vector<uint8_t> buffer)
{
    XferOutcome out;
    out.countSet = true;
    auto stop = [&](uint32_t chunk) {
        const bool cancelled = device.xferCancelRaised;
        if (!device.Vendor(REQ_RESET, kCancelResetCode, nullptr, 0)) {
            out.result = RESULT_IO_FAILED;
        } else {
            if (chunk % kPacket == 0) {
                if (in && conn.CanRead())
                    device.PipeRead(kPacket);
                else if (!in && conn.CanWrite())
                    device.PipeWrite(nullptr, 0);
            }
            out.result = cancelled ? RESULT_OK : RESULT_IO_FAILED;
        }
        out.buffer = std::move(buffer);
        return out;
    };
    uint32_t remaining = length, offset = 0, chunk = XFER_CHUNK;
    while (remaining > 0) {
        if (device.xferCancelRaised)
            return stop(chunk);
        chunk = std::min(remaining, XFER_CHUNK);
        PipeResult moved;
        if (in && conn.CanRead())
            moved = device.PipeRead(chunk);
        else if (!in && conn.CanWrite())
            moved = device.PipeWrite(data + offset, chunk);
        if (!moved.ok)
            return stop(chunk);
        if (in)
            std::copy(moved.data.begin(), moved.data.end(), buffer.begin() + offset);
        out.count += moved.moved;
        offset += chunk;
        remaining -= chunk;
        ++out.progress;
    }
    out.buffer = std::move(buffer);
    return out;
}

}  // namespace

uint32_t ExpectCreate(DeviceModel& device, XferConn& conn, uint32_t flags)
{
    flags &= OPEN_ALL;
    if (!device.plugged || !conn.defaultClass || conn.instance != 0)
        return RESULT_OPEN_FAILED;
    conn.control = (flags & OPEN_CONTROL) != 0;
    conn.writePipe = (flags & OPEN_WRITE) != 0;
    conn.readPipe = (flags & OPEN_READ) != 0;
    conn.openFlags = flags;
    return RESULT_OK;
}

uint32_t ExpectClose(XferConn& conn)
{
    const uint32_t result = conn.writePipe ? 1 : 0xFFFFFFFF;
    conn.control = conn.readPipe = conn.writePipe = false;
    return result;
}

XferOutcome ExpectRead(DeviceModel& device, const XferConn& conn, const TransferDesc& desc,
                       std::vector<uint8_t> buffer)
{
    XferOutcome out;
    out.result = RESULT_IO_FAILED;
    out.buffer = buffer;
    if (desc.unitSize == 0)
        return out;
    uint8_t stage[READ_STAGE_SIZE];
    StagePutWord(stage, 0, desc.param0);
    StagePutWord(stage, 1, desc.address >> 1);
    StagePutWord(stage, 2, desc.length / desc.unitSize);
    if (!Command(device, conn, REQ_READ, stage, sizeof stage))
        return out;
    return MoveChunks(device, conn, true, desc.length, nullptr, std::move(buffer));
}

XferOutcome ExpectWrite(DeviceModel& device, const XferConn& conn, const TransferDesc& desc, const uint8_t* data)
{
    XferOutcome out;
    out.result = RESULT_IO_FAILED;
    if (desc.unitSize == 0)
        return out;
    uint8_t stage[WRITE_STAGE_SIZE];
    StagePutWord(stage, 0, desc.param0);
    StagePutWord(stage, 1, desc.param1);
    StagePutWord(stage, 2, desc.address >> 1);
    StagePutWord(stage, 3, desc.length / desc.unitSize);
    if (!Command(device, conn, REQ_WRITE, stage, sizeof stage))
        return out;
    return MoveChunks(device, conn, false, desc.length, data, {});
}

XferOutcome ExpectVerify(DeviceModel& device, const XferConn& conn, const TransferDesc& desc,
                         std::vector<uint8_t> result4)
{
    XferOutcome out;
    out.result = RESULT_IO_FAILED;
    out.buffer = result4;
    if (desc.unitSize == 0)
        return out;
    uint8_t stage[VERIFY_STAGE_SIZE];
    StagePutWord(stage, 0, desc.address >> 1);
    StagePutWord(stage, 1, desc.length / desc.unitSize);
    if (!Command(device, conn, REQ_DEBUG, stage, sizeof stage) || !conn.CanRead())
        return out;
    PipeResult moved = device.PipeRead(4);
    if (!moved.ok)
        return out;
    // What arrived is in the buffer; fewer than 4 bytes are no value.
    std::copy(moved.data.begin(), moved.data.end(), out.buffer.begin());
    if (moved.moved != 4)
        return out;
    out.result = RESULT_OK;
    out.progress = 1;
    return out;
}

XferOutcome ExpectDebug(DeviceModel& device, const XferConn& conn, const TransferDesc& desc, bool read,
                        std::vector<uint8_t> buffer)
{
    XferOutcome out;
    out.result = RESULT_IO_FAILED;
    out.buffer = buffer;
    uint8_t stage[DEBUG_STAGE_SIZE];
    StagePutWord(stage, 0, desc.length);
    if (!Command(device, conn, REQ_DEBUG, stage, sizeof stage))
        return out;
    if (read ? !conn.CanRead() : !conn.CanWrite())
        return out;  // no system call: the count stays as it was
    PipeResult moved = read ? device.PipeRead(desc.length) : device.PipeWrite(buffer.data(), desc.length);
    out.countSet = true;
    out.count = moved.moved;
    if (read)
        std::copy(moved.data.begin(), moved.data.end(), out.buffer.begin());
    out.result = moved.ok ? RESULT_OK : RESULT_IO_FAILED;
    return out;
}

uint32_t ExpectWaitReady(DeviceModel& device, bool handle)
{
    if (!handle)
        return R_DEVICE_ERROR;
    for (;;) {
        bool pending = false;
        if (!device.DriverState(pending))
            return R_DEVICE_ERROR;
        if (!pending)
            break;
    }
    for (int poll = 0; poll < 100000; ++poll) {
        uint8_t status[STATUS_STAGE_SIZE];
        if (!device.Vendor(REQ_STATUS, 0, status, sizeof status) || (status[0] & STATUS_ERROR))
            return R_DEVICE_ERROR;
        if (!(status[0] & STATUS_ACTIVE))
            return 0;
    }
    return kWaitNeverEnds;
}

uint32_t ExpectWaitComplete(DeviceModel& device)
{
    for (int poll = 0; poll < 100000; ++poll) {
        uint8_t status[STATUS_STAGE_SIZE];
        if (!device.Vendor(REQ_STATUS, 0, status, sizeof status) || (status[0] & STATUS_ERROR))
            return R_DEVICE_ERROR;
        if (status[0] & STATUS_ACTIVE)
            return 0;
    }
    return kWaitNeverEnds;
}

}  // namespace soak
