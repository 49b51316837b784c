// The Progress event of the device object: the connection point of its
// source interface, and the OnProgress handler, both told (done, total).
#pragma once

#include <windows.h>

#include <ocidl.h>

#include <cstdint>
#include <mutex>
#include <vector>

#include <wrl/client.h>

namespace automation {

class ProgressEvents : public IConnectionPoint {
public:
    // `container`: the object the point belongs to; it owns this one, which
    // counts its references.
    explicit ProgressEvents(IConnectionPointContainer* container) : container_(container) {}
    ~ProgressEvents();

    // Calls every sink's Progress and the OnProgress handler, on this thread.
    void Fire(uint64_t done, uint64_t total);
    // OnProgress: an object to call, or nothing.
    void SetHandler(IDispatch* handler);
    Microsoft::WRL::ComPtr<IDispatch> Handler();

    // IUnknown, delegated to the container.
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return container_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return container_->Release(); }
    // IConnectionPoint
    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

private:
    struct Sink {
        DWORD cookie;
        Microsoft::WRL::ComPtr<IDispatch> dispatch;
    };

    IConnectionPointContainer* container_;
    std::mutex guard_;
    std::vector<Sink> sinks_;
    DWORD nextCookie_ = 1;
    Microsoft::WRL::ComPtr<IDispatch> handler_;
};

}  // namespace automation
