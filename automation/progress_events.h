// The Progress event of the device object: the connection point of its
// source interface, and the OnProgress handler, both told (done, total).
// The object is free-threaded, so a transfer may run on any thread: sinks and
// the handler are kept in the global interface table and called in the
// apartment that gave them, never directly from a foreign thread.
#pragma once

#include <windows.h>

#include <ocidl.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <wrl/client.h>

#include "win/unique_any.h"

namespace automation {

class ProgressEvents : public IConnectionPoint {
public:
    // `container`: the object the point belongs to; it owns this one, which
    // counts its references.
    explicit ProgressEvents(IConnectionPointContainer* container) : container_(container) {}
    ~ProgressEvents();

    // Calls every sink's Progress and the OnProgress handler, each in the
    // apartment it was given in (whose thread must pump messages when that is
    // not this one).  One that can't be reached misses the event.
    void Fire(uint64_t done, uint64_t total);
    // OnProgress: an object of the caller's apartment to call, or nothing.
    HRESULT SetHandler(IDispatch* handler);
    // The handler as valid in the caller's apartment; null when there is none.
    HRESULT Handler(Microsoft::WRL::ComPtr<IDispatch>& handler);

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
    // A sink or the handler in the table, shared with the Fire calling it:
    // taken away meanwhile, it is revoked when that call is done.
    using Entry = std::shared_ptr<const win::unique_git_cookie>;
    struct Sink {
        DWORD cookie;
        Entry entry;
    };

    static HRESULT Register(IDispatch* target, Entry& entry);
    static HRESULT Fetch(const Entry& entry, Microsoft::WRL::ComPtr<IDispatch>& target);

    IConnectionPointContainer* container_;
    // Never held while calling out: a call to another apartment can re-enter.
    std::mutex guard_;
    std::vector<Sink> sinks_;
    DWORD nextCookie_ = 1;
    Entry handler_;
};

}  // namespace automation
