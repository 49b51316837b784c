#include "registry/registration.h"

#include <oleauto.h>

#include "runtime/scoped.h"
#include "win/unique_any.h"
#include "win32_host.h"

namespace {

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

// Loads the module's type library; `path` receives the path that worked.
HRESULT LoadModuleTypeLib(HINSTANCE module, BSTR* path, ITypeLib** library)
{
    *path = nullptr;
    *library = nullptr;
    char name[MAX_PATH];
    const HRESULT found = ModulePath(module, name);
    if (FAILED(found))
        return found;
    // Room for the name with ".tlb" in place of its extension.
    WCHAR wide[MAX_PATH + 4];
    if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide, MAX_PATH) == 0)
        return LastErrorResult();

    CComRef<ITypeLib> loaded;
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

}  // namespace

HRESULT RegisterTypeLibrary(HINSTANCE module)
{
    CBstr path;
    CComRef<ITypeLib> library;
    HRESULT hr = LoadModuleTypeLib(module, path.Out(), library.Out());
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

HRESULT UnregisterTypeLibrary(HINSTANCE module)
{
    CBstr path;
    CComRef<ITypeLib> library;
    const HRESULT hr = LoadModuleTypeLib(module, path.Out(), library.Out());
    if (FAILED(hr))
        return hr;
    CLibAttr attr(library.Get());
    if (FAILED(attr.Get()))
        return hr;
    using UnRegisterFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
    const win::unique_hmodule oleaut(LoadLibraryA("oleaut32.dll"));
    const auto unregister = reinterpret_cast<UnRegisterFn>(
        reinterpret_cast<void*>(oleaut ? GetProcAddress(oleaut.get(), "UnRegisterTypeLib") : nullptr));
    if (unregister)
        unregister(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    return hr;
}
