// A message-only window of the tool's own: the library sends its progress
// messages to one, and the device notifications the library registers for
// arrive at one (they are addressed to the window, not broadcast, so a
// message-only window receives them).
#pragma once

#include <windows.h>

#include <functional>

#include "win/unique_any.h"

namespace win {

class HiddenWindow {
public:
    // Returns true when it handled the message and set the result.
    using Handler = std::function<bool(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)>;

    HiddenWindow() = default;
    ~HiddenWindow();
    HiddenWindow(const HiddenWindow&) = delete;
    HiddenWindow& operator=(const HiddenWindow&) = delete;

    // False: the window can't be made; FailedCall() and Error() say why.
    bool Create(Handler handler);
    HWND Handle() const { return window_; }
    // The call that failed ("RegisterClass", "CreateWindowEx") and its error,
    // taken at once: 0 when the system gave none.
    const char* FailedCall() const { return failedCall_; }
    DWORD Error() const { return error_; }

private:
    friend class WindowClassAhead;
    static bool RegisterOwnClass();
    // Fails, harmlessly, while a window uses the class.
    static void UnregisterOwnClass();
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    Handler handler_;
    const char* failedCall_ = "";
    DWORD error_ = ERROR_SUCCESS;
};

// The window class registered on a thread of its own from construction on.
// A process's first window class sets up the window system, which under Wine
// loads the display driver and the theme library (tens of milliseconds, more
// when Wine's desktop has to start): done ahead, it overlaps what the caller
// does meanwhile, such as opening the device.  Ready() waits for it; a
// HiddenWindow made after that finds the class there.  The class goes with
// the last of them.
class WindowClassAhead {
public:
    WindowClassAhead();
    ~WindowClassAhead();
    WindowClassAhead(const WindowClassAhead&) = delete;
    WindowClassAhead& operator=(const WindowClassAhead&) = delete;

    void Ready();

private:
    static DWORD WINAPI Register(void*);

    unique_handle thread_;
};

}  // namespace win
