// The transfer library of this server's class (server_class.h), which it
// loads itself from its own folder or else the system folder
// (xferlib/uxfer_library.h).
#pragma once

#include "failure.h"

namespace automation {

// Loads the library unless it is loaded; says why when it can't be.  Every
// call into it, through the delay-load hook, goes to the copy found here,
// and objects exist only once it is.
Failure LoadUxfer();

}  // namespace automation
