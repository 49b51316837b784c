#include "xfer_device.h"

#include <olectl.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "arguments.h"
#include "byte_arrays.h"
#include "connection_owner.h"
#include "dump/connection.h"
#include "dump/file.h"
#include "dump/numbers.h"
#include "dump/wire.h"
#include "loader_versions.h"
#include "module.h"
#include "ops/devices.h"
#include "ops/xfer_link.h"
#include "server_class.h"
#include "uXfer.h"
#include "win/device_interfaces.h"
#include "xferlib/uxfer_library.h"
#include "win/text.h"

namespace automation {

namespace {

const NumberRule kAddress = {"address", true, dump::kMaxDumpSize, dump::kLimitWords};
const NumberRule kSize = {"size", true, dump::kMaxDumpSize, dump::kLimitWords};
const NumberRule kMode = {"mode", false, dump::kMax16, dump::kLimit16};
const NumberRule kInstance = {"instance", false, UINT32_MAX, dump::kLimit32};
const NumberRule kLoaderVersion = {"loaderVersion", false, UINT32_MAX, dump::kLimit32};
const NumberRule kResetCode = {"code", false, dump::kMax16, dump::kLimit16};
constexpr uint32_t kDefaultResetCode = 2;

const char kTempPrefix[] = "uxa";
// How the object names what the dump operations' sentences mention.
const ops::Names kNames = {"address", "size", "Pad = True", "NoReset = True"};

std::string Utf8(const std::wstring& text)
{
    return win::Narrow(text, CP_UTF8);
}

// The DISPIDs of uXferAuto.idl that Invoke calls itself.
constexpr DISPID kReadId = 7, kWriteId = 8;

// The arguments of a call through IDispatch in their order, by position or
// by name (a parameter's DISPID is its place): `count` places, the first
// `required` of them needed; one left out is VT_ERROR DISP_E_PARAMNOTFOUND,
// as the type library's Invoke passes it.  The places are the caller's
// VARIANTs as they are, references included: nothing is copied or owned.
HRESULT PlaceArguments(const DISPPARAMS* parameters, UINT required, UINT count, VARIANT* places,
                       UINT* argumentError)
{
    for (UINT i = 0; i < count; ++i) {
        VariantInit(&places[i]);
        V_VT(&places[i]) = VT_ERROR;
        V_ERROR(&places[i]) = DISP_E_PARAMNOTFOUND;
    }
    if (!parameters || parameters->cNamedArgs > parameters->cArgs)
        return E_INVALIDARG;
    if (parameters->cArgs > count)
        return DISP_E_BADPARAMCOUNT;
    const UINT positional = parameters->cArgs - parameters->cNamedArgs;
    uint32_t given = 0;
    for (UINT i = 0; i < positional; ++i) {
        places[i] = parameters->rgvarg[parameters->cArgs - 1 - i];
        given |= 1u << i;
    }
    for (UINT i = 0; i < parameters->cNamedArgs; ++i) {
        const DISPID place = parameters->rgdispidNamedArgs[i];
        if (place < 0 || static_cast<UINT>(place) >= count || (given & (1u << place))) {
            if (argumentError)
                *argumentError = i;
            return DISP_E_PARAMNOTFOUND;
        }
        places[place] = parameters->rgvarg[i];
        given |= 1u << place;
    }
    for (UINT i = 0; i < required; ++i)
        if (!(given & (1u << i)))
            return DISP_E_PARAMNOTOPTIONAL;
    return S_OK;
}

// `failure`, or success with `number` in `result`.  `number` is read only
// now, after the call that set it (arguments are evaluated in any order).
template <typename Number>
Failure Counted(Failure failure, const Number& number, VARIANT* result)
{
    if (!failure)
        PutNumber(static_cast<int64_t>(number), result);
    return failure;
}

}  // namespace

XferDevice::XferDevice() : events_(this)
{
    ModuleAddRef();
}

XferDevice::~XferDevice()
{
    // Never refused here: every transfer holds a reference, so none of ours runs.
    CloseConnection(this);
    ModuleRelease();
}

HRESULT XferDevice::Create(REFIID iid, void** object)
{
    auto* device = new (std::nothrow) XferDevice;
    if (!device)
        return E_OUTOFMEMORY;
    // Cancel must reach a running transfer from any thread of the host
    // directly, not queued behind it in the object's apartment.
    HRESULT result = CoCreateFreeThreadedMarshaler(static_cast<IXferDevice*>(device), &device->marshaler_);
    if (SUCCEEDED(result))
        result = device->QueryInterface(iid, object);
    device->Release();
    return result;
}

STDMETHODIMP XferDevice::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IXferDevice)
        *object = static_cast<IXferDevice*>(this);
    else if (iid == IID_ISupportErrorInfo)
        *object = static_cast<ISupportErrorInfo*>(this);
    else if (iid == IID_IConnectionPointContainer)
        *object = static_cast<IConnectionPointContainer*>(this);
    else if (iid == IID_IProvideClassInfo || iid == IID_IProvideClassInfo2)
        *object = static_cast<IProvideClassInfo2*>(this);
    else if (iid == IID_IMarshal && marshaler_)
        return marshaler_->QueryInterface(iid, object);
    else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) XferDevice::AddRef()
{
    return ++references_;
}

