#include "uxfer_run.h"

#include <algorithm>
#include <atomic>

#include "common/processes.h"
#include "dump/text.h"
#include "uXfer.h"
#include "vdev_shim.h"

namespace {

// CR LF turned into LF; a lone CR (the progress line's return) stays.
std::string WithoutCr(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] != '\r' || i + 1 >= text.size() || text[i + 1] != '\n')
            out += text[i];
    return out;
}

std::string TextOf(const std::string& path)
{
    const std::vector<uint8_t> bytes = dumptest::ReadAll(path);
    return WithoutCr(std::string(bytes.begin(), bytes.end()));
}

std::string CaptureFile(const char* stream)
{
    static std::atomic<unsigned> serial{0};
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + "uxfer-test-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++serial) + "." + stream;
}

HANDLE Inheritable(const std::string& path, bool write)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::string Quoted(const std::string& path)
{
    return "\"" + path + "\"";
}

UxferProcess::~UxferProcess()
{
    if (process_.valid())
        Wait(0);
}

bool UxferProcess::Start(const std::string& arguments, const std::string& input, DWORD flags)
{
    // Every program this test starts gets the pipe shim, as vdevrun's programs do.
    if (!VdevShimFollowChildren((ProgramFolder() + "vdevshim.dll").c_str()))
        return false;
    outFile_ = CaptureFile("out");
    errFile_ = CaptureFile("err");
    FileHandle in(Inheritable(input.empty() ? "NUL" : input, false));
    FileHandle out(Inheritable(outFile_, true)), err(Inheritable(errFile_, true));
    if (!in.valid() || !out.valid() || !err.valid())
        return false;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in.get();
    startup.hStdOutput = out.get();
    startup.hStdError = err.get();
    PROCESS_INFORMATION info{};
    // The program folder is ANSI, the arguments UTF-8.
    std::wstring line = dump::Widen(Quoted(ProgramFolder() + "uxfer.exe"), CP_ACP) + L" " + dump::Widen(arguments, CP_UTF8);
    const std::wstring folder = dump::Widen(ProgramFolder(), CP_ACP);
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, flags, nullptr, folder.c_str(), &startup, &info))
        return false;
    CloseHandle(info.hThread);
    process_.reset(info.hProcess);
    id_ = info.dwProcessId;
    return true;
}

std::string UxferProcess::ErrorsSoFar() const
{
    return TextOf(errFile_);
}

UxferResult UxferProcess::Wait(DWORD timeoutMs)
{
    UxferResult result;
    if (!process_.valid())
        return result;
    if (WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0) {
        result.finished = GetExitCodeProcess(process_.get(), &result.exitCode) != FALSE;
    } else {
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), 10000);
    }
    process_.reset(INVALID_HANDLE_VALUE);
    result.out = TextOf(outFile_);
    result.err = TextOf(errFile_);
    DeleteFileA(outFile_.c_str());
    DeleteFileA(errFile_.c_str());
    return result;
}

UxferResult RunUxfer(const std::string& arguments, const std::string& input)
{
    UxferProcess process;
    if (!process.Start(arguments, input))
        return {};
    return process.Wait();
}

void UxferTest::SetUp()
{
    ASSERT_TRUE(device.Open(0)) << "virtual device instance 0 missing: is the test bed up?";
    ASSERT_TRUE(device.Reset());
    // The delay is shared by every process with the library loaded, this one included.
    uSetDelay(0);
    uSetInstance(0);
}

void UxferTest::TearDown()
{
    for (const std::string& name : ScratchFiles())
        EXPECT_FALSE(name.size() > 4 && _strnicmp(name.c_str(), "uxf", 3) == 0 &&
                     _stricmp(name.c_str() + name.size() - 4, ".tmp") == 0)
            << "temporary file left behind: " << name;
}

void UxferTest::LoadWords(uint32_t addr, const std::vector<uint8_t>& bytes)
{
    ASSERT_TRUE(device.LoadMemory(2 * addr, bytes.data(), bytes.size()));
}

std::vector<uint8_t> UxferTest::DeviceBytes(uint32_t addr, uint32_t bytes)
{
    std::vector<uint8_t> data(bytes);
    EXPECT_TRUE(device.ReadMemory(2 * addr, data.data(), bytes));
    return data;
}

std::vector<std::string> UxferTest::ScratchFiles() const
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(scratch.File("*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<uint8_t> WireOf(const std::vector<uint8_t>& dump)
{
    std::vector<uint8_t> wire(2 * dump.size(), 0xFF);
    for (size_t i = 0; i < dump.size(); ++i)
        wire[2 * i] = dump[i];
    return wire;
}

std::vector<uint8_t> DumpOf(const std::vector<uint8_t>& wire)
{
    std::vector<uint8_t> dump(wire.size() / 2);
    for (size_t i = 0; i < dump.size(); ++i)
        dump[i] = wire[2 * i];
    return dump;
}
