// The file a write or compare sends, apart from the replacement file: a
// program that only replaces files then imports no more than it calls (a
// static library gives the linker whole objects).
#include "dump/file.h"

#include "win/text.h"

namespace dump {

bool OpenSource(const std::wstring& path, const std::string& name, win::unique_file& file, uint64_t& length,
                std::string& problem)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        problem = "can't read " + name + " (" + win::SystemErrorText(GetLastError()) + "); does the file exist?";
        return false;
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        problem = "can't read " + name + ": it is a folder; give a file name";
        return false;
    }
    length = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    file.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr));
    if (!file) {
        problem = "can't read " + name + " (" + win::SystemErrorText(GetLastError()) + ")";
        return false;
    }
    return true;
}

}  // namespace dump
