// The devices a front end lists: the present instances of the class the
// library has selected, as the library counts them (uEnumeInstances), each
// with the path where that library finds it: SetupAPI's enumeration for
// uXfer.dll, the simulated devices' store for uXferSim.dll.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ops {

// Their paths as lists print them (dump::ListedPath), in the library's order;
// `cls`: the class selected, `simulated`: the library is uXferSim.dll.
std::vector<std::string> ListedDevices(const GUID& cls, bool simulated);

// "; no simulated device is there: devices.ini line 3: ...", to follow a
// sentence that found no device: why there is none at all.  "" unless
// `simulated` and devices.ini (or the store) gives no device.
std::string WhyNoSimulatedDevice(bool simulated);

}  // namespace ops
