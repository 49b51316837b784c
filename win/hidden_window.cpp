#include "win/hidden_window.h"

// This image's own handle, whichever program or DLL it is linked into.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace win {

namespace {
const char kClassName[] = "uxferHiddenWindow";

HINSTANCE ThisImage()
{
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}
}  // namespace

HiddenWindow::~HiddenWindow()
{
    if (!window_)
        return;
    DestroyWindow(window_);
    // The class names this image's procedure: a DLL that may be unloaded
    // must not leave it behind.  Fails, harmlessly, while other windows use it.
    UnregisterClassA(kClassName, ThisImage());
}

bool HiddenWindow::Create(Handler handler)
{
    handler_ = std::move(handler);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = Procedure;
    wc.hInstance = ThisImage();
    wc.lpszClassName = kClassName;
    // A second window of the process finds the class already there.
    if (!RegisterClassA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        failedCall_ = "RegisterClass";
        error_ = GetLastError();
        return false;
    }
    // Cleared first: a failure the system gives no code for must not be
    // reported with an older call's.
    SetLastError(ERROR_SUCCESS);
    window_ = CreateWindowExA(0, kClassName, "uxfer", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              wc.hInstance, this);
    if (!window_) {
        failedCall_ = "CreateWindowEx";
        error_ = GetLastError();
    }
    return window_ != nullptr;
}

LRESULT CALLBACK HiddenWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<HiddenWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    LRESULT result = 0;
    if (self && self->handler_ && self->handler_(message, wParam, lParam, result))
        return result;
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace win
