// The application object and the program's message box.  One object of a class
// derived from CWinApp exists per program; the entry point runs its InitInstance.
#pragma once

#include <windows.h>

#include <string>

class CDialog;

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Runs the program's modal dialogs; false ends the program.
    virtual bool InitInstance() = 0;

    HINSTANCE Instance() const { return instance_; }
    // The module's file name without folder and extension; captions message boxes.
    const std::string& AppName() const { return appName_; }
    void SetMainWindow(CDialog* window) { mainWindow_ = window; }
    CDialog* MainWindow() const { return mainWindow_; }

private:
    HINSTANCE instance_;
    std::string appName_;
    CDialog* mainWindow_ = nullptr;
};

CWinApp* AfxGetApp();

// Modal over the main window, captioned with the program's name.
int AfxMessageBox(const char* text, UINT type = MB_OK);
