// Apart from device_interfaces.cpp: this one uses the C++ runtime.
#include <vector>

#include "win/device_interfaces.h"

namespace win {

std::string DeviceInterfacePath(const DeviceInterfaces& set, DWORD index)
{
    SP_DEVICE_INTERFACE_DATA data;
    if (!set.Find(index, data))
        return {};
    const DWORD size = set.DetailSize(data);
    if (size == 0)
        return {};
    std::vector<char> buffer(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    if (!set.Detail(data, detail, size))
        return {};
    return detail->DevicePath;
}

}  // namespace win
