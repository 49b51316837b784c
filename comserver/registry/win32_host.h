// The script parser's services inside Talvix.dll: the real registry, the
// module heaps and the system's ANSI code page.
#pragma once

#include <windows.h>

#include "registry/registry_ops.h"
#include "registry/rgs_host.h"

// HRESULT_FROM_WIN32 of the calling thread's last error; E_FAIL when a failing
// call left no error code, so that a failure never reads as success.
HRESULT LastErrorResult();

// The module's file path; a failure when it does not fit.
HRESULT ModulePath(HINSTANCE module, char (&path)[MAX_PATH]);

class CWin32Registry final : public rgs::RegistryOps {
public:
    rgs::Key RootKey(rgs::Root root) override;
    bool OpenKey(rgs::Key parent, const char* name, rgs::Access access, rgs::Key* key) override;
    bool CreateKey(rgs::Key parent, const char* name, rgs::Key* key) override;
    bool CloseKey(rgs::Key key) override;
    bool DeleteKey(rgs::Key parent, const char* name) override;
    bool SubkeyName(rgs::Key key, uint32_t index, char (&name)[rgs::kMaxKeyName + 1]) override;
    bool QueryContents(rgs::Key key, bool* hasSubkeys, bool* hasNamedValues) override;
    bool SetValue(rgs::Key key, const char* name, rgs::ValueType type, const void* data, uint32_t size) override;
    bool DeleteValue(rgs::Key key, const char* name) override;
};

class CModuleAllocator final : public rgs::Allocator {
public:
    void* Alloc(size_t bytes) override;
    void* Realloc(void* block, size_t bytes) override;
    void Free(void* block) override;
};

class CAnsiLocale final : public rgs::Locale {
public:
    bool IsLeadByte(unsigned char byte) const override;
    bool FromWide(const char16_t* text, size_t length, char* out, size_t capacity, size_t* written) const override;
    rgs::Result ParseUnsigned(const char* text, uint32_t* value) const override;
};
