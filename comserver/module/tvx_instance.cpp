#include "tvx_instance.h"

#include "device/tvx_device.h"
#include "dispatch_typeinfo.h"
#include "runtime/scoped.h"
#include "server_module.h"

namespace {

// What every instance adds to the device object: a module lock for its life,
// and the IDispatch half, answered from the registered type library.
class CDeviceInstance : public TVXDevice {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override
    {
        if (!pctinfo)
            return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID lcid, ITypeInfo** ppTInfo) override
    {
        return theDeviceTypeInfo.GetTypeInfo(lcid, ppTInfo);
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid, DISPID* dispids) override
    {
        return theDeviceTypeInfo.GetIDsOfNames(names, count, lcid, dispids);
    }
    STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excepInfo, UINT* argErr) override
    {
        return theDeviceTypeInfo.Invoke(this, dispid, lcid, flags, params, result, excepInfo, argErr);
    }

protected:
    CDeviceInstance() { theModule.Lock(); }
    ~CDeviceInstance() { theModule.Unlock(); }
};

// Apartment-threaded: COM calls an instance on its own thread only, so the
// counts are plain integers.
class CStandaloneDevice final : public CDeviceInstance, public CModuleObject {
public:
    CStandaloneDevice() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return InternalQueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refCount_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG count = --refCount_;
        if (count == 0)
            delete this;
        return count;
    }
};

class CContainedDevice final : public CDeviceInstance {
public:
    explicit CContainedDevice(IUnknown* outer) { outer_ = outer; }

    using TVXDevice::InternalQueryInterface;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        HRESULT result = outer_->QueryInterface(riid, ppv);
        if (FAILED(result) && outer_ != static_cast<IUnknown*>(this))
            result = InternalQueryInterface(riid, ppv);
        return result;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return outer_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return outer_->Release(); }
};

class CAggregatedDevice final : public IUnknown, public CModuleObject {
public:
    explicit CAggregatedDevice(IUnknown* outer) : device_(outer) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (!InlineIsEqualGUID(riid, IID_IUnknown))
            return device_.InternalQueryInterface(riid, ppv);
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++count_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG count = --count_;
        if (count == 0)
            delete this;
        return count;
    }

private:
    ULONG count_ = 0;
    CContainedDevice device_;
};

// Any result but S_OK, S_FALSE included, takes the new object away again.
template <class Object> HRESULT CreateAndQuery(Object* object, REFIID riid, void** ppv)
{
    if (!object)
        return E_OUTOFMEMORY;
    const HRESULT result = object->QueryInterface(riid, ppv);
    if (result != S_OK)
        delete object;
    return result;
}

}  // namespace

HRESULT CreateDeviceInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    if (!outer)
        return CreateAndQuery(new CStandaloneDevice(), riid, ppv);
    return CreateAndQuery(new CAggregatedDevice(outer), riid, ppv);
}
