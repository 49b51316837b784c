// Runs Vantor.exe through the launcher (so the pipe shim is in it) and drives
// its dialog from outside, the way a user would: buttons, message boxes, the
// file picker, the system menu.
#pragma once

#include <windows.h>

#include <string>

#include "common/processes.h"
#include "win/unique_any.h"

namespace dumptest {

class VantorSession {
public:
    VantorSession() = default;
    ~VantorSession();
    VantorSession(const VantorSession&) = delete;
    VantorSession& operator=(const VantorSession&) = delete;

    // Starts "vdevrun.exe Vantor.exe" and waits for the dialog.  The launcher
    // comes from this program's folder, Vantor.exe from `vantorFolder` (by
    // default the same folder).  Without `shim`, Vantor.exe is started by
    // itself, as on a machine without the virtual device.
    bool Start(const std::string& vantorFolder = "", bool shim = true);
    HWND Dialog() const { return dialog_; }

    std::wstring Text(HWND window) const;
    std::wstring ControlText(int id) const { return Text(GetDlgItem(dialog_, id)); }
    // Posts a click: a handler that shows a modal box would block a sent one.
    void Click(int id) const;
    void Click(HWND window, int id) const;

    // A new top-level window of the program other than the main dialog: by
    // default a dialog (message box, picker, About box); "#32768" is a menu.
    // Null after the timeout.
    HWND WaitPopup(DWORD timeoutMs = 10000, const char* className = "#32770") const;
    // Reads the text of the message box that the last click brought up and
    // presses its OK; empty when none came.
    std::wstring TakeMessage(std::wstring* caption = nullptr);
    // Waits until the popup is gone and the dialog is back in its own loop:
    // the handler that showed the popup has returned.
    bool WaitHandlerDone(HWND popup, DWORD timeoutMs = 10000) const;

    // Types a path into a file picker and confirms it, or cancels it.
    bool ChooseFile(HWND picker, const std::wstring& path) const;
    void CancelPicker(HWND picker) const;

    // Ends the dialog through its system menu and returns the program's exit
    // code, or -1 when it did not end.
    long Close();

private:
    ChildProcess launcher_;
    win::unique_handle process_;
    DWORD processId_ = 0;
    HWND dialog_ = nullptr;
};

// A PNG of the whole screen, taken by the X server's own tool.
bool SaveScreenshot(const std::string& windowsPath);

}  // namespace dumptest
