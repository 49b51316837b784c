#include "winapp.h"

#include "dialog.h"

namespace {

CWinApp* theApplication = nullptr;

std::string ModuleBaseName(HINSTANCE instance)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(instance, path, MAX_PATH);
    std::string name(path);
    const size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return name;
}

}  // namespace

CWinApp::CWinApp() : instance_(GetModuleHandleA(nullptr)), appName_(ModuleBaseName(instance_))
{
    theApplication = this;
}

CWinApp::~CWinApp()
{
    if (theApplication == this)
        theApplication = nullptr;
}

CWinApp* AfxGetApp()
{
    return theApplication;
}

int AfxMessageBox(const char* text, UINT type)
{
    CWinApp* app = AfxGetApp();
    HWND owner = app && app->MainWindow() ? app->MainWindow()->GetSafeHwnd() : nullptr;
    return MessageBoxA(owner, text, app ? app->AppName().c_str() : nullptr, type);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // There is no message loop here: the program's modal dialogs run inside
    // InitInstance, which returns false to end the program once they closed.
    if (CWinApp* app = AfxGetApp())
        app->InitInstance();
    return 0;
}
