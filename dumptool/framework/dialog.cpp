#include "dialog.h"

#include "winapp.h"

void DDX_Text(CDataExchange* dx, int controlId, const std::string& value)
{
    SetDlgItemTextA(dx->Dialog(), controlId, value.c_str());
}

CDialog::CDialog(UINT templateId, HWND parent) : templateId_(templateId), parent_(parent) {}

INT_PTR CDialog::DoModal()
{
    CWinApp* app = AfxGetApp();
    HINSTANCE instance = app ? app->Instance() : GetModuleHandleA(nullptr);
    // Without a parent of its own, a dialog is modal over the main window.
    HWND owner = parent_;
    if (!owner && app && app->MainWindow() && app->MainWindow() != this)
        owner = app->MainWindow()->GetSafeHwnd();
    // A Unicode dialog keeps the template's texts as they are stored, so its
    // Chinese captions read right whatever the system's 8-bit code page is.
    const INT_PTR result =
        DialogBoxParamW(instance, MAKEINTRESOURCEW(templateId_), owner, DialogProc, reinterpret_cast<LPARAM>(this));
    window_ = nullptr;
    return result;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData();
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::UpdateData()
{
    CDataExchange dx(window_);
    DoDataExchange(&dx);
}

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&)
{
    return false;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        dialog->window_ = window;
        return dialog->OnInitDialog();
    }
    auto* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    return dialog ? dialog->Dispatch(message, wParam, lParam) : FALSE;
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result = FALSE;
    if (OnMessage(message, wParam, lParam, result))
        return result;
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED &&
        (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(window_, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}
