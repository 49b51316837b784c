// The versions of the loader driver, oldest first, and the device interface
// class the driver of each publishes.  uXfer.dll enumerates a version's class
// once told the version (uSetKVVersion); uxfer takes only these versions.
#pragma once

#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <string.h>

// The class's type elsewhere, in the layout Windows gives it: the simulated
// devices keep classes on every system.
struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
// As Windows names it, so that code comparing classes is the same.
inline bool IsEqualGUID(const GUID& a, const GUID& b)
{
    return memcmp(&a, &b, sizeof a) == 0;
}
#endif

#include "usb_protocol.h"

struct LoaderVersion {
    uint32_t version;
    GUID interfaceClass;
};

inline constexpr LoaderVersion kLoaderVersions[] = {
    {0x0110, DEVICE_CLASS_V2_INIT},  // 272: the older driver generation has its own class
    {0x0120, DEVICE_CLASS_DEFAULT_INIT},
    {0x0130, DEVICE_CLASS_DEFAULT_INIT},
};

// The table's entry of `version`; null when it holds none.
inline const LoaderVersion* FindLoaderVersion(uint32_t version)
{
    for (const LoaderVersion& loader : kLoaderVersions)
        if (loader.version == version)
            return &loader;
    return nullptr;
}
