// Registration of the server: for the machine (HKLM\Software\Classes) or for
// the current user without administrator rights (HKCU\Software\Classes), each
// in the registry view of this image's bitness.  Removal takes away exactly
// what registration writes, and the keys it made that are left empty, but
// leaves the keys both bitnesses share (ProgIDs, the type library) while the
// other bitness's server is registered, and the type library and its
// interfaces while the other class (server_class.h) is registered in the same
// view: they then lead to its image, which embeds the same type library.  A
// registration that fails puts back
// what was there before it.  A machine registration is refused from a folder
// that others than administrators can change (folder_trust.h).
#pragma once

#include <windows.h>

namespace automation {

enum class Scope { Machine, User };

HRESULT RegisterServer(Scope scope);
HRESULT UnregisterServer(Scope scope);

}  // namespace automation
