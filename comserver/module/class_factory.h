// The class object of a class-map entry, cached by the module for the life of
// the process.  Client references beyond the map's own hold one module lock.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "runtime/scoped.h"
#include "server_module.h"

class CCachedFactory final : public IClassFactory, public CModuleObject {
public:
    // The entry's factoryCreator.
    static HRESULT Create(InstanceCreator creator, REFIID riid, void** ppv);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    explicit CCachedFactory(InstanceCreator creator);
    ~CCachedFactory();

    volatile LONG count_ = 0;
    CRITICAL_SECTION countLock_;
    InstanceCreator creator_;
};
