#include "typelib_registration.h"

#include <oleauto.h>

#include "module_heap.h"
#include "win32_host.h"

namespace {

// Owns a loaded type library.
class CTypeLibRef {
public:
    CTypeLibRef() = default;
    ~CTypeLibRef()
    {
        if (library_)
            library_->Release();
    }
    CTypeLibRef(const CTypeLibRef&) = delete;
    CTypeLibRef& operator=(const CTypeLibRef&) = delete;

    ITypeLib** Out() { return &library_; }
    ITypeLib* Get() const { return library_; }
    ITypeLib* Detach()
    {
        ITypeLib* library = library_;
        library_ = nullptr;
        return library;
    }

private:
    ITypeLib* library_ = nullptr;
};

class CBstr {
public:
    CBstr() = default;
    ~CBstr() { SysFreeString(text_); }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;

    BSTR* Out() { return &text_; }
    BSTR Get() const { return text_; }

private:
    BSTR text_ = nullptr;
};

// A DLL loaded for one call.
class CLoadedLibrary {
public:
    explicit CLoadedLibrary(const char* name) : module_(LoadLibraryA(name)) {}
    ~CLoadedLibrary()
    {
        if (module_)
            FreeLibrary(module_);
    }
    CLoadedLibrary(const CLoadedLibrary&) = delete;
    CLoadedLibrary& operator=(const CLoadedLibrary&) = delete;

    FARPROC Find(const char* name) const { return module_ ? GetProcAddress(module_, name) : nullptr; }

private:
    HMODULE module_;
};

// The type library's attributes, handed back when the owner goes.
class CLibAttr {
public:
    explicit CLibAttr(ITypeLib* library) : library_(library) {}
    ~CLibAttr()
    {
        if (attr_)
            library_->ReleaseTLibAttr(attr_);
    }
    CLibAttr(const CLibAttr&) = delete;
    CLibAttr& operator=(const CLibAttr&) = delete;

    HRESULT Get() { return library_->GetLibAttr(&attr_); }
    const TLIBATTR* operator->() const { return attr_; }

private:
    ITypeLib* library_;
    TLIBATTR* attr_ = nullptr;
};

bool IsSeparator(WCHAR c) { return c == L'\\' || c == L'/' || c == L':'; }

// Where the file name starts: just past the last separator.
UINT FileNameStart(const WCHAR* path)
{
    UINT start = 0;
    for (UINT i = 0; path[i] != L'\0'; ++i)
        if (IsSeparator(path[i]))
            start = i + 1;
    return start;
}

}  // namespace

HRESULT LoadModuleTypeLib(BSTR* path, ITypeLib** library)
{
    *path = nullptr;
    *library = nullptr;
    char name[MAX_PATH];
    const DWORD length = GetModuleFileNameA(ModuleInstance(), name, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return LastErrorResult();
    // Room for the name with ".tlb" in place of its extension.
    WCHAR wide[MAX_PATH + 4];
    if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide, MAX_PATH) == 0)
        return LastErrorResult();

    CTypeLibRef loaded;
    HRESULT hr = LoadTypeLib(wide, loaded.Out());
    if (FAILED(hr)) {
        // The extension starts at the file name's last dot; a dot in a
        // folder name is no extension.
        UINT end = FileNameStart(wide);
        UINT at = 0;
        bool dotted = false;
        for (; wide[end] != L'\0'; ++end) {
            if (wide[end] == L'.') {
                at = end;
                dotted = true;
            }
        }
        if (!dotted)
            at = end;
        const WCHAR extension[] = L".tlb";
        for (UINT i = 0; i < sizeof extension / sizeof extension[0]; ++i)
            wide[at + i] = extension[i];
        hr = LoadTypeLib(wide, loaded.Out());
        if (FAILED(hr))
            return hr;
    }
    *path = SysAllocString(wide);
    if (!*path)
        return E_OUTOFMEMORY;
    *library = loaded.Detach();
    return S_OK;
}

HRESULT RegisterTypeLibrary()
{
    CBstr path;
    CTypeLibRef library;
    HRESULT hr = LoadModuleTypeLib(path.Out(), library.Out());
    if (FAILED(hr))
        return hr;
    // The help directory is the folder of the file, separator included.
    const UINT folderLength = FileNameStart(path.Get());
    CBstr helpDir;
    *helpDir.Out() = SysAllocStringLen(path.Get(), folderLength);
    if (!helpDir.Get())
        return E_OUTOFMEMORY;
    return RegisterTypeLib(library.Get(), path.Get(), helpDir.Get());
}

HRESULT UnregisterTypeLibrary()
{
    CBstr path;
    CTypeLibRef library;
    const HRESULT hr = LoadModuleTypeLib(path.Out(), library.Out());
    if (FAILED(hr))
        return hr;
    CLibAttr attr(library.Get());
    if (FAILED(attr.Get()))
        return hr;
    using UnRegisterFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
    CLoadedLibrary oleaut("oleaut32.dll");
    const auto unregister = reinterpret_cast<UnRegisterFn>(reinterpret_cast<void*>(oleaut.Find("UnRegisterTypeLib")));
    if (unregister)
        unregister(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    return hr;
}
