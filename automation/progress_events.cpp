#include "progress_events.h"

#include <olectl.h>

#include "arguments.h"
#include "uXferAuto.h"

namespace automation {

namespace {
constexpr DISPID kProgressId = 1;
}

ProgressEvents::~ProgressEvents() = default;

HRESULT ProgressEvents::Register(IDispatch* target, Entry& entry)
{
    Microsoft::WRL::ComPtr<IGlobalInterfaceTable> table;
    DWORD cookie = 0;
    HRESULT result = win::GetGlobalInterfaceTable(table.GetAddressOf());
    if (SUCCEEDED(result))
        result = table->RegisterInterfaceInGlobal(target, IID_IDispatch, &cookie);
    if (FAILED(result))
        return result;
    win::unique_git_cookie owned(cookie);
    entry = std::make_shared<const win::unique_git_cookie>(std::move(owned));
    return S_OK;
}

HRESULT ProgressEvents::Fetch(const Entry& entry, Microsoft::WRL::ComPtr<IDispatch>& target)
{
    Microsoft::WRL::ComPtr<IGlobalInterfaceTable> table;
    HRESULT result = win::GetGlobalInterfaceTable(table.GetAddressOf());
    if (SUCCEEDED(result))
        result = table->GetInterfaceFromGlobal(entry->get(), IID_IDispatch,
                                               reinterpret_cast<void**>(target.ReleaseAndGetAddressOf()));
    return result;
}

void ProgressEvents::Fire(uint64_t done, uint64_t total)
{
    std::vector<Entry> targets;
    size_t sinkCount;  // the handler comes after the sinks
    {
        std::lock_guard<std::mutex> lock(guard_);
        for (const Sink& sink : sinks_)
            targets.push_back(sink.entry);
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
        // One whose apartment is gone is skipped, and what a handler fails
        // with is its own business: the transfer goes on either way.
        Microsoft::WRL::ComPtr<IDispatch> target;
        if (FAILED(Fetch(targets[i], target)))
            continue;
        VARIANT result;
        VariantInit(&result);
        target->Invoke(i < sinkCount ? kProgressId : DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                       &parameters, &result, nullptr, nullptr);
        VariantClear(&result);
    }
}

HRESULT ProgressEvents::SetHandler(IDispatch* handler)
{
    Entry entry;
    if (handler)
        if (HRESULT result = Register(handler, entry); FAILED(result))
            return result;
    std::lock_guard<std::mutex> lock(guard_);
    handler_.swap(entry);  // the old one is let go of after the lock
    return S_OK;
}

HRESULT ProgressEvents::Handler(Microsoft::WRL::ComPtr<IDispatch>& handler)
{
    handler.Reset();
    Entry entry;
    {
        std::lock_guard<std::mutex> lock(guard_);
        entry = handler_;
    }
    return entry ? Fetch(entry, handler) : S_OK;
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
    Entry entry;
    if (FAILED(Register(dispatch.Get(), entry)))
        return CONNECT_E_CANNOTCONNECT;
    std::lock_guard<std::mutex> lock(guard_);
    *cookie = nextCookie_++;
    sinks_.push_back({*cookie, std::move(entry)});
    return S_OK;
}

STDMETHODIMP ProgressEvents::Unadvise(DWORD cookie)
{
    Entry released;  // let go of outside the lock
    std::lock_guard<std::mutex> lock(guard_);
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it)
        if (it->cookie == cookie) {
            released = std::move(it->entry);
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
