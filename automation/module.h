// The server module: its image, the count of live objects and locks that
// keeps it loaded, and the type information of its interfaces.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string>

namespace automation {

HMODULE ModuleHandle();
// The full path of this DLL, and its folder (without a trailing '\').
std::wstring ModulePath();
std::wstring ModuleFolder();

void ModuleAddRef();
void ModuleRelease();

// The type information of interface `iid` from the embedded type library,
// loaded once; nullptr when it can't be loaded.  Not AddRef'd: it lives as
// long as the module.
ITypeInfo* TypeInfoOf(REFIID iid);

}  // namespace automation
