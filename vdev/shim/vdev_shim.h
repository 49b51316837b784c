// The pipe-name shim.  Windows hands "\PIPE0" and "\PIPE1" to the driver as the
// file name of an open below the device path; Wine 8 opens no name below a device
// object.  The shim takes over CreateFileA in this process: a path ending in a
// pipe suffix is opened as the device path, and the handle is then bound to its
// pipe with a private control request.  Tests and tools only; product code never.
#pragma once

#include <windows.h>

// Installs the shim for every module of the calling process, loaded now or later.
// Idempotent.  False when CreateFileA could not be taken over.
extern "C" bool VdevShimInstall();

// Loads the shim DLL at `dllPath` into a process that was created suspended, so
// that it is in place before the program's first instruction.  False when the
// DLL could not be loaded there.
extern "C" bool VdevShimInject(HANDLE process, const char* dllPath);

// From now on every process this one creates starts with the shim DLL at
// `dllPath` loaded (which in turn follows that process's children).  A child
// asked for suspended stays suspended.  Idempotent.  False when process creation
// could not be taken over.
extern "C" bool VdevShimFollowChildren(const char* dllPath);
