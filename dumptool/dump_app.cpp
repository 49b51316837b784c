// Vantor.exe: dumps device memory into a file and writes a file into device
// memory, through the dialog of CDumpDialog.
#include "dump_dialog.h"
#include "framework/winapp.h"

class CDumpApp : public CWinApp {
public:
    bool InitInstance() override
    {
        CDumpDialog dialog;
        SetMainWindow(&dialog);
        dialog.DoModal();
        SetMainWindow(nullptr);
        return false;
    }
};

CDumpApp theApp;
