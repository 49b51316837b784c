// The device methods of TVXDevice: opening the control path and the pipes,
// the vendor commands with their waits, bulk data, status and reset.
#include "device/tvx_device.h"

#include "runtime/scoped.h"
#include "text_buffer.h"

namespace {

// Every command of this object goes out with wValue 1; the waits ask for
// status selector 1.
constexpr uint16_t kCommandValue = 1;
constexpr uint16_t kWaitSelector = 1;

constexpr DWORD kPendingPollMs = 5;
constexpr DWORD kIdlePollMs = 50;
constexpr DWORD kTakenPollMs = 5;

}  // namespace

HRESULT TVXDevice::InternalQueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!InlineIsEqualGUID(riid, IID_IUnknown) && !InlineIsEqualGUID(riid, IID_ITVXDevice) &&
        !InlineIsEqualGUID(riid, IID_IDispatch))
        return E_NOINTERFACE;
    ITVXDevice* found = this;
    found->AddRef();
    *ppv = found;
    return S_OK;
}

DWORD TVXDevice::SendRequest(HANDLE handle, uint8_t direction, uint8_t request, uint16_t value, uint16_t index,
                             void* stage, uint16_t stageSize, DWORD* returned)
{
    CModuleBlock block(sizeof(VendorCommandBlock));
    if (!block)
        return R_NO_MEMORY;
    VendorBlockInit(block.As<VendorCommandBlock>(), direction, request, value, index, stageSize);
    return access_.IoControl(handle, IOCTL_VENDOR_REQUEST, block.As<void>(), sizeof(VendorCommandBlock), stage,
                             stageSize, returned);
}

DWORD TVXDevice::QueryDriverState(HANDLE handle, DriverState& state)
{
    state = DriverState{};
    DWORD returned = 0;
    return access_.IoControl(handle, IOCTL_DRIVER_STATE, nullptr, 0, &state, sizeof(state), &returned);
}

DWORD TVXDevice::RequestStatus(HANDLE handle, uint16_t selector, void* statusBlock, DWORD* returned)
{
    CLockGuard guard(StatusLock());
    return SendRequest(handle, VENDOR_DEVICE_TO_HOST, REQ_STATUS, selector, 0, statusBlock, STATUS_STAGE_SIZE,
                       returned);
}

// Phase one until the driver can take a command, phase two until the device
// is idle.  No lock is held while sleeping.
DWORD TVXDevice::WaitReady(HANDLE handle)
{
    DriverState state;
    do {
        Sleep(kPendingPollMs);
        if (QueryDriverState(handle, state) != 0)
            return R_DEVICE_ERROR;
    } while (state.pending != 0);

    for (;;) {
        Sleep(kIdlePollMs);
        StatusBlock status{};
        DWORD returned = 0;
        if (RequestStatus(handle, kWaitSelector, &status, &returned) != 0 || (status.bytes[0] & STATUS_ERROR))
            return R_DEVICE_ERROR;
        if (!(status.bytes[0] & STATUS_ACTIVE))
            return 0;
    }
}

// Until the device shows that it has taken the command.
DWORD TVXDevice::WaitComplete(HANDLE handle)
{
    for (;;) {
        Sleep(kTakenPollMs);
        StatusBlock status{};
        DWORD returned = 0;
        if (RequestStatus(handle, kWaitSelector, &status, &returned) != 0 || (status.bytes[0] & STATUS_ERROR))
            return R_DEVICE_ERROR;
        if (status.bytes[0] & STATUS_ACTIVE)
            return 0;
    }
}

HRESULT TVXDevice::Open(VARIANT* lpvDevice, const char* suffix, DWORD access, ULONG* lpStatus)
{
    DeviceRecord& record = RecordOf<DeviceRecord>(lpvDevice);
    const DWORD found = access_.FindDevicePath(record);
    if (found != 0) {
        *lpStatus = found;
        return S_FALSE;
    }
    const char* path = access_.DevicePath();
    char pipePath[MAX_PATH] = {};
    if (suffix) {
        DWORD used = 0;
        if (!AppendText(pipePath, used, path) || !AppendText(pipePath, used, suffix)) {
            *lpStatus = R_OPEN_FAILED;
            return S_FALSE;
        }
        path = pipePath;
    }
    // The handle belongs to the record from here on, valid or not.
    record.handle = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (record.handle == INVALID_HANDLE_VALUE) {
        *lpStatus = R_OPEN_FAILED;
        return S_FALSE;
    }
    *lpStatus = 0;
    return S_OK;
}

STDMETHODIMP TVXDevice::CreateDevice(VARIANT* lpvDevice, ULONG* lpStatus)
{
    return Open(lpvDevice, nullptr, GENERIC_READ | GENERIC_WRITE, lpStatus);
}

STDMETHODIMP TVXDevice::CreateDeviceExR(VARIANT* lpvDevice, ULONG* lpStatus)
{
    return Open(lpvDevice, PIPE_IN_SUFFIX, GENERIC_READ, lpStatus);
}

STDMETHODIMP TVXDevice::CreateDeviceExW(VARIANT* lpvDevice, ULONG* lpStatus)
{
    return Open(lpvDevice, PIPE_OUT_SUFFIX, GENERIC_WRITE, lpStatus);
}

