// The platform's file-open dialog.
#pragma once

#include <windows.h>

#include <string>

class CFileDialog {
public:
    // `filter` lists description|pattern pairs, each closed by '|'.
    CFileDialog(const wchar_t* defaultExt, DWORD flags, const wchar_t* filter, HWND owner);
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;

    // IDOK when the user confirmed a file, IDCANCEL otherwise.
    INT_PTR DoModal();
    // The full path chosen, after IDOK, as the user picked it.
    std::wstring GetPathName() const { return path_; }

private:
    std::wstring defaultExt_;
    std::wstring filter_;  // '\0'-separated, as the platform wants it
    DWORD flags_;
    HWND owner_;
    wchar_t path_[MAX_PATH] = {};
};
