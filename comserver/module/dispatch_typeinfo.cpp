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

// Script engines pass a variable for an out parameter as a reference to a
// VARIANT, which the type information will not convert into a typed pointer
// such as `ULONG*`.  Such an argument is turned into a pointer to the
// variable's own value, after the variable is changed to the pointed-to type,
// so the method writes straight into the script's variable.
constexpr UINT kMaxRewrittenArgs = 8;

bool IsScalarPointer(const TYPEDESC& type, VARTYPE* pointee)
{
    if (type.vt != VT_PTR || !type.lptdesc)
        return false;
    const VARTYPE vt = type.lptdesc->vt;
    if (vt == VT_VARIANT || vt == VT_PTR || vt == VT_BSTR || vt == VT_DISPATCH || vt == VT_UNKNOWN ||
        vt == VT_USERDEFINED || vt == VT_SAFEARRAY || vt == VT_CARRAY)
        return false;
    *pointee = vt;
    return true;
}

// Fills `args` with the rewritten arguments; false when nothing needs rewriting.
bool RewriteVariantRefs(const FUNCDESC& func, const DISPPARAMS& params, VARIANTARG* args)
{
    if (params.cNamedArgs != 0 || params.cArgs > kMaxRewrittenArgs || params.cArgs > UINT(func.cParams))
        return false;
    bool rewritten = false;
    for (UINT i = 0; i < params.cArgs; ++i) {
        // Arguments come last parameter first.
        const VARIANTARG& arg = params.rgvarg[params.cArgs - 1 - i];
        VARIANTARG& out = args[params.cArgs - 1 - i];
        out = arg;
        VARTYPE pointee;
        if (V_VT(&arg) != (VT_BYREF | VT_VARIANT) || !V_VARIANTREF(&arg) ||
            !IsScalarPointer(func.lprgelemdescParam[i].tdesc, &pointee))
            continue;
        VARIANT* variable = V_VARIANTREF(&arg);
        if (FAILED(VariantChangeType(variable, variable, 0, pointee)))
            continue;
        V_VT(&out) = VT_BYREF | pointee;
        V_BYREF(&out) = &V_UI4(variable);  // every scalar member starts at the same place
        rewritten = true;
    }
    return rewritten;
}

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
    VARIANTARG args[kMaxRewrittenArgs];
    DISPPARAMS rewritten{};
    if (params && (flags & DISPATCH_METHOD) && FindArgs(dispid, *params, args)) {
        rewritten = *params;
        rewritten.rgvarg = args;
        params = &rewritten;
    }
    return typeInfo_->Invoke(self, dispid, flags, params, result, excepInfo, argErr);
}

bool CDispatchTypeInfo::FindArgs(DISPID dispid, const DISPPARAMS& params, VARIANTARG* args) const
{
    TYPEATTR* attr = nullptr;
    if (FAILED(typeInfo_->GetTypeAttr(&attr)))
        return false;
    bool rewritten = false;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* func = nullptr;
        if (FAILED(typeInfo_->GetFuncDesc(i, &func)))
            continue;
        const bool match = func->memid == dispid && func->invkind == INVOKE_FUNC;
        if (match)
            rewritten = RewriteVariantRefs(*func, params, args);
        typeInfo_->ReleaseFuncDesc(func);
        if (match)
            break;
    }
    typeInfo_->ReleaseTypeAttr(attr);
    return rewritten;
}
