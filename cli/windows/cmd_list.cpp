// list: how many instances the library sees for the selected class, and the
// device path of each, in the order the library numbers them (SetupAPI's
// enumeration of the present interfaces of the class, or with --simulate the
// simulated devices').
#include <windows.h>

#include <string>
#include <vector>

#include "commands.h"
#include "dump/connection.h"
#include "errors.h"
#include "ops/devices.h"
#include "output.h"

namespace cli {

int RunList(const CommonOptions& common)
{
    const GUID cls = dump::InterfaceClass(common.loaderVersion.value_or(0));
    const std::vector<std::string> paths = ops::ListedDevices(cls, common.simulate);
    const size_t count = paths.size();
    if (count == 0)
        return Fail(kExitNoDevice,
                    "no device of interface class " + dump::GuidText(cls) + " is present" +
                        (common.simulate ? ops::WhyNoSimulatedDevice(true)
                                         : ": is the device plugged in, and its driver installed? "
                                           "--loader-version picks another loader's class; 'uxfer list --simulate' "
                                           "lists the simulated devices, for trying uxfer without one"),
                    {{"interface", dump::GuidText(cls)}, {"count", 0}});
    if (common.json) {
        Json instances = Json::array();
        for (size_t i = 0; i < count; ++i)
            instances.push_back({{"index", i}, {"path", paths[i]}});
        PrintJson({{"command", "list"}, {"interface", dump::GuidText(cls)}, {"count", count}, {"instances", instances}});
    } else {
        for (size_t i = 0; i < count; ++i)
            PrintLine(std::to_string(i) + "  " + paths[i]);
    }
    return kExitOk;
}

}  // namespace cli
