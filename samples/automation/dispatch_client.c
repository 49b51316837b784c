/* dispatch_client: a late-bound client of uXfer.Device, as a script engine
 * is one: the object by its ProgID, every member by name through
 * IDispatch::GetIDsOfNames and Invoke, no header of the server.
 *
 *   dispatch_client FILE [ADDRESS] [SIZE]
 *
 * Reads SIZE words (default 4K) from ADDRESS (default 0) into FILE, writes
 * FILE back with verification, then compares the device with it.  A failure
 * prints the EXCEPINFO the server filled in.  Exit code 0 on success, 1 on a
 * failure, 2 for bad usage. */
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <windows.h>
#include <oleauto.h>

#define MAX_ARGS 5

/* Calls a method by name with its arguments in their natural order; prints
 * what failed, with the server's EXCEPINFO when it gave one. */
static HRESULT call(IDispatch *dev, const wchar_t *name, VARIANT *args, UINT count, VARIANT *result)
{
    VARIANT reversed[MAX_ARGS];
    DISPPARAMS params = {reversed, NULL, count, 0};
    EXCEPINFO exception;
    LPOLESTR names[1] = {(LPOLESTR)name};
    DISPID id;
    UINT i;
    HRESULT hr = dev->lpVtbl->GetIDsOfNames(dev, &IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        fprintf(stderr, "%ls: no such member (0x%08lX)\n", name, (unsigned long)hr);
        return hr;
    }
    /* Invoke takes the arguments last first. */
    for (i = 0; i < count; i++)
        reversed[i] = args[count - 1 - i];
    memset(&exception, 0, sizeof exception);
    hr = dev->lpVtbl->Invoke(dev, id, &IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, &exception,
                             NULL);
    if (hr == DISP_E_EXCEPTION) {
        if (exception.pfnDeferredFillIn)
            exception.pfnDeferredFillIn(&exception);
        fprintf(stderr, "%ls failed: %ls (0x%08lX, source %ls)\n", name,
                exception.bstrDescription ? exception.bstrDescription : L"no description",
                (unsigned long)exception.scode, exception.bstrSource ? exception.bstrSource : L"none");
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrHelpFile);
    } else if (FAILED(hr)) {
        fprintf(stderr, "%ls failed (0x%08lX)\n", name, (unsigned long)hr);
    }
    return hr;
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

static double number_of(VARIANT *value)
{
    VARIANT d;
    VariantInit(&d);
    return SUCCEEDED(VariantChangeType(&d, value, 0, VT_R8)) ? d.dblVal : -1;
}

/* The steps on a created object; returns the exit code. */
static int run(IDispatch *dev, const wchar_t *file, const wchar_t *address, const wchar_t *size)
{
    VARIANT args[MAX_ARGS], out;
    int status = 1;

    args[0] = text_variant(file);
    args[1] = text_variant(address);
    args[2] = text_variant(size);
    VariantInit(&out);
    if (FAILED(call(dev, L"ReadToFile", args, 3, &out)))
        goto done;
    printf("read %.0f bytes into %ls\n", number_of(&out), file);
    VariantClear(&out);

    /* WriteFromFile(path, address, [size], [mode], verify): the file's length gives the size. */
    VariantClear(&args[2]);
    args[2] = missing();
    args[3] = missing();
    VariantInit(&args[4]);
    V_VT(&args[4]) = VT_BOOL;
    V_BOOL(&args[4]) = VARIANT_TRUE;
    if (FAILED(call(dev, L"WriteFromFile", args, 5, &out)))
        goto done;
    printf("wrote %.0f bytes of %ls and verified them\n", number_of(&out), file);
    VariantClear(&out);

    if (FAILED(call(dev, L"CompareWithFile", args, 2, &out)))
        goto done;
    if (number_of(&out) < 0)
        printf("compare: the device holds %ls\n", file);
    else
        printf("compare: the device differs from %ls at byte %.0f\n", file, number_of(&out));
    status = 0;
done:
    VariantClear(&out);
    VariantClear(&args[0]);
    VariantClear(&args[1]);
    VariantClear(&args[2]);
    return status;
}

int wmain(int argc, wchar_t **argv)
{
    CLSID clsid;
    IDispatch *dev = NULL;
    HRESULT hr;
    int status;

    if (argc < 2 || argc > 4) {
        fprintf(stderr, "usage: dispatch_client FILE [ADDRESS] [SIZE]\n");
        return 2;
    }
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    hr = CLSIDFromProgID(L"uXfer.Device", &clsid);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(&clsid, NULL, CLSCTX_INPROC_SERVER, &IID_IDispatch, (void **)&dev);
    if (FAILED(hr)) {
        fprintf(stderr, "uXfer.Device can't be created (0x%08lX): register uXferAuto.dll of this program's bitness\n",
                (unsigned long)hr);
        CoUninitialize();
        return 1;
    }
    status = run(dev, argv[1], argc > 2 ? argv[2] : L"0", argc > 3 ? argv[3] : L"4K");
    call(dev, L"Close", NULL, 0, NULL);
    dev->lpVtbl->Release(dev);
    CoUninitialize();
    return status;
}
