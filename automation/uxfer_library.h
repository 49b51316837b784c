// uXfer.dll, which the server loads itself (it is delay-loaded, see
// CMakeLists.txt): from the server's own folder, or else the system folder.
// Never through the loader's search, which would also try the host's current
// folder and PATH, where anybody may have put a DLL of that name.
#pragma once

#include "failure.h"

namespace automation {

// Loads uXfer.dll unless it is loaded; says why when it can't be.  Every call
// into it, through the delay-load hook, goes to the copy found here, and
// objects exist only once it is.
Failure LoadUxfer();

}  // namespace automation
