#include "dumptool/vantor_session.h"

#include <tlhelp32.h>

#include <vector>

#include "dumptool/test_files.h"
#include "win/text.h"

namespace dumptest {

namespace {

const char kDialogClass[] = "#32770";

struct WindowSearch {
    DWORD processId;
    const char* className;
    HWND except;
    HWND found;
};

BOOL CALLBACK FindWindowOf(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char cls[16] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (window != search->except && owner == search->processId && IsWindowVisible(window) &&
        std::string(cls) == search->className) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// A visible top-level window of the process and class, other than `except`.
HWND FindTopWindow(DWORD processId, const char* className, HWND except)
{
    WindowSearch search{processId, className, except, nullptr};
    EnumWindows(FindWindowOf, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

DWORD ChildOf(DWORD parent, const char* exeName)
{
    win::unique_file snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL more = Process32First(snapshot.get(), &entry); more && !found;
         more = Process32Next(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID == parent && lstrcmpiA(entry.szExeFile, exeName) == 0)
            found = entry.th32ProcessID;
    }
    return found;
}

template <typename Condition>
bool WaitFor(DWORD timeoutMs, Condition condition)
{
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

}  // namespace

VantorSession::~VantorSession()
{
    if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
        if (Close() < 0)
            TerminateProcess(process_.get(), 1);
    }
    launcher_.Wait(5000);
}

bool VantorSession::Start(const std::string& vantorFolder, bool shim)
{
    const std::string folder = ProgramFolder();
    const std::string vantor = vantorFolder.empty() ? folder.substr(0, folder.size() - 1) : vantorFolder;
    const std::string program = "\"" + vantor + "\\Vantor.exe\"";
    const std::string commandLine = shim ? "\"" + folder + "vdevrun.exe\" " + program : program;
    ChildOptions options;
    options.output = ChildOptions::Output::Inherited;
    options.folder = win::Widen(vantor, CP_ACP);
    if (!launcher_.Start(win::Widen(commandLine, CP_ACP), options))
        return false;
    if (!shim)
        processId_ = launcher_.Id();
    else if (!WaitFor(10000, [&] { return (processId_ = ChildOf(launcher_.Id(), "Vantor.exe")) != 0; }))
        return false;
    process_.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, processId_));
    return process_ && WaitFor(15000, [&] { return (dialog_ = FindTopWindow(processId_, kDialogClass, nullptr)) != nullptr; });
}

std::wstring VantorSession::Text(HWND window) const
{
    wchar_t text[1024] = {};
    DWORD_PTR copied = 0;
    if (!window || !SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                                        5000, &copied))
        return L"";
    return std::wstring(text, copied);
}

void VantorSession::Click(int id) const
{
    Click(dialog_, id);
}

void VantorSession::Click(HWND window, int id) const
{
    PostMessageW(GetDlgItem(window, id), BM_CLICK, 0, 0);
}

HWND VantorSession::WaitPopup(DWORD timeoutMs, const char* className) const
{
    HWND popup = nullptr;
    WaitFor(timeoutMs, [&] { return (popup = FindTopWindow(processId_, className, dialog_)) != nullptr; });
    return popup;
}

std::wstring VantorSession::TakeMessage(std::wstring* caption)
{
    HWND box = WaitPopup();
    if (!box)
        return L"";
    const std::wstring text = Text(GetDlgItem(box, 0xFFFF));
    if (caption)
        *caption = Text(box);
    Click(box, IDOK);
    WaitHandlerDone(box);
    return text;
}

bool VantorSession::WaitHandlerDone(HWND popup, DWORD timeoutMs) const
{
    if (!WaitFor(timeoutMs, [&] { return !IsWindow(popup); }))
        return false;
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutW(dialog_, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &ignored) != 0;
}

bool VantorSession::ChooseFile(HWND picker, const std::wstring& path) const
{
    // The file-name box is an edit control (edt1), or a combo box (cmb13),
    // possibly an extended one, holding one.
    HWND edit = GetDlgItem(picker, 0x480);
    if (!edit) {
        HWND combo = GetDlgItem(picker, 0x47C);
        HWND inner = combo ? FindWindowExA(combo, nullptr, "ComboBox", nullptr) : nullptr;
        edit = combo ? FindWindowExA(inner ? inner : combo, nullptr, "Edit", nullptr) : nullptr;
    }
    if (!edit)
        return false;
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), SMTO_NORMAL, 5000,
                             &ignored))
        return false;
    Click(picker, IDOK);
    return WaitHandlerDone(picker);
}

void VantorSession::CancelPicker(HWND picker) const
{
    Click(picker, IDCANCEL);
    WaitHandlerDone(picker);
}

long VantorSession::Close()
{
    PostMessageW(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0);
    if (WaitForSingleObject(process_.get(), 10000) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return static_cast<long>(code);
}

bool SaveScreenshot(const std::string& windowsPath)
{
    using UnixName = char*(CDECL*)(const wchar_t*);
    auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    char display[64] = {};
    if (!unixName || !GetEnvironmentVariableA("DISPLAY", display, sizeof display))
        return false;
    std::wstring wide(windowsPath.begin(), windowsPath.end());
    char* target = unixName(wide.c_str());
    if (!target)
        return false;
    const std::string png(target);
    HeapFree(GetProcessHeap(), 0, target);

    // The shell is a host program: started without a handle to wait on, so the
    // picture is written under another name and renamed once complete.
    DeleteFileA(windowsPath.c_str());
    const std::string command = "/bin/sh -c \"import -display " + std::string(display) + " -window root '" + png +
                          ".part.png' && mv '" + png + ".part.png' '" + png + "'\"";
    ChildOptions options;
    options.output = ChildOptions::Output::Inherited;
    ChildProcess shell;
    if (!shell.Start(win::Widen(command, CP_ACP), options))
        return false;
    return WaitFor(20000, [&] { return Exists(windowsPath); });
}

}  // namespace dumptest