STDMETHODIMP_(ULONG) XferDevice::Release()
{
    const ULONG left = --references_;
    if (left == 0)
        delete this;
    return left;
}

STDMETHODIMP XferDevice::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP XferDevice::GetTypeInfo(UINT index, LCID, ITypeInfo** info)
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    ITypeInfo* type = TypeInfoOf(IID_IXferDevice);
    if (!type)
        return TYPE_E_CANTLOADLIBRARY;
    type->AddRef();
    *info = type;
    return S_OK;
}

STDMETHODIMP XferDevice::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    ITypeInfo* type = TypeInfoOf(IID_IXferDevice);
    if (!type)
        return TYPE_E_CANTLOADLIBRARY;
    return type->GetIDsOfNames(names, count, ids);
}

STDMETHODIMP XferDevice::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                                EXCEPINFO* exception, UINT* argumentError)
{
    if ((id == kReadId || id == kWriteId) && (flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)))
        return InvokeArrayMember(id, parameters, result, exception, argumentError);
    ITypeInfo* type = TypeInfoOf(IID_IXferDevice);
    if (!type)
        return TYPE_E_CANTLOADLIBRARY;
    // A host assigning an object may ask for put and putref at once; both are the same here.
    if ((flags & DISPATCH_PROPERTYPUT) && (flags & DISPATCH_PROPERTYPUTREF))
        flags &= ~DISPATCH_PROPERTYPUTREF;
    const HRESULT invoked = type->Invoke(static_cast<IXferDevice*>(this), id, flags, parameters, result, exception,
                                         argumentError);
    return AsDispatchResult(invoked, exception);
}

// The type library's Invoke copies an array argument before the call and the
// array returned after it (Wine's does, with VariantCopy): a range would be
// held two or three times over.  So Read and Write are called from here, with
// the caller's arguments as they are and the array moved into `result`.
HRESULT XferDevice::InvokeArrayMember(DISPID id, DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                      UINT* argumentError)
{
    VARIANT places[3];  // Read(address, size, [mode]), Write(address, data, [mode])
    if (const HRESULT placed = PlaceArguments(parameters, 2, 3, places, argumentError); FAILED(placed))
        return placed;
    VARIANT unused;
    VARIANT* out = result ? result : &unused;
    const HRESULT called =
        id == kReadId ? Read(places[0], places[1], places[2], out) : Write(places[0], places[1], places[2], out);
    if (!result)
        VariantClear(&unused);
    return AsDispatchResult(called, exception);
}

Failure XferDevice::RangeOf(const VARIANT& address, const VARIANT* size, const VARIANT& mode, const char* sizeFor,
                            ops::Range& range)
{
    if (Failure failure = ToNumber(address, kAddress, range.addr))
        return failure;
    if (size && !Missing(*size)) {
        uint32_t words = 0;
        if (Failure failure = ToNumber(*size, kSize, words))
            return failure;
        range.size = words;
    }
    if (!Missing(mode))
        if (Failure failure = ToNumber(mode, kMode, range.mode))
            return failure;
    if (sizeFor && !range.size)
        return Fail(UXA_E_ARGUMENT, std::string("size: give the number of device words to ") + sizeFor);
    return {};
}

Failure XferDevice::FileRangeOf(BSTR path, const VARIANT& address, const VARIANT& size, const VARIANT& mode,
                                const char* sizeFor, std::wstring& file, ops::Range& range)
{
    file = path ? std::wstring(path, SysStringLen(path)) : std::wstring();
    if (file.empty())
        return Fail(UXA_E_ARGUMENT, "path: give a file name");
    return RangeOf(address, &size, mode, sizeFor, range);
}

