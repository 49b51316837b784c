#include "common/processes.h"
#include "win/text.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

namespace {

// CR LF turned into LF; a lone CR (a progress line's return) stays.
std::string WithoutCrLf(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] != '\r' || i + 1 >= text.size() || text[i + 1] != '\n')
            out += text[i];
    return out;
}

std::string TextOf(const std::string& path)
{
    std::string text;
    win::unique_file file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0)
        text.append(chunk, got);
    return WithoutCrLf(text);
}

std::string CaptureFile(const char* stream)
{
    static std::atomic<unsigned> serial{0};
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + "child-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial) +
           "." + stream;
}

HANDLE Inheritable(const std::string& path, bool write)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::string Why32BitProgramsDontRun()
{
    const char* runs = std::getenv("UXFER_RUNS_32BIT");
    if (!runs || std::string(runs) != "0")
        return "";
    const char* why = std::getenv("UXFER_WHY_NO_32BIT");
    return why && *why ? why : "32-bit programs don't run on this machine";
}

std::string ProgramFolder()
{
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string exe(path, n);
    return exe.substr(0, exe.find_last_of('\\') + 1);
}

ChildProcess::~ChildProcess()
{
    if (process_)
        Wait(0);
}

bool ChildProcess::Start(const std::wstring& commandLine, const ChildOptions& options)
{
    using Output = ChildOptions::Output;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    win::unique_file in, out, err;
    if (options.output != Output::Inherited) {
        if (!options.inputPipe)
            in.reset(Inheritable(options.input.empty() ? "NUL" : options.input, false));
        if (options.output == Output::Discarded) {
            out.reset(Inheritable("NUL", true));
        } else {
            outFile_ = CaptureFile("out");
            out.reset(Inheritable(outFile_, true));
        }
        if (options.output == Output::Separate) {
            errFile_ = CaptureFile("err");
            err.reset(Inheritable(errFile_, true));
        }
        if ((!in && !options.inputPipe) || !out || (options.output == Output::Separate && !err))
            return false;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = options.inputPipe ? options.inputPipe : in.get();
        startup.hStdOutput = out.get();
        // Merged or discarded: one file object, so both streams share its position.
        startup.hStdError = err ? err.get() : out.get();
    }
    PROCESS_INFORMATION info{};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, options.output != Output::Inherited, options.flags,
                        nullptr, options.folder.empty() ? nullptr : options.folder.c_str(), &startup, &info))
        return false;
    win::unique_handle thread(info.hThread);
    process_.reset(info.hProcess);
    id_ = info.dwProcessId;
    return true;
}

std::string ChildProcess::ErrorsSoFar() const
{
    return errFile_.empty() ? std::string() : TextOf(errFile_);
}

ChildResult ChildProcess::Wait(DWORD timeoutMs)
{
    ChildResult result;
    if (!process_)
        return result;
    if (WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0) {
        result.finished = GetExitCodeProcess(process_.get(), &result.exitCode) != FALSE;
    } else {
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), 10000);
    }
    process_.reset();
    for (std::string* file : {&outFile_, &errFile_}) {
        if (file->empty())
            continue;
        (file == &outFile_ ? result.out : result.err) = TextOf(*file);
        DeleteFileA(file->c_str());
        file->clear();
    }
    return result;
}

CommandResult RunCommand(const std::string& commandLine, DWORD timeoutMs, const std::string& folder)
{
    CommandResult result;
    ChildOptions options;
    options.output = ChildOptions::Output::Merged;
    options.folder = win::Widen(folder, CP_ACP);
    ChildProcess child;
    if (!child.Start(win::Widen(commandLine, CP_ACP), options))
        return result;
    const ChildResult run = child.Wait(timeoutMs);
    result.finished = run.finished;
    result.exitCode = run.exitCode;
    // Every CR goes, a lone one too.
    result.output = run.out;
    result.output.erase(std::remove(result.output.begin(), result.output.end(), '\r'), result.output.end());
    return result;
}

CommandResult RunProgram(const std::string& exeName, const std::string& arguments, DWORD timeoutMs)
{
    const std::string folder = ProgramFolder();
    return RunCommand("\"" + folder + exeName + "\" " + arguments, timeoutMs, folder);
}
