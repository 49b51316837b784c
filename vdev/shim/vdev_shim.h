// The pipe-name shim.  Windows hands "\PIPE0" and "\PIPE1" to the driver as the
// file name of an open below the device path; Wine 8 opens no name below a device
// object.  The shim takes over CreateFileA in this process: a path ending in a
// pipe suffix is opened as the device path, and the handle is then bound to its
// pipe with a private control request.  Tests and tools only; product code never.
#pragma once

// Installs the shim for every module of the calling process, loaded now or later.
// Idempotent.  False when CreateFileA could not be taken over.
extern "C" bool VdevShimInstall();
