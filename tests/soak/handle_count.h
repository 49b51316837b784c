// The number of handles this process holds, for the leak check at settle points.
#pragma once

#include <windows.h>

namespace soak {

class Context;

// A count that can't be had fails the run: a zero would turn the check off unseen.
DWORD HandleCount(Context& ctx);

}  // namespace soak