template <typename Member>
HRESULT XferDevice::Run(VARIANT* result, const Failure& arguments, Member member)
{
    if (!result)
        return E_POINTER;
    VariantInit(result);
    if (arguments)
        return Report(arguments);
    Failure failure;
    {
        // The events are fetched from the global interface table, which needs
        // an apartment: a thread outside COM joins the multithreaded one for
        // the call (a single-threaded one stays as it is).
        const win::unique_apartment apartment(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        // A handler may let go of the caller's reference: the object outlives the call.
        const Microsoft::WRL::ComPtr<IXferDevice> self(this);
        ConnectionUse connection(this);
        if (connection.Problem()) {
            failure = connection.Problem();
        } else {
            ops::Settings settings;
            settings.timeoutSeconds = timeoutSeconds_;
            settings.loaderVersion = LastLoaderVersion();
            settings.simulated = ServedClass().library == xferlib::kUxferSim;
            settings.raw = raw_;
            settings.noReset = noReset_;
            settings.progress = [this](uint64_t done, uint64_t total) { events_.Fire(done, total); };
            const ops::Names names = NamesOf(kNames, connection.Instance(), LastLoaderVersion());
            ops::XferLink link(cancel_, connection.Connection(), connection.Instance(), settings, names);
            ops::Operation operation(link, connection.Instance(), settings, names);
            failure = member(operation);
        }
    }
    // Reported once the call's apartment is left (the caller's error info is set
    // last), without the object, which may be gone now.
    return Report(failure);
}

STDMETHODIMP XferDevice::Devices(VARIANT* paths)
{
    if (!paths)
        return E_POINTER;
    // As the library counts them, the class of the last Open selected.
    const uint32_t loaderVersion = LastLoaderVersion();
    dump::SelectInterfaceClass(loaderVersion);
    std::vector<std::wstring> listed;
    for (const std::string& path : ops::ListedDevices(dump::InterfaceClass(loaderVersion), Simulated()))
        listed.push_back(win::Widen(path, CP_ACP));
    return Report(PutStrings(listed, paths));
}

STDMETHODIMP XferDevice::Open(VARIANT instance, VARIANT loaderVersion)
{
    uint32_t index = 0, version = 0;
    if (!Missing(instance))
        if (Failure failure = ToNumber(instance, kInstance, index))
            return Report(failure);
    if (!Missing(loaderVersion)) {
        if (Failure failure = ToNumber(loaderVersion, kLoaderVersion, version))
            return Report(failure);
        if (!FindLoaderVersion(version))
            return Report(Fail(UXA_E_ARGUMENT, "loaderVersion: unknown loader version " + std::to_string(version) +
                                                   " (" + dump::LoaderVersionList() + ")"));
    }
    return Report(OpenConnection(this, index, version));
}

STDMETHODIMP XferDevice::Close()
{
    return Report(CloseConnection(this));
}

STDMETHODIMP XferDevice::ReadToFile(BSTR path, VARIANT address, VARIANT size, VARIANT mode, VARIANT* bytes)
{
    std::wstring file;
    ops::Range range;
    return Run(bytes, FileRangeOf(path, address, size, mode, "read", file, range), [&](ops::Operation& operation) {
        ops::DumpFile sink(kTempPrefix);
        if (const ops::Error error = sink.Prepare(file, Utf8(file)))
            return FromError(error);
        return Counted(FromError(operation.Read(range, sink)), FileBytes(range), bytes);
    });
}

STDMETHODIMP XferDevice::WriteFromFile(BSTR path, VARIANT address, VARIANT size, VARIANT mode, VARIANT verify,
                                       VARIANT* bytes)
{
    std::wstring file;
    ops::Range range;
    bool check = false;
    Failure arguments = FileRangeOf(path, address, size, mode, nullptr, file, range);
    if (!arguments && !Missing(verify))
        arguments = ToFlag(verify, "verify", check);
    return Run(bytes, arguments, [&](ops::Operation& operation) {
        std::unique_ptr<ops::Source> source;
        if (const ops::Error error = ops::OpenFileSource(file, Utf8(file), source))
            return FromError(error);
        if (const ops::Error error = ops::FitSource("write", range, *source, raw_, pad_, kNames))
            return FromError(error);
        // Read back the way a read does, with the read mode word: 0, without a settings file.
        const ops::Error error = operation.Write(range, *source, pad_, check ? std::optional<uint32_t>(0) : std::nullopt);
        return Counted(FromError(error), FileBytes(range), bytes);
    });
}

STDMETHODIMP XferDevice::CompareWithFile(BSTR path, VARIANT address, VARIANT size, VARIANT mode, VARIANT* offset)
{
    std::wstring file;
    ops::Range range;
    return Run(offset, FileRangeOf(path, address, size, mode, nullptr, file, range), [&](ops::Operation& operation) {
        std::unique_ptr<ops::Source> source;
        if (const ops::Error error = ops::OpenFileSource(file, Utf8(file), source))
            return FromError(error);
        const ops::Error error = operation.Compare(range, *source);
        if (error.kind == ops::Kind::Mismatch && error.difference)
            return Counted(Failure{}, static_cast<int64_t>(error.difference->fileOffset), offset);
        return Counted(FromError(error), int64_t{-1}, offset);
    });
}

STDMETHODIMP XferDevice::Read(VARIANT address, VARIANT size, VARIANT mode, VARIANT* data)
{
    ops::Range range;
    return Run(data, RangeOf(address, &size, mode, "read", range), [&](ops::Operation& operation) {
        if (const ops::Error error = ops::CheckRange(range, kNames, true))
            return FromError(error);
        ArraySink sink;
        if (Failure failure = sink.Create(FileBytes(range)))
            return failure;
        if (Failure failure = FromError(operation.Read(range, sink)))
            return failure;
        sink.Give(data);
        return Failure{};
    });
}

STDMETHODIMP XferDevice::Write(VARIANT address, VARIANT data, VARIANT mode, VARIANT* bytes)
{
    ops::Range range;
    ArraySource source;
    Failure arguments = RangeOf(address, nullptr, mode, nullptr, range);
    if (!arguments)
        arguments = source.Open(data);
    return Run(bytes, arguments, [&](ops::Operation& operation) {
        if (const ops::Error error = ops::FitSource("write", range, source, raw_, pad_, kNames))
            return FromError(error);
        const ops::Error error = operation.Write(range, source, pad_, std::nullopt);
        return Counted(FromError(error), FileBytes(range), bytes);
    });
}

STDMETHODIMP XferDevice::Verify(VARIANT address, VARIANT size, VARIANT mode, VARIANT* value)
{
    ops::Range range;
    return Run(value, RangeOf(address, &size, mode, "verify", range), [&](ops::Operation& operation) {
        uint8_t bytes[4] = {};
        if (Failure failure = FromError(operation.Verify(range, bytes)))
            return failure;
        char text[16];
        std::snprintf(text, sizeof text, "%02X %02X %02X %02X", bytes[0], bytes[1], bytes[2], bytes[3]);
        return PutText(text, value);
    });
}

STDMETHODIMP XferDevice::Status(VARIANT* bytes)
{
    return Run(bytes, Failure{}, [&](ops::Operation& operation) {
        uint8_t status[8] = {};
        Failure failure = FromError(operation.Status(status));
        return failure ? failure : PutLongs(status, sizeof status, bytes);
    });
}

STDMETHODIMP XferDevice::Reset(VARIANT code)
{
    uint32_t resetCode = kDefaultResetCode;
    if (!Missing(code))
        if (Failure failure = ToNumber(code, kResetCode, resetCode))
            return Report(failure);
    // A Reset during this object's own call stops the call as a Cancel does:
    // its caller sees it cancelled, not failed.
    cancel_.Cancel();
    // The class of the last Open: a host that calls uXfer.dll itself may have
    // selected another one since (the library keeps one a process).
    dump::SelectInterfaceClass(LastLoaderVersion());
    const uint32_t instance = LastInstance();
    return Report(
        FromError(ops::SendResetRequest(instance, resetCode, NamesOf(kNames, instance, LastLoaderVersion()))));
}

STDMETHODIMP XferDevice::get_Timeout(LONG* seconds)
{
    if (!seconds)
        return E_POINTER;
    *seconds = timeoutSeconds_;
    return S_OK;
}

STDMETHODIMP XferDevice::put_Timeout(LONG seconds)
{
    if (seconds < -1 || seconds > static_cast<LONG>(dump::kMaxTimeoutSeconds))
        return Report(Fail(UXA_E_ARGUMENT, "Timeout: " + std::to_string(seconds) +
                                               " is out of range (-1: automatic, 0: no limit, at most " +
                                               std::to_string(dump::kMaxTimeoutSeconds) + " seconds)"));
    timeoutSeconds_ = seconds;
    return S_OK;
}

STDMETHODIMP XferDevice::Cancel()
{
    cancel_.Cancel();
    return S_OK;
}

STDMETHODIMP XferDevice::get_OnProgress(VARIANT* handler)
{
    if (!handler)
        return E_POINTER;
    VariantInit(handler);
    Microsoft::WRL::ComPtr<IDispatch> current;
    if (const HRESULT fetched = events_.Handler(current); FAILED(fetched))
        return fetched;
    if (current) {
        V_VT(handler) = VT_DISPATCH;
        V_DISPATCH(handler) = current.Detach();
    }
    return S_OK;
}

Failure XferDevice::SetHandler(const VARIANT& handler)
{
    const VARIANT* value = &handler;
    if (V_VT(value) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(value))
        value = V_VARIANTREF(value);
    const VARTYPE type = V_VT(value);
    if (type == VT_EMPTY || type == VT_NULL || (type == VT_DISPATCH && !V_DISPATCH(value))) {
        events_.SetHandler(nullptr);  // can't fail
        return {};
    }
    IUnknown* object = nullptr;
    if (type == VT_DISPATCH || type == VT_UNKNOWN)
        object = V_UNKNOWN(value);
    else if (type == (VT_BYREF | VT_DISPATCH) && V_DISPATCHREF(value))
        object = *V_DISPATCHREF(value);
    else if (type == (VT_BYREF | VT_UNKNOWN) && V_UNKNOWNREF(value))
        object = *V_UNKNOWNREF(value);
    Microsoft::WRL::ComPtr<IDispatch> dispatch;
    if (!object ||
        FAILED(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.GetAddressOf()))))
        return Fail(UXA_E_ARGUMENT,
                    "OnProgress: give a function or object to call with (done, total), or Nothing/null");
    if (const HRESULT kept = events_.SetHandler(dispatch.Get()); FAILED(kept))
        return Fail(kept, "OnProgress: this object can't be called from other threads (" +
                              win::SystemErrorText(static_cast<unsigned long>(kept)) + ")");
    return {};
}

