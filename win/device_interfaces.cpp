#include "win/device_interfaces.h"

namespace win {

namespace {

// SetupAPI takes as cbSize the size of the detail record with a one-character
// path: 5 bytes in 32-bit code (the record is packed), 8 in 64-bit code (the
// record is padded to the alignment of 64-bit SetupAPI records).
constexpr DWORD kDetailFixedPart = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
#ifdef _WIN64
static_assert(kDetailFixedPart == 8, "64-bit detail record");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32, "64-bit interface record");
#else
static_assert(kDetailFixedPart == 5, "32-bit detail record");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "32-bit interface record");
#endif

}  // namespace

DeviceInterfaces::DeviceInterfaces(const GUID& cls)
    : cls_(cls), set_(SetupDiGetClassDevsA(&cls, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE))
{
}

bool DeviceInterfaces::Find(DWORD index, SP_DEVICE_INTERFACE_DATA& data) const
{
    data = {};
    data.cbSize = sizeof data;
    return valid() && SetupDiEnumDeviceInterfaces(set_.get(), nullptr, &cls_, index, &data) != FALSE;
}

DWORD DeviceInterfaces::Count() const
{
    SP_DEVICE_INTERFACE_DATA data;
    DWORD count = 0;
    while (Find(count, data))
        ++count;
    return count;
}

DWORD DeviceInterfaces::DetailSize(SP_DEVICE_INTERFACE_DATA& data) const
{
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(set_.get(), &data, nullptr, 0, &required, nullptr);
    return required < kDetailFixedPart ? 0 : required;
}

bool DeviceInterfaces::Detail(SP_DEVICE_INTERFACE_DATA& data, SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                              DWORD size) const
{
    detail->cbSize = kDetailFixedPart;
    return SetupDiGetDeviceInterfaceDetailA(set_.get(), &data, detail, size, nullptr, nullptr) != FALSE;
}

}  // namespace win
