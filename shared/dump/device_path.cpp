// The interface path of an instance, apart from the lock: only the programs
// that lock a device enumerate the system's interfaces or the simulated ones.
#include <memory>

#include "dump/device_lock.h"
#include "sim/store.h"
#include "win/device_interfaces.h"

namespace dump {

std::string InstancePath(const GUID& cls, uint32_t instance, bool simulated)
{
    if (!simulated)
        return win::DeviceInterfacePath(win::DeviceInterfaces(cls), instance);
    std::string problem;
    const std::unique_ptr<sim::Store> store = sim::Store::Open(sim::DefaultFolder(), problem);
    if (!store)
        return std::string();
    sim::Access access(*store);
    if (!access.held())
        return std::string();
    const std::vector<uint32_t> present = sim::Present(access, cls);
    return instance < present.size() ? sim::DevicePath(present[instance], cls) : std::string();
}

}  // namespace dump
