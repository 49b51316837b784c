// The transfer library a program or server calls: uXfer.dll, over the device
// driver, or uXferSim.dll, the same exports over a device simulated in the
// process.  A module that delay-loads uXfer.dll (CMake property
// UXFER_DELAY_LOAD, see transfer/CMakeLists.txt) links this layer: it loads
// the chosen DLL by its full path, from the folder of the module that holds
// this code (or else the system folder), never through the loader's search,
// which would also try the current folder and PATH.  Its delay-load hook hands
// every call of the module to the copy loaded here.
#pragma once

#include <windows.h>

#include <string>

namespace xferlib {

extern const wchar_t kUxfer[];     // L"uXfer.dll"
extern const wchar_t kUxferSim[];  // L"uXferSim.dll"

struct Choice {
    const wchar_t* name;   // kUxfer or kUxferSim
    bool systemFolderToo;  // tried when the module's own folder has no usable copy
};

struct LoadFailure {
    DWORD error = ERROR_SUCCESS;  // of the copy in the module's own folder
    std::string message;          // UTF-8: which DLL, the folders tried and why
    explicit operator bool() const { return error != ERROR_SUCCESS; }
};

// Loads the chosen DLL unless one is loaded; says why when it can't be.  The
// first call chooses for the module: calls into the library made before it
// load uXfer.dll from the module's own folder.
LoadFailure Load(const Choice& choice);

// The full path of `module`; empty when it can't be read.
std::wstring ModulePath(HMODULE module);

}  // namespace xferlib
