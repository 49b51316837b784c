// The platform's file-open dialog.
#pragma once

#include <windows.h>

#include <string>

class CFileDialog {
public:
    // `filter` lists description|pattern pairs, each closed by '|'.
    CFileDialog(const char* defaultExt, DWORD flags, const char* filter, HWND owner);
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;

    // IDOK when the user confirmed a file, IDCANCEL otherwise.
    INT_PTR DoModal();
    // The full path chosen, after IDOK.
    std::string GetPathName() const { return path_; }

private:
    std::string defaultExt_;
    std::string filter_;  // '\0'-separated, as the platform wants it
    DWORD flags_;
    HWND owner_;
    char path_[MAX_PATH] = {};
};
