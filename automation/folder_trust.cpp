#include "folder_trust.h"

#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "module.h"
#include "server_class.h"
#include "uXferAuto.h"
#include "win/unique_any.h"

namespace automation {

namespace {

// Rights that let a principal put another DLL in the server's place, or give
// itself the rights to.
constexpr ACCESS_MASK kChanging = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                  WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;

bool IsTrustedInstaller(PSID sid)
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    const DWORD parts[] = {SECURITY_SERVICE_ID_BASE_RID, 956008885, 3418522649, 1831038044, 1853292631, 2271478464};
    BYTE installer[SECURITY_MAX_SID_SIZE];
    InitializeSid(installer, &nt, 6);
    for (DWORD i = 0; i < 6; ++i)
        *GetSidSubAuthority(installer, i) = parts[i];
    return EqualSid(sid, installer);
}

class Judge {
public:
    // The administrator who registers owns what it made; reading the groups
    // rather than CheckTokenMembership, which Wine 8 answers no for this token.
    Judge()
    {
        win::unique_handle token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
            return;
        const std::vector<BYTE> groups = Information(token.get(), TokenGroups);
        const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(groups.data());
        for (DWORD i = 0; list && i < list->GroupCount; ++i)
            if (IsWellKnownSid(list->Groups[i].Sid, WinBuiltinAdministratorsSid) &&
                (list->Groups[i].Attributes & SE_GROUP_ENABLED) &&
                !(list->Groups[i].Attributes & SE_GROUP_USE_FOR_DENY_ONLY))
                user_ = Information(token.get(), TokenUser);
    }

    bool Trusted(PSID sid) const
    {
        // CREATOR OWNER stands for nobody on the object itself; OWNER RIGHTS for its owner.
        return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
               IsTrustedInstaller(sid) || IsWellKnownSid(sid, WinCreatorOwnerSid) ||
               IsWellKnownSid(sid, WinCreatorOwnerRightsSid) ||
               (!user_.empty() && EqualSid(sid, reinterpret_cast<const TOKEN_USER*>(user_.data())->User.Sid));
    }

    bool OnlyTrustedChange(PSECURITY_DESCRIPTOR descriptor) const
    {
        PSID owner = nullptr;
        BOOL defaulted = FALSE, present = FALSE;
        PACL dacl = nullptr;
        if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner || !Trusted(owner))
            return false;
        // No DACL: everybody may do everything.
        if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl)
            return false;
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            ACE_HEADER* header = nullptr;
            if (!GetAce(dacl, i, reinterpret_cast<void**>(&header)))
                return false;
            // Inherit-only entries apply to what is made inside, not to this object.
            if (header->AceFlags & INHERIT_ONLY_ACE)
                continue;
            switch (header->AceType) {
            case ACCESS_ALLOWED_ACE_TYPE:
            case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
                const auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
                if ((ace->Mask & kChanging) && !Trusted(const_cast<DWORD*>(&ace->SidStart)))
                    return false;
                break;
            }
            // Never on files; whoever they name, they count against.
            case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
            case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
                if (reinterpret_cast<ACCESS_ALLOWED_OBJECT_ACE*>(header)->Mask & kChanging)
                    return false;
                break;
            default:  // denials and audits give nobody a right
                break;
            }
        }
        return true;
    }

private:
    static std::vector<BYTE> Information(HANDLE token, TOKEN_INFORMATION_CLASS kind)
    {
        DWORD size = 0;
        GetTokenInformation(token, kind, nullptr, 0, &size);
        std::vector<BYTE> data(size);
        if (!size || !GetTokenInformation(token, kind, data.data(), size, &size))
            data.clear();
        return data;
    }

    std::vector<BYTE> user_;  // TOKEN_USER, when it is an administrator
};

// S_OK, UXA_E_UNSAFE_FOLDER, or why the rights of `path` can't be read; a
// file that isn't there is no danger.
HRESULT CheckPath(const Judge& judge, const std::wstring& path, bool optional)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                                              nullptr, nullptr, nullptr, &descriptor);
    const win::unique_hlocal owned(descriptor);
    if (optional && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND))
        return S_OK;
    if (error != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(error);
    return judge.OnlyTrustedChange(descriptor) ? S_OK : UXA_E_UNSAFE_FOLDER;
}

}  // namespace

HRESULT CheckServerFolder()
{
    const Judge judge;
    const std::wstring folder = ModuleFolder();
    HRESULT result = CheckPath(judge, folder, false);
    if (result == S_OK)
        result = CheckPath(judge, ModulePath(), false);
    if (result == S_OK)
        result = CheckPath(judge, folder + L"\\" + ServedClass().library, true);
#ifndef UXFERAUTO_TEST_HOOKS
    return result;
#else
    if (result != S_OK)
        return result;
    // The test edition's seam: the test bed can't give a folder most of the
    // rights that count (Wine keeps only what maps to Unix modes), so a test
    // sets UXFERAUTO_TEST_FOLDER_SDDL to a security descriptor judged as well
    // as the folder's own.  It can only refuse more, never let a folder pass.
    wchar_t sddl[1024];
    const DWORD length = GetEnvironmentVariableW(L"UXFERAUTO_TEST_FOLDER_SDDL", sddl, 1024);
    if (length == 0 || length >= 1024)
        return S_OK;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return UXA_E_UNSAFE_FOLDER;
    const win::unique_hlocal owned(descriptor);
    return judge.OnlyTrustedChange(descriptor) ? S_OK : UXA_E_UNSAFE_FOLDER;
#endif
}

}  // namespace automation
