// What the module shell asks of the registration layer for the module
// `module`: a class entry's registry script, and its type library (resource
// TYPELIB 1, or the ".tlb" file beside the module when it holds none).
#pragma once

#include <windows.h>

// Runs the "REGISTRY" script resource resourceId in register or unregister
// mode: the updateRegistry routine of a class entry.
HRESULT UpdateRegistryFromScript(HINSTANCE module, UINT resourceId, BOOL doRegister);
// The result of loading or of RegisterTypeLib.
HRESULT RegisterTypeLibrary(HINSTANCE module);
// The result of loading; the removal itself reports nothing.
HRESULT UnregisterTypeLibrary(HINSTANCE module);
