#include "class_factory.h"

CCachedFactory::CCachedFactory(InstanceCreator creator) : creator_(creator)
{
    InitializeCriticalSection(&countLock_);
}

CCachedFactory::~CCachedFactory()
{
    DeleteCriticalSection(&countLock_);
}

HRESULT CCachedFactory::Create(InstanceCreator creator, REFIID riid, void** ppv)
{
    CCachedFactory* factory = new CCachedFactory(creator);
    if (!factory)
        return E_OUTOFMEMORY;
    const HRESULT result = factory->QueryInterface(riid, ppv);
    if (result != S_OK)
        delete factory;
    return result;
}

STDMETHODIMP CCachedFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!InlineIsEqualGUID(riid, IID_IUnknown) && !InlineIsEqualGUID(riid, IID_IClassFactory))
        return E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<IClassFactory*>(this);
    return S_OK;
}

STDMETHODIMP_(ULONG) CCachedFactory::AddRef()
{
    CLockGuard guard(countLock_);
    const LONG count = InterlockedIncrement(&count_);
    if (count == 2)
        theModule.Lock();  // the first client reference beyond the map's own
    return count;
}

STDMETHODIMP_(ULONG) CCachedFactory::Release()
{
    LONG count;
    {
        CLockGuard guard(countLock_);
        InterlockedDecrement(&count_);
        count = count_;
    }
    if (count == 0)
        delete this;
    else if (count == 1)
        theModule.Unlock();  // only the map's reference is left
    return count;
}

STDMETHODIMP CCachedFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (outer && !InlineIsEqualGUID(riid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    return creator_(outer, riid, ppv);
}

STDMETHODIMP CCachedFactory::LockServer(BOOL lock)
{
    if (lock)
        theModule.Lock();
    else
        theModule.Unlock();
    return S_OK;
}
