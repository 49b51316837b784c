// Replaces one function a loaded module imports, so a test can count or fail
// the system calls that module makes.
#pragma once

#include <windows.h>

// Replaces one imported function in a module's import address table for the
// life of the object.  The module must bind the function by name (the DLLs
// built here do).
class ImportPatch {
public:
    ImportPatch(HMODULE module, const char* dll, const char* function, void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    bool Applied() const { return slot_ != nullptr; }
    void* Original() const { return original_; }

private:
    void** slot_ = nullptr;
    void* original_ = nullptr;
};
