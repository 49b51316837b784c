/* vtable_client: a compiled client of uXfer.Device through its interface
 * table (the widl header uXferAuto.h), with a connection-point sink of its
 * own that counts the Progress events.
 *
 *   vtable_client FILE [ADDRESS] [SIZE]
 *
 * Reads SIZE words (default 4K) from ADDRESS (default 0) into FILE, writes
 * FILE back with verification, then compares the device with it.  Numbers
 * go to the server as text, which takes them as uxfer does ("0x1000",
 * "4K").  Exit code 0 on success, 1 with the server's description on a
 * failure, 2 for bad usage. */
/* The C call macros of the interfaces (IXferDevice_ReadToFile and so on). */
#define COBJMACROS
#include <initguid.h>

#include <stdio.h>
#include <wchar.h>

#include <windows.h>
#include <oleauto.h>
#include <ocidl.h>

#include "uXferAuto.h"

/* The event sink: DXferDeviceEvents is a dispinterface, so the sink is an
 * IDispatch that answers DISPID 1 (Progress). */
typedef struct Sink {
    IDispatch iface;
    LONG refs;
    long calls;
    double done, total; /* of the last call */
} Sink;

static HRESULT STDMETHODCALLTYPE sink_query(IDispatch *self, REFIID iid, void **out)
{
    if (IsEqualIID(iid, &IID_IUnknown) || IsEqualIID(iid, &IID_IDispatch) || IsEqualIID(iid, &DIID_DXferDeviceEvents)) {
        *out = self;
        self->lpVtbl->AddRef(self);
        return S_OK;
    }
    *out = NULL;
    return E_NOINTERFACE;
}

static ULONG STDMETHODCALLTYPE sink_addref(IDispatch *self)
{
    return (ULONG)InterlockedIncrement(&((Sink *)self)->refs);
}

/* The sink lives on main's stack: the last release frees nothing. */
static ULONG STDMETHODCALLTYPE sink_release(IDispatch *self)
{
    return (ULONG)InterlockedDecrement(&((Sink *)self)->refs);
}

static HRESULT STDMETHODCALLTYPE sink_typeinfo_count(IDispatch *self, UINT *count)
{
    (void)self;
    *count = 0;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE sink_typeinfo(IDispatch *self, UINT index, LCID lcid, ITypeInfo **info)
{
    (void)self, (void)index, (void)lcid;
    *info = NULL;
    return E_NOTIMPL;
}

static HRESULT STDMETHODCALLTYPE sink_ids(IDispatch *self, REFIID iid, LPOLESTR *names, UINT count, LCID lcid,
                                          DISPID *ids)
{
    (void)self, (void)iid, (void)names, (void)count, (void)lcid, (void)ids;
    return DISP_E_UNKNOWNNAME;
}

static double number_of(VARIANT *value)
{
    VARIANT d;
    VariantInit(&d);
    return SUCCEEDED(VariantChangeType(&d, value, 0, VT_R8)) ? d.dblVal : -1;
}

static HRESULT STDMETHODCALLTYPE sink_invoke(IDispatch *self, DISPID id, REFIID iid, LCID lcid, WORD flags,
                                             DISPPARAMS *params, VARIANT *result, EXCEPINFO *exception, UINT *bad)
{
    Sink *sink = (Sink *)self;
    (void)iid, (void)lcid, (void)flags, (void)result, (void)exception, (void)bad;
    if (id != 1)
        return DISP_E_MEMBERNOTFOUND;
    if (params->cArgs != 2)
        return DISP_E_BADPARAMCOUNT;
    /* Arguments come last first: (done, total). */
    sink->calls++;
    sink->done = number_of(&params->rgvarg[1]);
    sink->total = number_of(&params->rgvarg[0]);
    return S_OK;
}

static IDispatchVtbl sink_vtbl = {sink_query,   sink_addref, sink_release, sink_typeinfo_count,
                                  sink_typeinfo, sink_ids,    sink_invoke};

/* Says what failed with the server's description; returns the exit code. */
static int report(const char *step, HRESULT hr)
{
    IErrorInfo *info = NULL;
    BSTR text = NULL;
    if (GetErrorInfo(0, &info) == S_OK) {
        IErrorInfo_GetDescription(info, &text);
        IErrorInfo_Release(info);
    }
    fprintf(stderr, "%s failed: %ls (0x%08lX)\n", step, text ? text : L"no description", (unsigned long)hr);
    SysFreeString(text);
    return 1;
}

static VARIANT text_variant(const wchar_t *text)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(text);
    return v;
}

