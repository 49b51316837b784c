// The device paths of the simulated devices, as the library lists and opens them.
#include <cstdio>
#include <cstring>

#include "sim/store.h"
#include "guid_text.h"
#include "win/text.h"

namespace sim {

namespace {

const char kPathPrefix[] = "\\\\?\\UXFERSIM#DEVICE#";

}  // namespace

std::string DevicePath(uint32_t instance, const GUID& cls)
{
    char number[8];
    std::snprintf(number, sizeof number, "%04u", instance);
    return kPathPrefix + std::string(number) + "#" + GuidText(cls);
}

bool InstanceOfPath(const std::string& path, uint32_t& instance)
{
    const size_t prefix = sizeof kPathPrefix - 1;
    if (path.size() < prefix + 5 || _strnicmp(path.c_str(), kPathPrefix, prefix) != 0 || path[prefix + 4] != '#')
        return false;
    instance = 0;
    for (size_t i = prefix; i < prefix + 4; ++i) {
        if (path[i] < '0' || path[i] > '9')
            return false;
        instance = instance * 10 + static_cast<uint32_t>(path[i] - '0');
    }
    return true;
}

}  // namespace sim
