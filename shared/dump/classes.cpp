#include "dump/classes.h"

#include <iterator>

#include "usb_protocol.h"

namespace dump {

GUID InterfaceClass(uint32_t loaderVersion)
{
    if (const LoaderVersion* loader = FindLoaderVersion(loaderVersion))
        return loader->interfaceClass;
    static const GUID kDefault = DEVICE_CLASS_DEFAULT_INIT;
    return kDefault;
}

std::string LoaderVersionList()
{
    std::string list;
    for (size_t i = 0; i < std::size(kLoaderVersions); ++i) {
        if (i > 0)
            list += i + 1 == std::size(kLoaderVersions) ? " or " : ", ";
        list += std::to_string(kLoaderVersions[i].version);
    }
    return list;
}

}  // namespace dump
