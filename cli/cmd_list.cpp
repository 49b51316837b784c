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
#include "output.h"
#include "sim/store.h"
#include "uXfer.h"
#include "win/device_interfaces.h"

namespace cli {

namespace {

// The paths of the first `count` present interfaces of `cls`: the system's,
// or those of the simulated devices.
std::vector<std::string> ListedPaths(const GUID& cls, uint32_t count, bool simulated)
{
    std::vector<std::string> paths;
    if (simulated) {
        std::string problem;
        if (std::unique_ptr<sim::Store> store = sim::Store::Open(sim::DefaultFolder(), problem)) {
            sim::Access access(*store);
            if (access.held())
                for (uint32_t instance : sim::Present(access, cls))
                    paths.push_back(dump::ListedPath(sim::DevicePath(instance, cls)));
        }
    } else {
        const win::DeviceInterfaces set(cls);
        for (uint32_t i = 0; i < count; ++i)
            paths.push_back(dump::ListedPath(win::DeviceInterfacePath(set, i)));
    }
    paths.resize(count);  // a device plugged or unplugged in between
    return paths;
}

}  // namespace

int RunList(const CommonOptions& common)
{
    const GUID cls = dump::InterfaceClass(common.loaderVersion.value_or(0));
    const uint32_t count = uEnumeInstances();
    const std::vector<std::string> paths = ListedPaths(cls, count, common.simulate);
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
