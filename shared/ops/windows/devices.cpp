#include "ops/devices.h"

#include <memory>

#include "dump/connection.h"
#include "sim/store.h"
#include "uXfer.h"
#include "win/device_interfaces.h"

namespace ops {

std::vector<std::string> ListedDevices(const GUID& cls, bool simulated)
{
    const uint32_t count = uEnumeInstances();
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

std::string WhyNoSimulatedDevice(bool simulated)
{
    const std::string problem = simulated ? sim::SettingsProblem() : std::string();
    return problem.empty() ? problem : "; no simulated device is there: " + problem;
}

}  // namespace ops
