// A message-only window of the tool's own: the library sends its progress
// messages to one, and the device notifications the library registers for
// arrive at one (they are addressed to the window, not broadcast, so a
// message-only window receives them).
#pragma once

#include <windows.h>

#include <functional>

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
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    Handler handler_;
    const char* failedCall_ = "";
    DWORD error_ = ERROR_SUCCESS;
};

}  // namespace win
