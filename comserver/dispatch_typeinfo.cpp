#include "dispatch_typeinfo.h"

#include <oleauto.h>

#include "Talvix.h"
#include "module_heap.h"
#include "scoped.h"
#include "server_module.h"

constinit CDispatchTypeInfo theDeviceTypeInfo(&IID_ITVXDevice, &LIBID_TALVIXLib, 1, 0);

namespace {

// Owns one reference to a COM interface.
template <class T> class CRef {
public:
    CRef() = default;
    ~CRef()
    {
        if (ptr_)
            ptr_->Release();
    }
    CRef(const CRef&) = delete;
    CRef& operator=(const CRef&) = delete;

    T** Out() { return &ptr_; }
    T* operator->() const { return ptr_; }
    T* Detach()
    {
        T* ptr = ptr_;
        ptr_ = nullptr;
        return ptr;
    }

private:
    T* ptr_ = nullptr;
};

bool SameChars(LPCOLESTR a, LPCOLESTR b, UINT length)
{
    for (UINT i = 0; i < length; ++i) {
        if (a[i] != b[i])
            return false;
    }
    return true;
}

}  // namespace

HRESULT CDispatchTypeInfo::EnsureLoaded(LCID lcid)
{
    return typeInfo_ ? S_OK : Load(lcid);
}

HRESULT CDispatchTypeInfo::Load(LCID lcid)
{
    HRESULT result = E_FAIL;
    bool loadedNow = false;
    {
        CLockGuard guard(theModule.TypeInfoLock());
        if (!typeInfo_) {
            CRef<ITypeLib> library;
            result = LoadRegTypeLib(*libid_, majorVersion_, minorVersion_, lcid, library.Out());
            if (SUCCEEDED(result)) {
                CRef<ITypeInfo> info;
                result = library->GetTypeInfoOfGuid(*iid_, info.Out());
                if (SUCCEEDED(result)) {
                    ITypeInfo* kept = info.Detach();
                    ITypeInfo2* info2 = nullptr;
                    if (SUCCEEDED(kept->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(&info2)))) {
                        kept->Release();
                        kept = info2;
                    }
                    BuildNameCache(kept);
                    typeInfo_ = kept;
                    loadedNow = true;
                }
            }
        }
    }
    // One cleanup node for the one load that succeeds; failed attempts leave
    // nothing behind to clean up.
    if (loadedNow)
        theModule.AddCleanup(&CDispatchTypeInfo::Cleanup, reinterpret_cast<DWORD_PTR>(this));
    return result;
}

void CDispatchTypeInfo::BuildNameCache(ITypeInfo* info)
{
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr)))
        return;
    const UINT count = attr->cFuncs;
    if (count != 0) {
        nameCache_ = static_cast<NameCacheEntry*>(ModuleAlloc(count * sizeof(NameCacheEntry)));
        if (nameCache_)
            nameCount_ = count;
    }
    for (UINT i = 0; i < nameCount_; ++i) {
        NameCacheEntry& entry = nameCache_[i];
        entry = NameCacheEntry{nullptr, 0, DISPID_UNKNOWN};
        FUNCDESC* func = nullptr;
        if (FAILED(info->GetFuncDesc(i, &func)))
            continue;
        BSTR name = nullptr;
        if (SUCCEEDED(info->GetDocumentation(func->memid, &name, nullptr, nullptr, nullptr)))
            entry = NameCacheEntry{name, SysStringLen(name), func->memid};
        info->ReleaseFuncDesc(func);
    }
    info->ReleaseTypeAttr(attr);
}

void CDispatchTypeInfo::Cleanup(DWORD_PTR self)
{
    CDispatchTypeInfo* holder = reinterpret_cast<CDispatchTypeInfo*>(self);
    if (holder->typeInfo_) {
        holder->typeInfo_->Release();
        holder->typeInfo_ = nullptr;
    }
    for (UINT i = 0; i < holder->nameCount_; ++i)
        SysFreeString(holder->nameCache_[i].memberName);
    ModuleFree(holder->nameCache_);
    holder->nameCache_ = nullptr;
    holder->nameCount_ = 0;
}

const CDispatchTypeInfo::NameCacheEntry* CDispatchTypeInfo::FindCached(LPCOLESTR name) const
{
    const UINT length = static_cast<UINT>(lstrlenW(name));
    for (UINT i = nameCount_; i-- > 0;) {
        const NameCacheEntry& entry = nameCache_[i];
        if (entry.memberName && entry.nameLength == length && SameChars(entry.memberName, name, length))
            return &entry;
    }
    return nullptr;
}

HRESULT CDispatchTypeInfo::GetTypeInfo(LCID lcid, ITypeInfo** ppTInfo)
{
    if (!ppTInfo)
        return E_POINTER;
    const HRESULT result = EnsureLoaded(lcid);
    *ppTInfo = typeInfo_;
    if (!typeInfo_)
        return result;
    typeInfo_->AddRef();
    return S_OK;
}

HRESULT CDispatchTypeInfo::GetIDsOfNames(LPOLESTR* names, UINT count, LCID lcid, DISPID* dispids)
{
    const HRESULT result = EnsureLoaded(lcid);
    if (!typeInfo_)
        return result;
    // Parameter names only mean something next to their member: resolve such
    // a set as a whole through the type information.
    if (count > 1)
        return typeInfo_->GetIDsOfNames(names, count, dispids);
    if (count == 1) {
        if (const NameCacheEntry* hit = FindCached(names[0])) {
            dispids[0] = hit->dispid;
            return S_OK;
        }
        return typeInfo_->GetIDsOfNames(names, 1, dispids);
    }
    return S_OK;
}

HRESULT CDispatchTypeInfo::Invoke(IDispatch* self, DISPID dispid, LCID lcid, WORD flags, DISPPARAMS* params,
                                  VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr)
{
    const HRESULT loaded = EnsureLoaded(lcid);
    if (!typeInfo_)
        return loaded;
    return typeInfo_->Invoke(self, dispid, flags, params, result, excepInfo, argErr);
}
