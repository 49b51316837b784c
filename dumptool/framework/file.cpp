#include "file.h"

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
        if (!WriteFile(handle_, bytes + done, count - done, &moved, nullptr) || moved == 0)
            return false;
        done += moved;
    }
    return true;
}

bool CFile::SeekToBegin()
{
    return SetFilePointer(handle_, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}

bool CFile::SetEnd()
{
    return SetEndOfFile(handle_) != FALSE;
}

bool CFile::Flush()
{
    return FlushFileBuffers(handle_) != FALSE;
}

bool CFile::Remove(const std::string& path)
{
    return DeleteFileA(path.c_str()) != FALSE;
}
