#include "dispatch_typeinfo.h"

#include <oleauto.h>

#include "Talvix.h"
#include "runtime/module_heap.h"
#include "runtime/scoped.h"
#include "server_module.h"

constinit CDispatchTypeInfo theDeviceTypeInfo(&IID_ITVXDevice, &LIBID_TALVIXLib, 1, 0);

namespace {

// Script engines pass a variable for an out parameter as a reference to a
// VARIANT, which the type information will not convert into a typed pointer
// such as `ULONG*`.  Such an argument is turned into a pointer to a copy of
// the variable changed to the pointed-to type; the method writes there, and
// the copy goes back into the script's variable only when the call succeeded,
// so a failed call leaves the variable as it was.
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

}  // namespace

// The arguments handed to the type information, and for each rewritten one
// the converted value its typed pointer leads to and the script variable it
// came from.  The values are scalars: nothing to free.
struct CDispatchTypeInfo::ArgRewrite {
    VARIANTARG args[kMaxRewrittenArgs];
    VARIANT values[kMaxRewrittenArgs];
    VARIANT* variables[kMaxRewrittenArgs];  // null: the argument went as it came
    UINT count = 0;

    // Fills args; false when nothing needs rewriting.
    bool Rewrite(const FUNCDESC& func, const DISPPARAMS& params)
    {
        if (params.cNamedArgs != 0 || params.cArgs > kMaxRewrittenArgs || params.cArgs > UINT(func.cParams))
            return false;
        count = params.cArgs;
        bool rewritten = false;
        for (UINT i = 0; i < count; ++i) {
            // Arguments come last parameter first.
            const UINT slot = count - 1 - i;
            const VARIANTARG& arg = params.rgvarg[slot];
            VARIANTARG& out = args[slot];
            out = arg;
            variables[slot] = nullptr;
            VARTYPE pointee;
            if (V_VT(&arg) != (VT_BYREF | VT_VARIANT) || !V_VARIANTREF(&arg) ||
                !IsScalarPointer(func.lprgelemdescParam[i].tdesc, &pointee))
                continue;
            VARIANT& value = values[slot];
            VariantInit(&value);
            if (FAILED(VariantChangeType(&value, V_VARIANTREF(&arg), 0, pointee)))
                continue;
            variables[slot] = V_VARIANTREF(&arg);
            V_VT(&out) = VT_BYREF | pointee;
            V_BYREF(&out) = &V_UI4(&value);  // every scalar member starts at the same place
            rewritten = true;
        }
        return rewritten;
    }

    // After a successful call: the values the method wrote into the variables.
    void CopyBack()
    {
        for (UINT i = 0; i < count; ++i) {
            if (!variables[i])
                continue;
            VariantClear(variables[i]);
            *variables[i] = values[i];
        }
    }
};

namespace {

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
            CComRef<ITypeLib> library;
            result = LoadRegTypeLib(*libid_, majorVersion_, minorVersion_, lcid, library.Out());
            if (SUCCEEDED(result)) {
                CComRef<ITypeInfo> info;
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
    ArgRewrite rewrite;
    DISPPARAMS rewritten{};
    const bool anyRewritten = params && (flags & DISPATCH_METHOD) && FindArgs(dispid, *params, rewrite);
    if (anyRewritten) {
        rewritten = *params;
        rewritten.rgvarg = rewrite.args;
    }
    const HRESULT called =
        typeInfo_->Invoke(self, dispid, flags, anyRewritten ? &rewritten : params, result, excepInfo, argErr);
    if (anyRewritten && SUCCEEDED(called))
        rewrite.CopyBack();
    return called;
}

bool CDispatchTypeInfo::FindArgs(DISPID dispid, const DISPPARAMS& params, ArgRewrite& rewrite) const
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
            rewritten = rewrite.Rewrite(*func, params);
        typeInfo_->ReleaseFuncDesc(func);
        if (match)
            break;
    }
    typeInfo_->ReleaseTypeAttr(attr);
    return rewritten;
}