// The read and write announcements: zero words, the unit count last.
DWORD TVXDevice::BulkCommand(HANDLE handle, const ParamRecord& param, uint8_t request, uint32_t stageSize)
{
    DWORD status = WaitReady(handle);
    if (status != 0)
        return status;
    if (cancelled_)
        return R_CANCELLED;
    uint8_t stage[WRITE_STAGE_SIZE] = {};
    StagePutWord(stage, stageSize / 4 - 1, param.byteCount >> 2);
    DWORD returned = 0;
    status = SendRequest(handle, VENDOR_HOST_TO_DEVICE, request, kCommandValue, param.index, stage,
                         static_cast<uint16_t>(stageSize), &returned);
    if (status != 0)
        return status;
    return WaitComplete(handle);
}

STDMETHODIMP TVXDevice::BulkReadCmd(VARIANT* lpvDevice, VARIANT* lpvParam, ULONG* lpStatus)
{
    *lpStatus = BulkCommand(RecordOf<DeviceRecord>(lpvDevice).handle, RecordOf<ParamRecord>(lpvParam), REQ_READ,
                            READ_STAGE_SIZE);
    return S_OK;
}

STDMETHODIMP TVXDevice::BulkWriteCmd(VARIANT* lpvDevice, VARIANT* lpvParam, ULONG* lpStatus)
{
    *lpStatus = BulkCommand(RecordOf<DeviceRecord>(lpvDevice).handle, RecordOf<ParamRecord>(lpvParam), REQ_WRITE,
                            WRITE_STAGE_SIZE);
    return S_OK;
}

STDMETHODIMP TVXDevice::BulkReadTransfer(VARIANT* lpvDevice, VARIANT* lpvBuf, ULONG dwBytesToRead,
                                         ULONG* lpdwBytesOfRead, ULONG* lpStatus)
{
    *lpStatus = access_.ReadData(RecordOf<DeviceRecord>(lpvDevice).handle, lpvBuf->byref, dwBytesToRead,
                                 lpdwBytesOfRead);
    return S_OK;
}

STDMETHODIMP TVXDevice::BulkWriteTransfer(VARIANT* lpvDevice, VARIANT* lpvBuf, ULONG dwBytesToWrite,
                                          ULONG* lpdwBytesOfWrite, ULONG* lpStatus)
{
    *lpStatus = access_.WriteData(RecordOf<DeviceRecord>(lpvDevice).handle, lpvBuf->byref, dwBytesToWrite,
                                  lpdwBytesOfWrite);
    return S_OK;
}

// Request 0xAA, then the data phase on the same handle.  Only the write
// direction honours (and first clears) the cancelled flag.
DWORD TVXDevice::ResCommand(HANDLE handle, const CmdRecord& cmd, bool toWrite, ULONG* transferred)
{
    if (toWrite)
        cancelled_ = 0;
    DWORD status = WaitReady(handle);
    if (status != 0)
        return status;
    if (toWrite && cancelled_)
        return R_CANCELLED;
    uint8_t stage[DEBUG_STAGE_SIZE];
    StagePutWord(stage, 0, cmd.byteCount);
    DWORD returned = 0;
    status = SendRequest(handle, VENDOR_HOST_TO_DEVICE, REQ_DEBUG, kCommandValue, cmd.index, stage,
                         DEBUG_STAGE_SIZE, &returned);
    if (status != 0)
        return status;
    if (toWrite && cancelled_)
        return R_CANCELLED;
    status = WaitComplete(handle);
    if (status != 0)
        return status;
    if (toWrite && cancelled_)
        return R_CANCELLED;
    return toWrite ? access_.WriteData(handle, cmd.buffer, cmd.byteCount, transferred)
                   : access_.ReadData(handle, cmd.buffer, cmd.byteCount, transferred);
}

STDMETHODIMP TVXDevice::ResCmdToRead(VARIANT* lpvDevice, VARIANT* lpvCmd, ULONG* lpdwBytesOfRead, ULONG* lpStatus)
{
    *lpStatus = ResCommand(RecordOf<DeviceRecord>(lpvDevice).handle, RecordOf<CmdRecord>(lpvCmd), false,
                           lpdwBytesOfRead);
    return S_OK;
}

STDMETHODIMP TVXDevice::ResCmdToWrite(VARIANT* lpvDevice, VARIANT* lpvCmd, ULONG* lpdwBytesOfWrite,
                                      ULONG* lpStatus)
{
    *lpStatus = ResCommand(RecordOf<DeviceRecord>(lpvDevice).handle, RecordOf<CmdRecord>(lpvCmd), true,
                           lpdwBytesOfWrite);
    return S_OK;
}

STDMETHODIMP TVXDevice::GetDeviceStatus(VARIANT* lpvDevice, VARIANT* lpvParam, VARIANT* lpvStatus,
                                        ULONG* lpdwBytesReturn, ULONG* lpStatus)
{
    *lpStatus = RequestStatus(RecordOf<DeviceRecord>(lpvDevice).handle,
                              RecordOf<ParamRecord>(lpvParam).statusSelector, lpvStatus->byref, lpdwBytesReturn);
    return S_OK;
}

STDMETHODIMP TVXDevice::ResetOrCancel(VARIANT* lpvDevice, VARIANT* lpvParam, ULONG* lpStatus)
{
    DWORD returned = 0;
    const DWORD status = SendRequest(RecordOf<DeviceRecord>(lpvDevice).handle, VENDOR_DEVICE_TO_HOST, REQ_RESET,
                                     kCommandValue, RecordOf<ParamRecord>(lpvParam).index, nullptr, 0, &returned);
    // Raised whether the request went through or not; only a command block
    // that could not be had leaves the flag alone.
    if (status != R_NO_MEMORY)
        cancelled_ = 1;
    *lpStatus = status;
    return S_OK;
}
