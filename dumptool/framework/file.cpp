#include "file.h"

#include "dump/file.h"

bool CFile::Open(const std::wstring& path, UINT flags)
{
    Close();
    created_ = false;
    DWORD access = (flags & modeWrite) ? GENERIC_WRITE : GENERIC_READ;
    DWORD sharing = FILE_SHARE_READ;
    DWORD disposition = OPEN_EXISTING;
    if (flags & modeCreate)
        disposition = (flags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
    if (flags & modeDelete) {
        access |= DELETE;
        sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    }
    handle_.reset(CreateFileW(path.c_str(), access, sharing, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle_)
        return false;
    created_ = (flags & modeCreate) && GetLastError() != ERROR_ALREADY_EXISTS;
    return true;
}

bool CFile::Read(void* buffer, uint32_t count, uint32_t& got)
{
    return dump::ReadAll(handle_.get(), buffer, count, got);
}

bool CFile::Write(const void* buffer, uint32_t count)
{
    return dump::WriteAll(handle_.get(), buffer, count);
}

bool CFile::Remove(const std::wstring& path)
{
    return DeleteFileW(path.c_str()) != FALSE;
}
