#include "failure.h"

#include "uXferAuto.h"
#include "win/text.h"

namespace automation {

namespace {
const wchar_t kSource[] = L"uXfer.Device";
}

Failure FromError(const ops::Error& error)
{
    switch (error.kind) {
    case ops::Kind::None:
        return {};
    case ops::Kind::Usage:
        return Fail(UXA_E_ARGUMENT, error.text);
    case ops::Kind::NoDevice:
        return Fail(UXA_E_NO_DEVICE, error.text);
    case ops::Kind::Device:
        return Fail(UXA_E_DEVICE, error.text);
    case ops::Kind::Timeout:
        return Fail(UXA_E_TIMEOUT, error.text);
    case ops::Kind::File:
        return Fail(UXA_E_FILE, error.text);
    case ops::Kind::Mismatch:
        return Fail(UXA_E_MISMATCH, error.text);
    case ops::Kind::NoMemory:
        return Fail(UXA_E_NO_MEMORY, error.text);
    case ops::Kind::Busy:
        return Fail(UXA_E_BUSY, error.text);
    case ops::Kind::Cancelled:
        break;
    }
    return Fail(UXA_E_CANCELLED, error.text);
}

HRESULT Report(const Failure& failure)
{
    if (!failure)
        return S_OK;
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        create->SetGUID(IID_IXferDevice);
        create->SetSource(const_cast<LPOLESTR>(kSource));
        std::wstring text = win::Widen(failure.text, CP_UTF8);
        create->SetDescription(&text[0]);
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    return failure.code;
}

HRESULT AsDispatchResult(HRESULT result, EXCEPINFO* exception)
{
    if (SUCCEEDED(result) || result == DISP_E_EXCEPTION || HRESULT_FACILITY(result) != FACILITY_ITF || !exception)
        return result;
    *exception = EXCEPINFO{};
    exception->scode = result;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        info->GetSource(&exception->bstrSource);
        info->GetDescription(&exception->bstrDescription);
        info->Release();
    } else {
        exception->bstrSource = SysAllocString(kSource);
    }
    return DISP_E_EXCEPTION;
}

}  // namespace automation
