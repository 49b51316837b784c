// The transfer exports: chunked reads and writes of device memory, verify,
// and the two debug commands.
#include <algorithm>
#include <cstdint>

#include "process_state.h"
#include "uXfer.h"
#include "usb_protocol.h"
#include "vendor_commands.h"

namespace {

// The device ends a bulk transfer on a short packet; a stop after a chunk
// that filled its last packet needs a zero-length packet (out) or a drained
// packet (in) to leave the pipe on a boundary.
constexpr uint32_t kPacketSize = 64;
constexpr uint32_t kCancelResetCode = 2;

enum class Direction { In, Out };

void SendProgress(uint32_t bytes)
{
    COPYDATASTRUCT data = {};
    data.dwData = bytes;
    SendMessageA(msgWnd, WM_COPYDATA, XFER_PROGRESS_ID, reinterpret_cast<LPARAM>(&data));
}

// A descriptor whose unit count can't be formed is refused before the device hears of it.
bool HasUnitCount(const TransferDesc* desc)
{
    return desc->unitSize != 0;
}

uint32_t UnitCount(const TransferDesc* desc)
{
    return desc->length / desc->unitSize;
}

// After a cancel or a failed chunk: reset the device and leave the pipe on a
// packet boundary.  `chunk` is the size of the step that stopped.
uint32_t StopEarly(Direction direction, uint32_t chunk)
{
    bool cancelled = cancelFlag != 0;
    uint32_t result = SendReset(theUsb, kCancelResetCode);
    if (result != RESULT_OK)
        return result;
    if (chunk % kPacketSize == 0) {
        DWORD moved = 0;
        if (direction == Direction::Out) {
            theUsb.PipeWrite(nullptr, 0, &moved);
        } else {
            uint8_t scratch[2 * kPacketSize];  // room for a device that overfills its packet
            theUsb.PipeRead(scratch, kPacketSize, &moved);
        }
    }
    return cancelled ? RESULT_OK : RESULT_IO_FAILED;
}

// The bulk phase of a read or write once the device has taken the command.
uint32_t MoveChunks(Direction direction, uint8_t* buffer, uint32_t length, uint32_t* count)
{
    *count = 0;
    uint32_t remaining = length;
    uint32_t chunk = XFER_CHUNK;  // a cancel before the first chunk counts as after a full one
    while (remaining > 0) {
        if (cancelFlag)
            return StopEarly(direction, chunk);
        chunk = std::min(remaining, XFER_CHUNK);
        DWORD moved = 0;
        BOOL ok = direction == Direction::In ? theUsb.PipeRead(buffer, chunk, &moved)
                                             : theUsb.PipeWrite(buffer, chunk, &moved);
        if (!ok)
            return StopEarly(direction, chunk);
        // A short read still advances by the whole chunk, so every chunk
        // lands at its own offset; the count shows what is missing.
        *count += moved;
        buffer += chunk;
        remaining -= chunk;
        if (msgFlag)
            SendProgress(chunk);
    }
    return RESULT_OK;
}

uint32_t DebugCommand(const TransferDesc* desc)
{
    uint8_t stage[DEBUG_STAGE_SIZE];
    StagePutWord(stage, 0, desc->length);
    return SendCommand(REQ_DEBUG, desc->cmdValue, desc->cmdIndex, stage, sizeof stage);
}

}  // namespace

extern "C" {

uint32_t UXFER_API uXferRead(const TransferDesc* desc, void* buffer, uint32_t* count)
{
    if (!HasUnitCount(desc))
        return RESULT_IO_FAILED;
    cancelFlag = 0;
    uint8_t stage[READ_STAGE_SIZE];
    StagePutWord(stage, 0, desc->param0);
    StagePutWord(stage, 1, desc->address >> 1);
    StagePutWord(stage, 2, UnitCount(desc));
    uint32_t result = SendCommand(REQ_READ, desc->cmdValue, desc->cmdIndex, stage, sizeof stage);
    if (result != RESULT_OK)
        return result;
    return MoveChunks(Direction::In, static_cast<uint8_t*>(buffer), desc->length, count);
}

uint32_t UXFER_API uXferWrite(const TransferDesc* desc, const void* buffer, uint32_t* count)
{
    if (!HasUnitCount(desc))
        return RESULT_IO_FAILED;
    cancelFlag = 0;
    uint8_t stage[WRITE_STAGE_SIZE];
    StagePutWord(stage, 0, desc->param0);
    StagePutWord(stage, 1, desc->param1);
    StagePutWord(stage, 2, desc->address >> 1);
    StagePutWord(stage, 3, UnitCount(desc));
    uint32_t result = SendCommand(REQ_WRITE, desc->cmdValue, desc->cmdIndex, stage, sizeof stage);
    if (result != RESULT_OK)
        return result;
    // The pipe only reads from the buffer; the chunk loop is shared with reads.
    return MoveChunks(Direction::Out, static_cast<uint8_t*>(const_cast<void*>(buffer)), desc->length, count);
}

uint32_t UXFER_API uXferVerify(const TransferDesc* desc, void* result4)
{
    if (!HasUnitCount(desc))
        return RESULT_IO_FAILED;
    cancelFlag = 0;
    uint8_t stage[VERIFY_STAGE_SIZE];
    StagePutWord(stage, 0, desc->address >> 1);
    StagePutWord(stage, 1, UnitCount(desc));
    uint32_t result = SendCommand(REQ_DEBUG, desc->cmdValue, desc->cmdIndex, stage, sizeof stage);
    if (result != RESULT_OK)
        return result;
    // Exactly 4 bytes: a short answer is no verification value.
    DWORD moved = 0;
    if (!theUsb.PipeRead(result4, 4, &moved) || moved != 4)
        return RESULT_IO_FAILED;
    SendProgress(desc->length);
    return RESULT_OK;
}

uint32_t UXFER_API uDebugReadCmd(const TransferDesc* desc, void* buffer, uint32_t* count)
{
    uint32_t result = DebugCommand(desc);
    if (result != RESULT_OK)
        return result;
    DWORD moved = *count;  // stays as it was when the pipe was never opened
    BOOL ok = theUsb.PipeRead(buffer, desc->length, &moved);
    *count = moved;
    return ok ? RESULT_OK : RESULT_IO_FAILED;
}

uint32_t UXFER_API uDebugWriteCmd(const TransferDesc* desc, const void* buffer, uint32_t* count)
{
    uint32_t result = DebugCommand(desc);
    if (result != RESULT_OK)
        return result;
    DWORD moved = *count;  // stays as it was when the pipe was never opened
    BOOL ok = theUsb.PipeWrite(buffer, desc->length, &moved);
    *count = moved;
    return ok ? RESULT_OK : RESULT_IO_FAILED;
}

}  // extern "C"
