#include "progress_events.h"

#include <olectl.h>

#include "arguments.h"
#include "uXferAuto.h"

namespace automation {

namespace {
constexpr DISPID kProgressId = 1;
}

ProgressEvents::~ProgressEvents() = default;

void ProgressEvents::Fire(uint64_t done, uint64_t total)
{
    std::vector<Microsoft::WRL::ComPtr<IDispatch>> targets;
    size_t sinkCount;  // the handler comes after the sinks
    {
        std::lock_guard<std::mutex> lock(guard_);
        for (const Sink& sink : sinks_)
            targets.push_back(sink.dispatch);
        sinkCount = targets.size();
        if (handler_)
            targets.push_back(handler_);
    }
    if (targets.empty())
        return;
    // Arguments go last first.
    VARIANT arguments[2];
    PutNumber(static_cast<int64_t>(total), &arguments[0]);
    PutNumber(static_cast<int64_t>(done), &arguments[1]);
    DISPPARAMS parameters = {arguments, nullptr, 2, 0};
    for (size_t i = 0; i < targets.size(); ++i) {
        // What a handler fails with is its own business: the transfer goes on.
        VARIANT result;
        VariantInit(&result);
        targets[i]->Invoke(i < sinkCount ? kProgressId : DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT,
                           DISPATCH_METHOD, &parameters, &result, nullptr, nullptr);
        VariantClear(&result);
    }
}

void ProgressEvents::SetHandler(IDispatch* handler)
{
    std::lock_guard<std::mutex> lock(guard_);
    handler_ = handler;
}

Microsoft::WRL::ComPtr<IDispatch> ProgressEvents::Handler()
{
    std::lock_guard<std::mutex> lock(guard_);
    return handler_;
}

STDMETHODIMP ProgressEvents::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IConnectionPoint) {
        *object = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP ProgressEvents::GetConnectionInterface(IID* iid)
{
    if (!iid)
        return E_POINTER;
    *iid = DIID_DXferDeviceEvents;
    return S_OK;
}

STDMETHODIMP ProgressEvents::GetConnectionPointContainer(IConnectionPointContainer** container)
{
    if (!container)
        return E_POINTER;
    *container = container_;
    container_->AddRef();
    return S_OK;
}

STDMETHODIMP ProgressEvents::Advise(IUnknown* sink, DWORD* cookie)
{
    if (!sink || !cookie)
        return E_POINTER;
    *cookie = 0;
    Microsoft::WRL::ComPtr<IDispatch> dispatch;
    // A sink implements the event interface, reached through IDispatch.
    if (FAILED(sink->QueryInterface(DIID_DXferDeviceEvents, reinterpret_cast<void**>(dispatch.GetAddressOf()))) &&
        FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.GetAddressOf()))))
        return CONNECT_E_CANNOTCONNECT;
    std::lock_guard<std::mutex> lock(guard_);
    *cookie = nextCookie_++;
    sinks_.push_back({*cookie, dispatch});
    return S_OK;
}

STDMETHODIMP ProgressEvents::Unadvise(DWORD cookie)
{
    Microsoft::WRL::ComPtr<IDispatch> released;  // let go of outside the lock
    std::lock_guard<std::mutex> lock(guard_);
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it)
        if (it->cookie == cookie) {
            released = std::move(it->dispatch);
            sinks_.erase(it);
            return S_OK;
        }
    return CONNECT_E_NOCONNECTION;
}

STDMETHODIMP ProgressEvents::EnumConnections(IEnumConnections** connections)
{
    if (connections)
        *connections = nullptr;
    return E_NOTIMPL;
}

}  // namespace automation
