// The loader versions and the interface classes of their drivers, by which
// the Windows library and the simulated devices choose a device.
#pragma once

#include <cstdint>
#include <string>

#include "guid_text.h"
#include "loader_versions.h"

namespace dump {

// The interface class uXfer enumerates after uSetKVVersion(version); 0: the default.
GUID InterfaceClass(uint32_t loaderVersion);
// "272, 288 or 304": the loader versions there are.
std::string LoaderVersionList();
using ::GuidText;

}  // namespace dump
