// Modal dialogs from a dialog template, with text exchange into controls and
// message handlers.
#pragma once

#include <windows.h>

#include <string>

// Pushes member texts into the controls of a dialog.  Nothing reads controls
// back: the program's dialogs only display values.
class CDataExchange {
public:
    explicit CDataExchange(HWND dialog) : dialog_(dialog) {}
    HWND Dialog() const { return dialog_; }

private:
    HWND dialog_;
};

void DDX_Text(CDataExchange* dx, int controlId, const std::string& value);

class CDialog {
public:
    explicit CDialog(UINT templateId, HWND parent = nullptr);
    virtual ~CDialog() = default;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Shows the dialog and returns the code it was ended with, or -1 when the
    // template could not be loaded.
    INT_PTR DoModal();
    HWND GetSafeHwnd() const { return window_; }

protected:
    // After the window exists: pushes the members into the controls.  True lets
    // the platform put the focus on the first tab stop.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* dx);
    void UpdateData();

    // A message for the derived dialog.  True when handled, with `result` what
    // the dialog procedure returns; false for default processing.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);
    // IDOK and IDCANCEL (a default button, Esc, the close box) end the dialog
    // with that code unless OnMessage handled them.

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    UINT templateId_;
    HWND parent_;
    HWND window_ = nullptr;
};

// Paint context of a window for one WM_PAINT.
class CPaintDC {
public:
    explicit CPaintDC(HWND window) : window_(window) { dc_ = BeginPaint(window_, &paint_); }
    ~CPaintDC() { EndPaint(window_, &paint_); }
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    HDC GetSafeHdc() const { return dc_; }

private:
    HWND window_;
    PAINTSTRUCT paint_ = {};
    HDC dc_;
};
