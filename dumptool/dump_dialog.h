// The dump tool's main dialog and its About box.
#pragma once

#include <string>

#include "framework/dialog.h"
#include "settings.h"

class CDumpDialog : public CDialog {
public:
    explicit CDumpDialog(HWND parent = nullptr);

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    bool OnSysCommand(WPARAM command);
    bool OnPaint();
    bool OnCommand(WORD id);
    void PickFile(std::string& path, const char* key);

    std::string summary_;
    dump::DumpSettings settings_;
    HICON icon_;
};

class CAboutBox : public CDialog {
public:
    CAboutBox();
};
