#include "dump/file.h"

#include <aclapi.h>

#include <atomic>

namespace dump {

WriteFunction systemWrite = WriteFile;

bool ReadAll(HANDLE file, void* buffer, uint32_t count, uint32_t& got)
{
    got = 0;
    auto* bytes = static_cast<uint8_t*>(buffer);
    while (got < count) {
        DWORD moved = 0;
        if (!ReadFile(file, bytes + got, count - got, &moved, nullptr))
            return false;
        if (moved == 0)
            break;
        got += moved;
    }
    return true;
}

bool WriteAll(HANDLE file, const void* buffer, uint32_t count)
{
    auto* bytes = static_cast<const uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        DWORD moved = 0;
        if (!systemWrite(file, bytes + done, count - done, &moved, nullptr) || moved == 0)
            return false;
        done += moved;
    }
    return true;
}

std::string NameProblem(const std::wstring& path)
{
    if (path.find(L'\0') != std::wstring::npos)
        return "it holds a NUL character, where Windows would end the name (at another file)";
    // Past a \\?\ or \\.\ prefix and a drive "X:", a colon names a stream.
    size_t from = path.compare(0, 4, L"\\\\?\\") == 0 || path.compare(0, 4, L"\\\\.\\") == 0 ? 4 : 0;
    const wchar_t drive = path.size() >= from + 2 ? static_cast<wchar_t>(path[from] | 0x20) : 0;
    if (drive >= L'a' && drive <= L'z' && path[from + 1] == L':')
        from += 2;
    if (path.find(L':', from) != std::wstring::npos)
        return "a ':' past the drive names a stream inside a file, not a file; give a plain file name";
    return {};
}

ReplaceCheck CheckReplaceable(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return ReplaceCheck::Ok;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return ReplaceCheck::Folder;
    // Moving the dump over it takes delete access: a file another program
    // holds without sharing that is refused here.
    const win::unique_file existing(CreateFileW(path.c_str(), GENERIC_WRITE | DELETE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return existing ? ReplaceCheck::Ok : ReplaceCheck::Held;
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

bool ReplacementFile::Open()
{
    // Named here rather than by GetTempFileName, which takes no folder of
    // MAX_PATH characters or more.  A name left by a dead process of the same
    // id is passed over.
    static std::atomic<unsigned> serial{0};
    const std::wstring folder = FolderOf(target_);
    const std::wstring process = std::to_wstring(GetCurrentProcessId());
    for (int attempt = 0; attempt < 1000; ++attempt) {
        path_ = folder + prefix_ + process + L"-" + std::to_wstring(++serial) + L".tmp";
        if (Create(path_))
            return true;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    path_.clear();
    return false;
}

bool ReplacementFile::Create(const std::wstring& path)
{
    // Delete access for the disposition; the access rights are set on it
    // before it takes the target's place.
    file_.reset(CreateFileW(path.c_str(), GENERIC_WRITE | DELETE | WRITE_DAC, FILE_SHARE_READ, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_)
        return false;
    // Marked at once: from here on, a killed process leaves nothing behind.
    FILE_DISPOSITION_INFO gone{TRUE};
    if (SetFileInformationByHandle(file_.get(), FileDispositionInfo, &gone, sizeof gone))
        return true;
    const DWORD error = GetLastError();
    file_.reset();
    DeleteFileW(path.c_str());
    SetLastError(error);
    return false;
}

bool ReplacementFile::Keep()
{
    FILE_DISPOSITION_INFO kept{FALSE};
    return SetFileInformationByHandle(file_.get(), FileDispositionInfo, &kept, sizeof kept) != FALSE;
}

bool ReplacementFile::TakeTargetAttributes()
{
    const DWORD attributes = GetFileAttributesW(target_.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    constexpr DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                            FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO basic{};
    // Zero would leave the new file's own attributes.
    basic.FileAttributes = (attributes & kKept) ? attributes & kKept : FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(file_.get(), FileBasicInfo, &basic, sizeof basic))
        return false;
    // A volume without access rights (FAT, most memory sticks) has none to take.
    DWORD volumeFlags = 0;
    if (!GetVolumeInformationByHandleW(file_.get(), nullptr, 0, nullptr, nullptr, &volumeFlags, nullptr, 0) ||
        !(volumeFlags & FILE_PERSISTENT_ACLS))
        return true;

    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetNamedSecurityInfoW(target_.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                        nullptr, &dacl, nullptr, &descriptor);
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
    error = SetSecurityInfo(file_.get(), SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
    LocalFree(descriptor);
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

bool ReplacementFile::Commit()
{
    if (!FlushFileBuffers(file_.get()) || !TakeTargetAttributes() || !Keep())
        return false;
    file_.reset();
    if (MoveFileExW(path_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    const DWORD error = GetLastError();
    DeleteFileW(path_.c_str());
    SetLastError(error);
    return false;
}

}  // namespace dump
