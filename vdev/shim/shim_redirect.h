// The shim's one way into a system function: its entry overwritten with a jump.
#pragma once

namespace vdev_shim {

// Overwrites the entry of `target` with a jump to `to`, so every caller in the
// process, through any import table, lands there.  The original is not
// callable afterwards.
bool Redirect(void* target, const void* to);

}  // namespace vdev_shim
