#include "registration_support.h"

#include <vector>

const char kClassKey[] = "HKCR\\CLSID\\" TVX_CLSID;

namespace {

class Handle {
public:
    explicit Handle(HANDLE h = nullptr) : h_(h) {}
    ~Handle()
    {
        if (h_ && h_ != INVALID_HANDLE_VALUE)
            CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return h_; }
    HANDLE* Out() { return &h_; }
    void Close()
    {
        if (h_)
            CloseHandle(h_);
        h_ = nullptr;
    }

private:
    HANDLE h_;
};

std::string WithoutCr(const std::string& text)
{
    std::string out;
    for (char c : text)
        if (c != '\r')
            out += c;
    return out;
}

}  // namespace

CommandResult RunCommand(const std::string& commandLine, DWORD timeoutMs)
{
    CommandResult result;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    Handle readEnd, writeEnd;
    if (!CreatePipe(readEnd.Out(), writeEnd.Out(), &inherit, 0))
        return result;
    SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    Handle nul(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                           nullptr));

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.Get();
    startup.hStdOutput = writeEnd.Get();
    startup.hStdError = writeEnd.Get();
    PROCESS_INFORMATION info{};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
        return result;
    Handle process(info.hProcess), thread(info.hThread);
    writeEnd.Close();

    // Output is drained while the program runs, so a full pipe never stalls it.
    const DWORD start = GetTickCount();
    std::string output;
    for (;;) {
        DWORD available = 0;
        if (PeekNamedPipe(readEnd.Get(), nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            std::vector<char> chunk(available);
            DWORD got = 0;
            if (ReadFile(readEnd.Get(), chunk.data(), available, &got, nullptr))
                output.append(chunk.data(), got);
            continue;
        }
        const DWORD wait = WaitForSingleObject(process.Get(), 10);
        if (wait == WAIT_OBJECT_0) {
            char chunk[4096];
            DWORD got = 0;
            while (PeekNamedPipe(readEnd.Get(), nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
                   ReadFile(readEnd.Get(), chunk, sizeof chunk, &got, nullptr) && got > 0)
                output.append(chunk, got);
            break;
        }
        if (GetTickCount() - start > timeoutMs) {
            TerminateProcess(process.Get(), 1);
            result.output = WithoutCr(output);
            return result;
        }
    }
    result.finished = GetExitCodeProcess(process.Get(), &result.exitCode) != FALSE;
    result.output = WithoutCr(output);
    return result;
}

std::string BinDir()
{
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string exe(path, n);
    return exe.substr(0, exe.find_last_of('\\') + 1);
}

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
    const HANDLE search = FindFirstFileA((path_ + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do
            DeleteFileA((path_ + found.cFileName).c_str());
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path_.c_str());
}

std::string ScratchDir::Copy(const std::string& binFile) const
{
    const std::string target = path_ + binFile;
    CopyFileA((BinDir() + binFile).c_str(), target.c_str(), FALSE);
    return target;
}
