#include "dump_dialog.h"

#include "flows.h"
#include "framework/filedialog.h"
#include "framework/winapp.h"
#include "resource.h"

namespace {

// Vantor keeps file names in its ANSI settings file: a name that changes on
// the way there would name another file.
const char kNameNotAnsi[] =
    "The file name can't be used: it has characters outside the system code page, and DumpSet.ini can "
    "only hold names made of those. Pick a file whose name uses only characters of the system code page.";

class MessageBoxReporter : public dump::Reporter {
public:
    void Show(dump::Outcome outcome) override { AfxMessageBox(dump::OutcomeText(outcome), MB_OK); }
};

}  // namespace

CDumpDialog::CDumpDialog(HWND parent)
    : CDialog(IDD_DUMP_DIALOG, parent), icon_(LoadIconA(AfxGetApp()->Instance(), MAKEINTRESOURCEA(IDR_MAINFRAME)))
{
}

void CDumpDialog::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, IDC_SUMMARY, summary_);
    DDX_Text(dx, IDC_FOR_READ, settings_.forRead);
    DDX_Text(dx, IDC_FOR_WRITE, settings_.forWrite);
}

BOOL CDumpDialog::OnInitDialog()
{
    CDialog::OnInitDialog();

    // The resource text goes into the menu as it is stored, so the entry reads
    // right whatever the system's 8-bit code page is.
    if (HMENU menu = GetSystemMenu(GetSafeHwnd(), FALSE)) {
        const wchar_t* about = nullptr;
        const int length = LoadStringW(AfxGetApp()->Instance(), IDS_ABOUTBOX, reinterpret_cast<LPWSTR>(&about), 0);
        if (length > 0) {
            const std::wstring text(about, length);
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, text.c_str());
        }
    }

    SendMessageA(GetSafeHwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageA(GetSafeHwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

    settings_ = dump::LoadSettings();
    summary_ = dump::ComposeSummary(settings_);
    UpdateData();
    return TRUE;
}

bool CDumpDialog::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result)
{
    switch (message) {
    case WM_SYSCOMMAND:
        return OnSysCommand(wParam);
    case WM_PAINT:
        return OnPaint();
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<INT_PTR>(icon_);
        return true;
    case WM_COMMAND:
        return HIWORD(wParam) == BN_CLICKED && OnCommand(LOWORD(wParam));
    }
    return false;
}

bool CDumpDialog::OnSysCommand(WPARAM command)
{
    if ((command & 0xFFF0) != IDM_ABOUTBOX)
        return false;
    CAboutBox about;
    about.DoModal();
    return true;
}

bool CDumpDialog::OnPaint()
{
    if (!IsIconic(GetSafeHwnd()))
        return false;
    CPaintDC dc(GetSafeHwnd());
    SendMessageA(GetSafeHwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int iconWidth = GetSystemMetrics(SM_CXICON);
    const int iconHeight = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(GetSafeHwnd(), &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    DrawIcon(dc.GetSafeHdc(), x, y, icon_);
    return true;
}

bool CDumpDialog::OnCommand(WORD id)
{
    MessageBoxReporter reporter;
    switch (id) {
    case IDC_READ:
        dump::ReadFlow(settings_, reporter);
        return true;
    case IDC_WRITE:
        dump::WriteFlow(settings_, reporter);
        return true;
    case IDC_PICK_FOR_READ:
        PickFile(settings_.forRead, dump::kKeyForRead);
        return true;
    case IDC_PICK_FOR_WRITE:
        PickFile(settings_.forWrite, dump::kKeyForWrite);
        return true;
    }
    return false;
}

void CDumpDialog::PickFile(std::string& path, const char* key)
{
    CFileDialog picker(L"*.*", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, L"All Files (*.*)|*.*|", GetSafeHwnd());
    if (picker.DoModal() != IDOK)
        return;
    const std::wstring picked = picker.GetPathName();
    std::string name;
    if (!dump::AnsiName(picked, name)) {
        AfxMessageBox(kNameNotAnsi, MB_OK);
        return;
    }
    path = name;
    // The summary keeps the values loaded at start; only the path static changes.
    UpdateData();
    dump::StorePath(key, picked);
}

CAboutBox::CAboutBox() : CDialog(IDD_ABOUTBOX) {}
