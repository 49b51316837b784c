#include "automation/auto_support.h"

#include "win/unique_any.h"

const char* const kAutoKeys[6] = {"CLSID\\" UXA_CLSID, "uXfer.Device",          "uXfer.Device.1",
                                  "TypeLib\\" UXA_LIBID, "Interface\\" UXA_IID, "Interface\\" UXA_DIID};

REGSAM OwnView()
{
    return sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

std::string AutoDll()
{
    return ProgramFolder() + "uXferAuto.dll";
}

// A program of this bitness started by one of this bitness finds the
// system folder of its bitness.
int Regsvr32(const std::string& switches)
{
    const CommandResult run = RunCommand("regsvr32.exe /s " + switches + " " + Quoted(AutoDll()));
    return run.finished ? static_cast<int>(run.exitCode) : -1;
}

namespace {

win::unique_hkey OpenClasses(HKEY root, const std::string& key)
{
    win::unique_hkey opened;
    if (RegOpenKeyExA(root, ("Software\\Classes\\" + key).c_str(), 0, KEY_READ | OwnView(), opened.put()) !=
        ERROR_SUCCESS)
        opened.release();
    return opened;
}

}  // namespace

void RemoveAutoRegistration()
{
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        win::unique_hkey classes;
        if (RegOpenKeyExA(root, "Software\\Classes", 0, KEY_ALL_ACCESS | OwnView(), classes.put()) != ERROR_SUCCESS)
            continue;
        for (const char* key : kAutoKeys)
            RegDeleteTreeA(classes.get(), key);
    }
}

std::string ClassesValue(HKEY root, const std::string& key, const char* name)
{
    const win::unique_hkey opened = OpenClasses(root, key);
    char data[1024];
    DWORD size = sizeof data, type = 0;
    if (!opened || RegQueryValueExA(opened.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
                       ERROR_SUCCESS || type != REG_SZ)
        return "<missing>";
    return std::string(data, size > 0 ? size - 1 : 0);
}

bool ClassesKeyExists(HKEY root, const std::string& key)
{
    return OpenClasses(root, key).valid();
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
