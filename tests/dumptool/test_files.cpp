#include "dumptool/test_files.h"

#include <shlobj.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <sstream>

#include "common/processes.h"
#include "win/text.h"

namespace dumptest {

std::string SettingsFile()
{
    return ProgramFolder() + "DumpSet.ini";
}

std::string UserSettingsFile()
{
    char appData[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData);
    return std::string(appData) + "\\uXfer Tools\\DumpSet.ini";
}

void RemoveSettings()
{
    for (const std::string& file : {SettingsFile(), UserSettingsFile()}) {
        SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(file.c_str());
    }
}

void WriteSettings(const std::string& text)
{
    std::ofstream(SettingsFile(), std::ios::binary) << text;
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteAll(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return out.good();
}

ScratchFolder::ScratchFolder()
{
    static std::atomic<unsigned> serial{0};
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + "dumptool-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    CreateDirectoryA(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder()
{
    // Wide and with the prefix: names outside the ANSI code page and paths
    // longer than MAX_PATH go too.
    const std::wstring folder = L"\\\\?\\" + win::Widen(path_, CP_ACP) + L"\\";
    WIN32_FIND_DATAW found;
    win::unique_find search(FindFirstFileW((folder + L"*").c_str(), &found));
    if (search) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW((folder + found.cFileName).c_str());
        } while (FindNextFileW(search.get(), &found));
    }
    search.reset();
    RemoveDirectoryA(path_.c_str());
}

std::vector<std::string> ScratchFolder::Names() const
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    win::unique_find search(FindFirstFileA((path_ + "\\*").c_str(), &found));
    if (search) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.emplace_back(found.cFileName);
        } while (FindNextFileA(search.get(), &found));
    }
    return names;
}

HangUpPipe::HangUpPipe()
{
    static std::atomic<unsigned> serial{0};
    name_ = "\\\\.\\pipe\\dumptool-hangup-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    server_.reset(CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0,
                                   nullptr));
    waiter_ = std::thread([this] {
        if (!server_)
            return;
        ConnectNamedPipe(server_.get(), nullptr);
        DisconnectNamedPipe(server_.get());
    });
}

HangUpPipe::~HangUpPipe()
{
    // Unblocks a server still waiting for its client.
    if (server_) {
        win::unique_file client(CreateFileA(name_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    waiter_.join();
}

}  // namespace dumptest
