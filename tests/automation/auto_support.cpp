#include "automation/auto_support.h"

#include "common/system_folders.h"
#include "win/text.h"
#include "win/unique_any.h"

const char* const kAutoKeys[9] = {"CLSID\\" UXA_CLSID,     "uXfer.Device",          "uXfer.Device.1",
                                  "CLSID\\" UXA_SIM_CLSID, "uXfer.SimDevice",       "uXfer.SimDevice.1",
                                  "TypeLib\\" UXA_LIBID,    "Interface\\" UXA_IID, "Interface\\" UXA_DIID};

REGSAM OwnView()
{
    return sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

std::string AutoDll()
{
    return ProgramFolder() + "uXferAuto.dll";
}

std::string HooksDll()
{
    return ProgramFolder() + "uXferAutoHooks.dll";
}

// A program of this bitness started by one of this bitness finds the
// system folder of its bitness.
int Regsvr32(const std::string& switches, const std::string& dll, const std::string& folder)
{
    const CommandResult run = RunCommand("regsvr32.exe /s " + switches + " " + Quoted(dll), 60000, folder);
    return run.finished ? static_cast<int>(run.exitCode) : -1;
}

REGSAM OtherView()
{
    return sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

bool OtherBitnessRuns(std::string& why)
{
    why = sizeof(void*) == 8 ? Why32BitProgramsDontRun() : UnderWow64() ? "" : "32-bit Windows has no 64-bit programs";
    return why.empty();
}

// The 32-bit DLL lies in bin\, the 64-bit one in bin\x64\; a 32-bit program
// reaches the 64-bit system folder as Sysnative.
int OtherRegsvr32(const std::string& switches)
{
    const std::string bin = ProgramFolder(), windows = WindowsFolder();
    const std::string dll = sizeof(void*) == 8 ? bin.substr(0, bin.size() - 4) : bin + "x64\\";
    const CommandResult run = RunCommand(Quoted(windows + (sizeof(void*) == 8 ? "\\SysWOW64" : "\\Sysnative") +
                                                "\\regsvr32.exe") +
                                         " /s " + switches + " " + Quoted(dll + "uXferAuto.dll"));
    return run.finished ? static_cast<int>(run.exitCode) : -1;
}

namespace {

win::unique_hkey OpenClasses(HKEY root, const std::string& key, REGSAM view)
{
    win::unique_hkey opened;
    if (RegOpenKeyExA(root, ("Software\\Classes\\" + key).c_str(), 0, KEY_READ | view, opened.put()) !=
        ERROR_SUCCESS)
        opened.release();
    return opened;
}

}  // namespace

void RemoveAutoRegistration()
{
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
        for (REGSAM view : {OwnView(), OtherView()}) {
            win::unique_hkey classes;
            if (RegOpenKeyExA(root, "Software\\Classes", 0, KEY_ALL_ACCESS | view, classes.put()) != ERROR_SUCCESS)
                continue;
            for (const char* key : kAutoKeys)
                RegDeleteTreeA(classes.get(), key);
        }
}

std::string ClassesValue(HKEY root, const std::string& key, const char* name, REGSAM view)
{
    const win::unique_hkey opened = OpenClasses(root, key, view);
    char data[1024];
    DWORD size = sizeof data, type = 0;
    if (!opened || RegQueryValueExA(opened.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
                       ERROR_SUCCESS || type != REG_SZ)
        return "<missing>";
    return std::string(data, size > 0 ? size - 1 : 0);
}

bool ClassesKeyExists(HKEY root, const std::string& key, REGSAM view)
{
    return OpenClasses(root, key, view).valid();
}

CommandResult RunLaunched(const std::string& commandLine, const std::string& folder)
{
    return RunCommand(Quoted(ProgramFolder() + "vdevrun.exe") + " " + commandLine, 120000, folder);
}

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

VARIANT Text(const wchar_t* text)
{
    VARIANT v;
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(text);
    return v;
}

VARIANT Number(LONG number)
{
    VARIANT v;
    V_VT(&v) = VT_I4;
    V_I4(&v) = number;
    return v;
}

Outcome Call(IDispatch* dev, const wchar_t* name, std::vector<VARIANT> args)
{
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    Outcome outcome{dev->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), VT_EMPTY, ""};
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    VARIANT value;
    VariantInit(&value);
    EXCEPINFO exception{};
    if (SUCCEEDED(outcome.result))
        outcome.result = dev->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &value, &exception,
                                     nullptr);
    if (outcome.result == DISP_E_EXCEPTION) {
        outcome.result = exception.scode;
        if (exception.bstrDescription)
            outcome.description = win::Narrow(exception.bstrDescription, CP_UTF8);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrHelpFile);
    }
    outcome.type = V_VT(&value);
    VariantClear(&value);
    for (VARIANT& arg : args)
        VariantClear(&arg);
    return outcome;
}
