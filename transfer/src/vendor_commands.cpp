#include "vendor_commands.h"

#include <memory>
#include <new>

#include "process_state.h"
#include "shared_settings.h"
#include "uXfer.h"
#include "usb_protocol.h"

namespace {

constexpr uint16_t kStatusValue = 1;
constexpr uint16_t kResetValue = 1;

uint32_t VendorRequest(CUsb& usb, uint8_t direction, uint8_t request, uint16_t value, uint16_t index,
                       void* stage, uint16_t stageSize, DWORD* returned)
{
    std::unique_ptr<VendorCommandBlock> block(new (std::nothrow) VendorCommandBlock);
    if (!block)
        return RESULT_NO_MEMORY;
    VendorBlockInit(block.get(), direction, request, value, index, stageSize);
    if (!usb.IoControl(IOCTL_VENDOR_REQUEST, block.get(), sizeof *block, stage, stageSize, returned))
        return RESULT_IO_FAILED;
    return RESULT_OK;
}

uint32_t WaitForActive(bool active)
{
    if (osGeneration > 5) {
        Sleep(delayMs);
        return RESULT_OK;
    }
    StatusBlock status = {};
    for (uint32_t poll = 0; poll < kMaxStatusPolls; ++poll) {
        Sleep(kStatusPollMs);
        DWORD returned = 0;
        uint32_t result = QueryStatus(status.bytes, &returned);
        if (result != RESULT_OK)
            return result;
        if (status.bytes[0] & STATUS_ERROR)
            return RESULT_IO_FAILED;
        if (((status.bytes[0] & STATUS_ACTIVE) != 0) == active)
            return RESULT_OK;
    }
    return RESULT_IO_FAILED;
}

}  // namespace

uint32_t QueryStatus(void* status8, DWORD* returned)
{
    return VendorRequest(theUsb, VENDOR_DEVICE_TO_HOST, REQ_STATUS, kStatusValue, 0, status8, STATUS_STAGE_SIZE,
                         returned);
}

uint32_t SendReset(CUsb& usb, uint32_t resetCode)
{
    cancelFlag = 1;
    DWORD returned = 0;
    return VendorRequest(usb, VENDOR_DEVICE_TO_HOST, REQ_RESET, kResetValue, static_cast<uint16_t>(resetCode),
                         nullptr, 0, &returned);
}

uint32_t WaitIdle()
{
    return WaitForActive(false);
}

uint32_t WaitDone()
{
    return WaitForActive(true);
}

uint32_t SendCommand(uint8_t request, uint16_t value, uint16_t index, void* stage, uint16_t stageSize)
{
    uint32_t result = WaitIdle();
    if (result != RESULT_OK)
        return result;
    DWORD returned = 0;
    result = VendorRequest(theUsb, VENDOR_HOST_TO_DEVICE, request, value, index, stage, stageSize, &returned);
    if (result != RESULT_OK)
        return result;
    return WaitDone();
}
