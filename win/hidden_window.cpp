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
    UnregisterOwnClass();
}

// The class names this image's procedure: a DLL that may be unloaded must
// not leave it behind.
void HiddenWindow::UnregisterOwnClass()
{
    UnregisterClassA(kClassName, ThisImage());
}

bool HiddenWindow::RegisterOwnClass()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = Procedure;
    wc.hInstance = ThisImage();
    wc.lpszClassName = kClassName;
    // A second window of the process finds the class already there.
    return RegisterClassA(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool HiddenWindow::Create(Handler handler)
{
    handler_ = std::move(handler);
    if (!RegisterOwnClass()) {
        failedCall_ = "RegisterClass";
        error_ = GetLastError();
        return false;
    }
    // Cleared first: a failure the system gives no code for must not be
    // reported with an older call's.
    SetLastError(ERROR_SUCCESS);
    window_ = CreateWindowExA(0, kClassName, "uxfer", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              ThisImage(), this);
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

// Without the thread, Create registers the class itself, as it always can.
WindowClassAhead::WindowClassAhead() : thread_(CreateThread(nullptr, 0, Register, nullptr, 0, nullptr)) {}

DWORD WINAPI WindowClassAhead::Register(void*)
{
    return HiddenWindow::RegisterOwnClass() ? 0 : 1;
}

WindowClassAhead::~WindowClassAhead()
{
    Ready();
    HiddenWindow::UnregisterOwnClass();
}

void WindowClassAhead::Ready()
{
    if (thread_)
        WaitForSingleObject(thread_.get(), INFINITE);
    thread_.reset();
}

}  // namespace win
