#include "usb_connection.h"

#include <string>

#include "uXfer.h"
#include "usb_protocol.h"

namespace {

const GUID kDefaultInterface = DEVICE_CLASS_DEFAULT_INIT;
constexpr DWORD kOpenPauseMs = 50;

// The part's CloseHandle result; -1 when nothing was open.
uint32_t CloseOwned(std::unique_ptr<backend::DevicePart>& part)
{
    if (!part)
        return UINT32_MAX;
    const BOOL closed = part->Close();
    part.reset();
    return static_cast<uint32_t>(closed);
}

}  // namespace

CUsb::CUsb() : interfaceGuid(&kDefaultInterface)
{
    OutputDebugStringA("\nCUsb()");
}

CUsb::~CUsb()
{
    OutputDebugStringA("\n~CUsb()");
    Close();
}

uint32_t CUsb::CountInstances() const
{
    return backend::CountInstances(*interfaceGuid);
}

bool CUsb::Open(uint32_t instance, uint32_t flags)
{
    const std::string path = backend::FindDevicePath(*interfaceGuid, instance);
    if (path.empty())
        return false;
    Close();
    if (flags & OPEN_CONTROL) {
        control = backend::OpenPart(path, GENERIC_READ | GENERIC_WRITE);
        if (!control)
            return false;
    }
    // The device needs a moment after the control path opens before its pipes do.
    Sleep(kOpenPauseMs);
    if (flags & OPEN_WRITE) {
        writePipe = backend::OpenPart(path + PIPE_OUT_SUFFIX, GENERIC_WRITE);
        if (!writePipe)
            return false;
    }
    if (flags & OPEN_READ) {
        readPipe = backend::OpenPart(path + PIPE_IN_SUFFIX, GENERIC_READ);
        if (!readPipe)
            return false;
    }
    openFlags = flags;
    return true;
}

uint32_t CUsb::Close()
{
    CloseOwned(control);
    CloseOwned(readPipe);
    return CloseOwned(writePipe);
}

BOOL CUsb::IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned)
{
    if (!control) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return control->Control(code, in, inSize, out, outSize, returned);
}

BOOL CUsb::PipeRead(void* buffer, DWORD size, DWORD* moved)
{
    if (!(openFlags & OPEN_READ) || !readPipe)
        return FALSE;
    return readPipe->Read(buffer, size, moved);
}

BOOL CUsb::PipeWrite(const void* buffer, DWORD size, DWORD* moved)
{
    if (!(openFlags & OPEN_WRITE) || !writePipe)
        return FALSE;
    return writePipe->Write(buffer, size, moved);
}
