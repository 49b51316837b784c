#include "filedialog.h"

#include <commdlg.h>

CFileDialog::CFileDialog(const wchar_t* defaultExt, DWORD flags, const wchar_t* filter, HWND owner)
    : defaultExt_(defaultExt), filter_(filter), flags_(flags), owner_(owner)
{
    for (wchar_t& c : filter_) {
        if (c == L'|')
            c = L'\0';
    }
}

INT_PTR CFileDialog::DoModal()
{
    // The wide dialog gives the name as the file system holds it; an ANSI one
    // would hand back a best-fit look-alike of a name outside the code page.
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner_;
    ofn.lpstrFilter = filter_.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path_;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrDefExt = defaultExt_.c_str();
    ofn.Flags = flags_ | OFN_EXPLORER;
    path_[0] = L'\0';
    return GetOpenFileNameW(&ofn) ? IDOK : IDCANCEL;
}
