// Registration of the server: for the machine (HKLM\Software\Classes) or for
// the current user without administrator rights (HKCU\Software\Classes), each
// in the registry view of this image's bitness.  Removal takes away exactly
// what registration writes, and the keys it made that are left empty.
#pragma once

#include <windows.h>

namespace automation {

enum class Scope { Machine, User };

HRESULT RegisterServer(Scope scope);
HRESULT UnregisterServer(Scope scope);

}  // namespace automation
