// The virtual device's log records as one line of text each, the same for the
// driver's log (vdevctl, tests) and the simulated devices' (uxfer sim log).
#pragma once

#include <string>

#include "vdev_backchannel.h"

namespace vdev {

std::string Describe(const VdevLogRecord& record);

}  // namespace vdev
