// list: how many instances the library sees for the selected class, and the
// device path of each, in the order the library numbers them (SetupAPI's
// enumeration of the present interfaces of the class).
#include <windows.h>

#include <string>
#include <vector>

#include "commands.h"
#include "errors.h"
#include "output.h"
#include "dump/connection.h"
#include "uXfer.h"
#include "win/device_interfaces.h"

namespace cli {

int RunList(const CommonOptions& common)
{
    const GUID cls = dump::InterfaceClass(common.loaderVersion.value_or(0));
    const uint32_t count = uEnumeInstances();
    std::vector<std::string> paths;
    {
        const win::DeviceInterfaces set(cls);
        for (uint32_t i = 0; i < count; ++i)
            paths.push_back(dump::ListedPath(win::DeviceInterfacePath(set, i)));
    }
    if (count == 0)
        return Fail(kExitNoDevice, "no device of interface class " + dump::GuidText(cls) + " is present");
    if (common.json) {
        Json instances = Json::array();
        for (uint32_t i = 0; i < count; ++i)
            instances.push_back({{"index", i}, {"path", paths[i]}});
        PrintJson({{"command", "list"}, {"interface", dump::GuidText(cls)}, {"count", count}, {"instances", instances}});
    } else {
        for (uint32_t i = 0; i < count; ++i)
            PrintLine(std::to_string(i) + "  " + paths[i]);
    }
    return kExitOk;
}

}  // namespace cli
