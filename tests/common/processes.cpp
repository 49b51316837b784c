#include "processes.h"

#include <vector>

namespace {

class Handle {
public:
    explicit Handle(HANDLE h = nullptr) : h_(h) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return h_; }
    HANDLE* Out() { return &h_; }
    void Close()
    {
        if (h_ && h_ != INVALID_HANDLE_VALUE)
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

std::string ProgramFolder()
{
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string exe(path, n);
    return exe.substr(0, exe.find_last_of('\\') + 1);
}

CommandResult RunCommand(const std::string& commandLine, DWORD timeoutMs, const std::string& folder)
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
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, folder.empty() ? nullptr : folder.c_str(),
                        &startup, &info))
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

CommandResult RunProgram(const std::string& exeName, const std::string& arguments, DWORD timeoutMs)
{
    const std::string folder = ProgramFolder();
    return RunCommand("\"" + folder + exeName + "\" " + arguments, timeoutMs, folder);
}
