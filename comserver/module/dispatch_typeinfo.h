// The IDispatch half of a dual interface, answered from the type library that
// registration put in the registry.  Loaded on first use and kept until the
// module goes; member names in their exact case are answered from a cache.
#pragma once

#include <windows.h>
#include <oaidl.h>

class CDispatchTypeInfo {
public:
    constexpr CDispatchTypeInfo(const IID* iid, const GUID* libid, WORD majorVersion, WORD minorVersion)
        : iid_(iid), libid_(libid), majorVersion_(majorVersion), minorVersion_(minorVersion)
    {
    }

    HRESULT GetTypeInfo(LCID lcid, ITypeInfo** ppTInfo);
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, LCID lcid, DISPID* dispids);
    HRESULT Invoke(IDispatch* self, DISPID dispid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excepInfo, UINT* argErr);

private:
    struct NameCacheEntry {
        BSTR memberName;  // null: the member could not be read
        UINT nameLength;
        DISPID dispid;
    };

    // S_OK once typeInfo_ is there, else why it is not.
    HRESULT EnsureLoaded(LCID lcid);
    HRESULT Load(LCID lcid);
    void BuildNameCache(ITypeInfo* info);
    const NameCacheEntry* FindCached(LPCOLESTR name) const;
    // Script variables passed for typed out parameters, made into typed pointers.
    struct ArgRewrite;
    bool FindArgs(DISPID dispid, const DISPPARAMS& params, ArgRewrite& rewrite) const;
    static void Cleanup(DWORD_PTR self);

    const IID* iid_;
    const GUID* libid_;
    WORD majorVersion_;
    WORD minorVersion_;
    ITypeInfo* typeInfo_ = nullptr;
    NameCacheEntry* nameCache_ = nullptr;
    UINT nameCount_ = 0;
};

// Serves ITVXDevice.
extern constinit CDispatchTypeInfo theDeviceTypeInfo;
