#include "file.h"

CFile::WriteFunction CFile::systemWrite = WriteFile;

bool CFile::Open(const std::string& path, UINT flags)
{
    Close();
    created_ = false;
    const DWORD access = (flags & modeWrite) ? GENERIC_WRITE : GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    if (flags & modeCreate)
        disposition = (flags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
    handle_ = CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
    if (handle_ == INVALID_HANDLE_VALUE)
        return false;
    created_ = (flags & modeCreate) && GetLastError() != ERROR_ALREADY_EXISTS;
    return true;
}

void CFile::Close()
{
    if (handle_ != INVALID_HANDLE_VALUE)
        CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

bool CFile::Read(void* buffer, uint32_t count, uint32_t& got)
{
    got = 0;
    auto* bytes = static_cast<uint8_t*>(buffer);
    while (got < count) {
        DWORD moved = 0;
        if (!ReadFile(handle_, bytes + got, count - got, &moved, nullptr))
            return false;
        if (moved == 0)
            break;
        got += moved;
    }
    return true;
}

bool CFile::Write(const void* buffer, uint32_t count)
{
    auto* bytes = static_cast<const uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        DWORD moved = 0;
        if (!systemWrite(handle_, bytes + done, count - done, &moved, nullptr) || moved == 0)
            return false;
        done += moved;
    }
    return true;
}

bool CFile::Flush()
{
    return FlushFileBuffers(handle_) != FALSE;
}

bool CFile::Remove(const std::string& path)
{
    return DeleteFileA(path.c_str()) != FALSE;
}

namespace {

// The folder part of a path, for the temporary file beside it: "." when the
// path names a file of the current folder.
std::string FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/");
    if (slash != std::string::npos)
        return path.substr(0, slash + 1);
    if (path.size() >= 2 && path[1] == ':')
        return path.substr(0, 2);  // the current folder of that drive
    return ".";
}

}  // namespace

CReplacementFile::~CReplacementFile()
{
    file_.Close();
    if (!path_.empty() && !committed_)
        CFile::Remove(path_);
}

bool CReplacementFile::Open()
{
    char name[MAX_PATH];
    // Makes the file under a name no other file of the folder has.
    if (!GetTempFileNameA(FolderOf(target_).c_str(), prefix_, 0, name))
        return false;
    path_ = name;
    return file_.Open(path_, CFile::modeCreate | CFile::modeWrite);
}

bool CReplacementFile::Commit()
{
    if (!file_.Flush())
        return false;
    file_.Close();
    committed_ = MoveFileExA(path_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    return committed_;
}
