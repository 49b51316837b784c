// Registration of the type library embedded in Talvix.dll (resource TYPELIB 1),
// or of the ".tlb" file beside it when the module holds none.
#pragma once

#include <windows.h>
#include <oaidl.h>

// Loads the module's type library; `path` receives the path that worked.
HRESULT LoadModuleTypeLib(BSTR* path, ITypeLib** library);
// The result of loading or of RegisterTypeLib.
HRESULT RegisterTypeLibrary();
// The result of loading; the removal itself reports nothing.
HRESULT UnregisterTypeLibrary();
