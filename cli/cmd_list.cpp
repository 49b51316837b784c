// list: how many instances the library sees for the selected class, and the
// device path of each, in the order the library numbers them (SetupAPI's
// enumeration of the present interfaces of the class).
#include <windows.h>

#include <setupapi.h>

#include <string>
#include <vector>

#include "commands.h"
#include "errors.h"
#include "output.h"
#include "session.h"
#include "uXfer.h"

namespace cli {

namespace {

class DeviceInfoSet {
public:
    explicit DeviceInfoSet(const GUID& cls)
        : set_(SetupDiGetClassDevsA(&cls, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE))
    {
    }
    ~DeviceInfoSet()
    {
        if (set_ != INVALID_HANDLE_VALUE)
            SetupDiDestroyDeviceInfoList(set_);
    }
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;

    // The device path of interface `index`; empty when there is none.
    std::string Path(const GUID& cls, DWORD index) const
    {
        if (set_ == INVALID_HANDLE_VALUE)
            return {};
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(set_, nullptr, &cls, index, &data))
            return {};
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailA(set_, &data, nullptr, 0, &needed, nullptr);
        if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
            return {};
        std::vector<char> buffer(needed);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(set_, &data, detail, needed, nullptr, nullptr))
            return {};
        return ListedPath(detail->DevicePath);
    }

private:
    HDEVINFO set_;
};

}  // namespace

int RunList(const CommonOptions& common)
{
    const GUID cls = InterfaceClass(common.loaderVersion.value_or(0));
    const uint32_t count = uEnumeInstances();
    std::vector<std::string> paths;
    {
        DeviceInfoSet set(cls);
        for (uint32_t i = 0; i < count; ++i)
            paths.push_back(set.Path(cls, i));
    }
    if (count == 0)
        return Fail(kExitNoDevice, "no device of interface class " + GuidText(cls) + " is present");
    if (common.json) {
        Json instances = Json::array();
        for (uint32_t i = 0; i < count; ++i)
            instances.push_back({{"index", i}, {"path", paths[i]}});
        PrintJson({{"command", "list"}, {"interface", GuidText(cls)}, {"count", count}, {"instances", instances}});
    } else {
        for (uint32_t i = 0; i < count; ++i)
            PrintLine(std::to_string(i) + "  " + paths[i]);
    }
    return kExitOk;
}

}  // namespace cli
