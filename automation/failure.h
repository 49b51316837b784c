// How the object reports a failure: an HRESULT of the kind (UXA_E_*, the
// documented Err.Number) and the sentence uxfer prints for it, handed to the
// caller as the thread's error info (Err.Description).
#pragma once

#include <windows.h>

#include <string>

#include "ops/error.h"

namespace automation {

struct Failure {
    HRESULT code = S_OK;
    std::string text;  // UTF-8

    explicit operator bool() const { return FAILED(code); }
};

inline Failure Fail(HRESULT code, std::string text)
{
    return {code, std::move(text)};
}

// The failure of a dump operation's error, by its kind.
Failure FromError(const ops::Error& error);

// Sets the error info of `failure` for the caller; returns its code (S_OK
// when it holds none).
HRESULT Report(const Failure& failure);

// For IDispatch::Invoke: a failure the called member reported becomes
// DISP_E_EXCEPTION with `exception` filled from the thread's error info, the
// way script engines read it.  Other results pass through.
HRESULT AsDispatchResult(HRESULT result, EXCEPINFO* exception);

}  // namespace automation
