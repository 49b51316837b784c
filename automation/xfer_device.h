// The device object scripts create as "uXfer.Device": IXferDevice, dual, with
// its Progress event, error info, and the free-threaded marshaler so that
// Cancel reaches a running transfer from any thread of the host.
#pragma once

#include <windows.h>

#include <ocidl.h>

#include <atomic>
#include <string>

#include <wrl/client.h>

#include "dump/cancel_switch.h"
#include "failure.h"
#include "ops/operation.h"
#include "progress_events.h"
#include "uXferAuto.h"

namespace automation {

class XferDevice final : public IXferDevice,
                         public ISupportErrorInfo,
                         public IConnectionPointContainer,
                         public IProvideClassInfo2 {
public:
    // A new object for `outer == nullptr` (no aggregation) into `object`.
    static HRESULT Create(REFIID iid, void** object);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override;
    // IXferDevice
    STDMETHODIMP Devices(VARIANT* paths) override;
    STDMETHODIMP Open(VARIANT instance, VARIANT loaderVersion) override;
    STDMETHODIMP Close() override;
    STDMETHODIMP ReadToFile(BSTR path, VARIANT address, VARIANT size, VARIANT mode, VARIANT* bytes) override;
    STDMETHODIMP WriteFromFile(BSTR path, VARIANT address, VARIANT size, VARIANT mode, VARIANT verify,
                               VARIANT* bytes) override;
    STDMETHODIMP CompareWithFile(BSTR path, VARIANT address, VARIANT size, VARIANT mode, VARIANT* offset) override;
    STDMETHODIMP Read(VARIANT address, VARIANT size, VARIANT mode, VARIANT* data) override;
    STDMETHODIMP Write(VARIANT address, VARIANT data, VARIANT mode, VARIANT* bytes) override;
    STDMETHODIMP Verify(VARIANT address, VARIANT size, VARIANT mode, VARIANT* value) override;
    STDMETHODIMP Status(VARIANT* bytes) override;
    STDMETHODIMP Reset(VARIANT code) override;
    STDMETHODIMP get_Timeout(LONG* seconds) override;
    STDMETHODIMP put_Timeout(LONG seconds) override;
    STDMETHODIMP Cancel() override;
    STDMETHODIMP get_OnProgress(VARIANT* handler) override;
    STDMETHODIMP put_OnProgress(VARIANT handler) override;
    STDMETHODIMP putref_OnProgress(VARIANT handler) override;
    STDMETHODIMP get_Raw(VARIANT_BOOL* raw) override;
    STDMETHODIMP put_Raw(VARIANT_BOOL raw) override;
    STDMETHODIMP get_IsOpen(VARIANT_BOOL* open) override;
    STDMETHODIMP get_NoReset(VARIANT_BOOL* noReset) override;
    STDMETHODIMP put_NoReset(VARIANT_BOOL noReset) override;
    STDMETHODIMP get_Pad(VARIANT_BOOL* pad) override;
    STDMETHODIMP put_Pad(VARIANT_BOOL pad) override;
    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override;
    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;
    // IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

private:
    XferDevice();
    ~XferDevice();

    // Read or Write called through IDispatch.
    HRESULT InvokeArrayMember(DISPID id, DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                              UINT* argumentError);
    // The range arguments of a member; without `sizeFor` (the verb that
    // needs it) the size may be left out.
    Failure RangeOf(const VARIANT& address, const VARIANT* size, const VARIANT& mode, const char* sizeFor,
                    ops::Range& range);
    // The same with the path of a file.
    Failure FileRangeOf(BSTR path, const VARIANT& address, const VARIANT& size, const VARIANT& mode,
                        const char* sizeFor, std::wstring& file, ops::Range& range);
    // Unless the `arguments` failed, runs `operation` on the connection of
    // this object (opening it first when it holds none) with this object's
    // settings; `result` is Empty until the operation sets it.
    // The bytes a file or array holds for `range`.
    uint64_t FileBytes(const ops::Range& range) const { return raw_ ? uint64_t{*range.size} * 2 : *range.size; }
    template <typename Member>
    HRESULT Run(VARIANT* result, const Failure& arguments, Member member);
    Failure SetHandler(const VARIANT& handler);

    std::atomic<ULONG> references_{1};
    Microsoft::WRL::ComPtr<IUnknown> marshaler_;
    ProgressEvents events_;
    dump::CancelSwitch cancel_;
    std::atomic<LONG> timeoutSeconds_{-1};
    std::atomic<bool> raw_{false};
    std::atomic<bool> noReset_{false};
    std::atomic<bool> pad_{false};
};

}  // namespace automation
