#include "filedialog.h"

#include <commdlg.h>

CFileDialog::CFileDialog(const char* defaultExt, DWORD flags, const char* filter, HWND owner)
    : defaultExt_(defaultExt), filter_(filter), flags_(flags), owner_(owner)
{
    for (char& c : filter_) {
        if (c == '|')
            c = '\0';
    }
}

INT_PTR CFileDialog::DoModal()
{
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner_;
    ofn.lpstrFilter = filter_.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path_;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrDefExt = defaultExt_.c_str();
    ofn.Flags = flags_ | OFN_EXPLORER;
    path_[0] = '\0';
    return GetOpenFileNameA(&ofn) ? IDOK : IDCANCEL;
}
