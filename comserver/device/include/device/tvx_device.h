// TVXDevice: the device object behind ITVXDevice.  It keeps only the device
// path of its last enumeration and the cancelled flag; handles live in the
// client's records.  The IUnknown half (which differs between a standalone
// and an aggregated object) and the IDispatch half come from the module
// shell, which makes the instances (tvx_instance.cpp).
#pragma once

#include <windows.h>

#include <stdint.h>

#include "Talvix.h"
#include "device/device_access.h"
#include "talvix_records.h"
#include "usb_protocol.h"

class TVXDevice : public ITVXDevice {
public:
    // ITVXDevice.
    STDMETHODIMP BulkReadCmd(VARIANT* lpvDevice, VARIANT* lpvParam, ULONG* lpStatus) override;
    STDMETHODIMP BulkWriteCmd(VARIANT* lpvDevice, VARIANT* lpvParam, ULONG* lpStatus) override;
    STDMETHODIMP BulkReadTransfer(VARIANT* lpvDevice, VARIANT* lpvBuf, ULONG dwBytesToRead,
                                  ULONG* lpdwBytesOfRead, ULONG* lpStatus) override;
    STDMETHODIMP BulkWriteTransfer(VARIANT* lpvDevice, VARIANT* lpvBuf, ULONG dwBytesToWrite,
                                   ULONG* lpdwBytesOfWrite, ULONG* lpStatus) override;
    STDMETHODIMP CreateDevice(VARIANT* lpvDevice, ULONG* lpStatus) override;
    STDMETHODIMP CreateDeviceExR(VARIANT* lpvDevice, ULONG* lpStatus) override;
    STDMETHODIMP CreateDeviceExW(VARIANT* lpvDevice, ULONG* lpStatus) override;
    STDMETHODIMP ResCmdToRead(VARIANT* lpvDevice, VARIANT* lpvCmd, ULONG* lpdwBytesOfRead, ULONG* lpStatus) override;
    STDMETHODIMP ResCmdToWrite(VARIANT* lpvDevice, VARIANT* lpvCmd, ULONG* lpdwBytesOfWrite,
                               ULONG* lpStatus) override;
    STDMETHODIMP GetDeviceStatus(VARIANT* lpvDevice, VARIANT* lpvParam, VARIANT* lpvStatus, ULONG* lpdwBytesReturn,
                                 ULONG* lpStatus) override;
    STDMETHODIMP ResetOrCancel(VARIANT* lpvDevice, VARIANT* lpvParam, ULONG* lpStatus) override;
    // Detection and versions (device_detect.cpp).
    STDMETHODIMP DeviceDetect(ULONG* lpResult) override;
    STDMETHODIMP GetVersion(ULONG* lpResult) override;
    STDMETHODIMP GetDriverVersion(ULONG* lpDrvVerion, ULONG* lpStatus) override;

protected:
    TVXDevice() : refCount_(0) {}
    ~TVXDevice() = default;
    TVXDevice(const TVXDevice&) = delete;
    TVXDevice& operator=(const TVXDevice&) = delete;

    // The interface map: ITVXDevice, then IDispatch, one pointer for both.
    HRESULT InternalQueryInterface(REFIID riid, void** ppv);

    // A standalone object counts its references here; a contained one keeps
    // its controlling unknown in the same place.
    union {
        ULONG refCount_;
        IUnknown* outer_;
    };

private:
    HRESULT Open(VARIANT* lpvDevice, const char* suffix, DWORD access, ULONG* lpStatus);
    DWORD BulkCommand(HANDLE handle, const ParamRecord& param, uint8_t request, uint32_t stageSize);
    DWORD ResCommand(HANDLE handle, const CmdRecord& cmd, bool toWrite, ULONG* transferred);
    DWORD SendRequest(HANDLE handle, uint8_t direction, uint8_t request, uint16_t value, uint16_t index,
                      void* stage, uint16_t stageSize, DWORD* returned);
    DWORD QueryDriverState(HANDLE handle, DriverState& state);
    DWORD RequestStatus(HANDLE handle, uint16_t selector, void* statusBlock, DWORD* returned);
    DWORD WaitReady(HANDLE handle);
    DWORD WaitComplete(HANDLE handle);
    DWORD ReadDescriptor(UsbDeviceDescriptor& descriptor);

    CDeviceAccess access_;
    volatile LONG cancelled_ = 0;
};

// The records behind the VARIANT parameters: the pointer in the value member
// (shared by byref and lVal); the type tag plays no part.
template <class Record> Record& RecordOf(VARIANT* carrier)
{
    return *static_cast<Record*>(carrier->byref);
}
