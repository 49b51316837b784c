#include "comserver_reg/registration_support.h"

#include "win/unique_any.h"

const char kClassKey[] = "HKCR\\CLSID\\" TVX_CLSID;

std::string ShortPath(const std::string& path)
{
    char out[MAX_PATH];
    const DWORD n = GetShortPathNameA(path.c_str(), out, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::string(out, n) : path;
}

int Regsvr32(const std::string& dll, bool unregister)
{
    const CommandResult run = RunCommand(std::string("regsvr32.exe /s ") + (unregister ? "/u " : "") + "\"" + dll + "\"");
    return run.finished ? static_cast<int>(run.exitCode) : -1;
}

RegValue QueryValue(const std::string& key, const std::string& name)
{
    RegValue value;
    const CommandResult run =
        RunCommand("reg.exe query \"" + key + "\" " + (name.empty() ? std::string("/ve") : "/v \"" + name + "\""));
    if (!run.finished || run.exitCode != 0)
        return value;
    // "    <name>    <type>    <data>"
    const std::string label = "    " + (name.empty() ? std::string("(Default)") : name) + "    ";
    size_t at = run.output.find(label);
    if (at == std::string::npos)
        return value;
    at += label.size();
    const size_t typeEnd = run.output.find("    ", at);
    const size_t lineEnd = run.output.find('\n', at);
    if (typeEnd == std::string::npos || typeEnd > lineEnd)
        return value;
    value.found = true;
    value.type = run.output.substr(at, typeEnd - at);
    value.data = run.output.substr(typeEnd + 4, lineEnd - typeEnd - 4);
    return value;
}

bool KeyExists(const std::string& key)
{
    const CommandResult run = RunCommand("reg.exe query \"" + key + "\"");
    return run.finished && run.exitCode == 0;
}

std::string QueryTree(const std::string& key)
{
    const CommandResult run = RunCommand("reg.exe query \"" + key + "\" /s");
    return run.finished && run.exitCode == 0 ? run.output : std::string();
}

void RemoveRegistration()
{
    for (const char* key : {"Talvix.TVXDevice", "Talvix.TVXDevice.1", "CLSID\\" TVX_CLSID, "TypeLib\\" TVX_LIBID,
                            "Interface\\" TVX_IID})
        RegDeleteTreeA(HKEY_CLASSES_ROOT, key);
}

ScratchDir::ScratchDir(const std::string& name)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + name + "\\";
    CreateDirectoryA(path_.c_str(), nullptr);
}

ScratchDir::~ScratchDir()
{
    WIN32_FIND_DATAA found;
    win::unique_find search(FindFirstFileA((path_ + "*").c_str(), &found));
    if (search) {
        do
            DeleteFileA((path_ + found.cFileName).c_str());
        while (FindNextFileA(search.get(), &found));
    }
    search.reset();
    RemoveDirectoryA(path_.c_str());
}

std::string ScratchDir::Copy(const std::string& binFile) const
{
    const std::string target = path_ + binFile;
    CopyFileA((ProgramFolder() + binFile).c_str(), target.c_str(), FALSE);
    return target;
}
