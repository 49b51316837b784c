#include "file.h"

#include <aclapi.h>

#include <atomic>
#include <vector>

CFile::WriteFunction CFile::systemWrite = WriteFile;

std::wstring Widen(const std::string& text, UINT codePage)
{
    if (text.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(length, L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string Narrow(const std::wstring& text, UINT codePage)
{
    if (text.empty())
        return std::string();
    const int length =
        WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(length, '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &narrow[0], length, nullptr, nullptr);
    return narrow;
}

std::wstring WidePath(const std::string& ansiPath)
{
    const std::wstring wide = Widen(ansiPath, CP_ACP);
    return wide.size() < MAX_PATH ? wide : std::wstring();
}

bool CFile::Open(const std::wstring& path, UINT flags)
{
    Close();
    created_ = false;
    DWORD access = (flags & (modeWrite | modeTemporary)) ? GENERIC_WRITE : GENERIC_READ;
    DWORD sharing = FILE_SHARE_READ;
    DWORD disposition = OPEN_EXISTING;
    if (flags & modeCreate)
        disposition = (flags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
    if (flags & modeDelete) {
        access |= DELETE;
        sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    }
    if (flags & modeTemporary) {
        // Delete access for the disposition; the access rights are set on it
        // before it takes another file's place.
        access |= DELETE | WRITE_DAC;
        disposition = CREATE_NEW;
    }
    handle_.reset(CreateFileW(path.c_str(), access, sharing, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle_)
        return false;
    created_ = (flags & (modeCreate | modeTemporary)) && GetLastError() != ERROR_ALREADY_EXISTS;
    if (flags & modeTemporary) {
        // Marked at once: from here on, a killed process leaves nothing behind.
        FILE_DISPOSITION_INFO gone{TRUE};
        if (!SetFileInformationByHandle(handle_.get(), FileDispositionInfo, &gone, sizeof gone)) {
            const DWORD error = GetLastError();
            Close();
            DeleteFileW(path.c_str());
            SetLastError(error);
            return false;
        }
    }
    return true;
}

void CFile::Close()
{
    handle_.reset();
}

bool CFile::Read(void* buffer, uint32_t count, uint32_t& got)
{
    got = 0;
    auto* bytes = static_cast<uint8_t*>(buffer);
    while (got < count) {
        DWORD moved = 0;
        if (!ReadFile(handle_.get(), bytes + got, count - got, &moved, nullptr))
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
        if (!systemWrite(handle_.get(), bytes + done, count - done, &moved, nullptr) || moved == 0)
            return false;
        done += moved;
    }
    return true;
}

bool CFile::Flush()
{
    return FlushFileBuffers(handle_.get()) != FALSE;
}

bool CFile::Keep()
{
    FILE_DISPOSITION_INFO kept{FALSE};
    return SetFileInformationByHandle(handle_.get(), FileDispositionInfo, &kept, sizeof kept) != FALSE;
}

bool CFile::TakeAttributesOf(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    constexpr DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                            FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO basic{};
    // Zero would leave the new file's own attributes.
    basic.FileAttributes = (attributes & kKept) ? attributes & kKept : FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(handle_.get(), FileBasicInfo, &basic, sizeof basic))
        return false;
    // A volume without access rights (FAT, most memory sticks) has none to take.
    DWORD volumeFlags = 0;
    if (!GetVolumeInformationByHandleW(handle_.get(), nullptr, 0, nullptr, nullptr, &volumeFlags, nullptr, 0) ||
        !(volumeFlags & FILE_PERSISTENT_ACLS))
        return true;

    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                        &dacl, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return false;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    const SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED)
                                                                       ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                       : UNPROTECTED_DACL_SECURITY_INFORMATION);
    error = SetSecurityInfo(handle_.get(), SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
    LocalFree(descriptor);
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

bool CFile::Remove(const std::wstring& path)
{
    return DeleteFileW(path.c_str()) != FALSE;
}

namespace {

// The folder part of a path, with its separator, for the temporary file
// beside it: empty for a file of the current folder, "C:" for one of the
// current folder of drive C.
std::wstring FolderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
        return path.substr(0, slash + 1);
    if (path.size() >= 2 && path[1] == L':')
        return path.substr(0, 2);
    return std::wstring();
}

}  // namespace

bool CReplacementFile::Open()
{
    // Named here rather than by GetTempFileName, which takes no folder of
    // MAX_PATH characters or more.  A name left by a dead process of the same
    // id is passed over.
    static std::atomic<unsigned> serial{0};
    const std::wstring folder = FolderOf(target_);
    const std::wstring process = std::to_wstring(GetCurrentProcessId());
    for (int attempt = 0; attempt < 1000; ++attempt) {
        path_ = folder + prefix_ + process + L"-" + std::to_wstring(++serial) + L".tmp";
        if (file_.Open(path_, CFile::modeTemporary))
            return true;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    path_.clear();
    return false;
}

bool CReplacementFile::Commit()
{
    if (!file_.Flush() || !file_.TakeAttributesOf(target_) || !file_.Keep())
        return false;
    file_.Close();
    if (MoveFileExW(path_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    const DWORD error = GetLastError();
    CFile::Remove(path_);
    SetLastError(error);
    return false;
}