STDMETHODIMP XferDevice::put_OnProgress(VARIANT handler)
{
    return Report(SetHandler(handler));
}

STDMETHODIMP XferDevice::putref_OnProgress(VARIANT handler)
{
    return Report(SetHandler(handler));
}

STDMETHODIMP XferDevice::get_Raw(VARIANT_BOOL* raw)
{
    if (!raw)
        return E_POINTER;
    *raw = raw_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP XferDevice::put_Raw(VARIANT_BOOL raw)
{
    raw_ = raw != VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP XferDevice::get_NoReset(VARIANT_BOOL* noReset)
{
    if (!noReset)
        return E_POINTER;
    *noReset = noReset_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP XferDevice::put_NoReset(VARIANT_BOOL noReset)
{
    noReset_ = noReset != VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP XferDevice::get_Pad(VARIANT_BOOL* pad)
{
    if (!pad)
        return E_POINTER;
    *pad = pad_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP XferDevice::put_Pad(VARIANT_BOOL pad)
{
    pad_ = pad != VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP XferDevice::get_IsOpen(VARIANT_BOOL* open)
{
    if (!open)
        return E_POINTER;
    *open = HoldsConnection(this) ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP XferDevice::InterfaceSupportsErrorInfo(REFIID iid)
{
    return iid == IID_IXferDevice ? S_OK : S_FALSE;
}

STDMETHODIMP XferDevice::EnumConnectionPoints(IEnumConnectionPoints** points)
{
    if (points)
        *points = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP XferDevice::FindConnectionPoint(REFIID iid, IConnectionPoint** point)
{
    if (!point)
        return E_POINTER;
    *point = nullptr;
    if (iid != DIID_DXferDeviceEvents)
        return CONNECT_E_NOCONNECTION;
    *point = &events_;
    events_.AddRef();
    return S_OK;
}

STDMETHODIMP XferDevice::GetClassInfo(ITypeInfo** info)
{
    if (!info)
        return E_POINTER;
    *info = TypeInfoOf(ServedClass().clsid);
    if (!*info)
        return TYPE_E_CANTLOADLIBRARY;
    (*info)->AddRef();
    return S_OK;
}

STDMETHODIMP XferDevice::GetGUID(DWORD kind, GUID* guid)
{
    if (!guid)
        return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = DIID_DXferDeviceEvents;
    return S_OK;
}

}  // namespace automation