static VARIANT missing(void)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_ERROR;
    V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
    return v;
}

static VARIANT bool_variant(VARIANT_BOOL value)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = value;
    return v;
}

/* The steps on a created object; returns the exit code. */
static int run(IXferDevice *dev, Sink *sink, const wchar_t *file, const wchar_t *address, const wchar_t *size)
{
    BSTR path = SysAllocString(file);
    VARIANT at = text_variant(address), words = text_variant(size), none = missing(), verify = bool_variant(VARIANT_TRUE);
    VARIANT out;
    HRESULT hr;
    int status = 0;

    VariantInit(&out);
    hr = IXferDevice_ReadToFile(dev, path, at, words, none, &out);
    if (FAILED(hr)) {
        status = report("read", hr);
        goto done;
    }
    printf("read %.0f bytes into %ls\n", number_of(&out), file);
    printf("progress: %ld calls, the last %.0f of %.0f\n", sink->calls, sink->done, sink->total);
    VariantClear(&out);

    hr = IXferDevice_WriteFromFile(dev, path, at, none, none, verify, &out);
    if (FAILED(hr)) {
        status = report("write", hr);
        goto done;
    }
    printf("wrote %.0f bytes of %ls and verified them\n", number_of(&out), file);
    VariantClear(&out);

    hr = IXferDevice_CompareWithFile(dev, path, at, none, none, &out);
    if (FAILED(hr)) {
        status = report("compare", hr);
        goto done;
    }
    if (number_of(&out) < 0)
        printf("compare: the device holds %ls\n", file);
    else
        printf("compare: the device differs from %ls at byte %.0f\n", file, number_of(&out));
done:
    VariantClear(&out);
    VariantClear(&at);
    VariantClear(&words);
    SysFreeString(path);
    return status;
}

int wmain(int argc, wchar_t **argv)
{
    Sink sink = {{&sink_vtbl}, 1, 0, 0, 0};
    IXferDevice *dev = NULL;
    IConnectionPointContainer *container = NULL;
    IConnectionPoint *point = NULL;
    DWORD cookie = 0;
    HRESULT hr;
    int status;

    if (argc < 2 || argc > 4) {
        fprintf(stderr, "usage: vtable_client FILE [ADDRESS] [SIZE]\n");
        return 2;
    }
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    hr = CoCreateInstance(&CLSID_XferDevice, NULL, CLSCTX_INPROC_SERVER, &IID_IXferDevice, (void **)&dev);
    if (FAILED(hr)) {
        fprintf(stderr, "uXfer.Device can't be created (0x%08lX): register uXferAuto.dll of this program's bitness\n",
                (unsigned long)hr);
        CoUninitialize();
        return 1;
    }

    /* Progress arrives through the connection point on the thread of the transfer. */
    hr = IXferDevice_QueryInterface(dev, &IID_IConnectionPointContainer, (void **)&container);
    if (SUCCEEDED(hr)) {
        hr = IConnectionPointContainer_FindConnectionPoint(container, &DIID_DXferDeviceEvents, &point);
        IConnectionPointContainer_Release(container);
    }
    if (SUCCEEDED(hr))
        hr = IConnectionPoint_Advise(point, (IUnknown *)&sink.iface, &cookie);
    if (FAILED(hr)) {
        status = report("advise", hr);
    } else {
        status = run(dev, &sink, argv[1], argc > 2 ? argv[2] : L"0", argc > 3 ? argv[3] : L"4K");
        IConnectionPoint_Unadvise(point, cookie);
    }
    if (point)
        IConnectionPoint_Release(point);
    IXferDevice_Close(dev);
    IXferDevice_Release(dev);
    CoUninitialize();
    return status;
}
