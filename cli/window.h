// A window of the tool's own that nobody sees: the library sends its progress
// messages to one, and device notifications arrive at one.
#pragma once

#include <windows.h>

#include <functional>

namespace uxfer {

class HiddenWindow {
public:
    // Returns true when it handled the message and set the result.
    using Handler = std::function<bool(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)>;

    HiddenWindow() = default;
    ~HiddenWindow();
    HiddenWindow(const HiddenWindow&) = delete;
    HiddenWindow& operator=(const HiddenWindow&) = delete;

    // messageOnly: a message-only window, which only ever gets messages sent
    // or posted to it; otherwise a top-level window that is never shown.
    bool Create(bool messageOnly, Handler handler);
    HWND Handle() const { return window_; }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    Handler handler_;
};

}  // namespace uxfer
