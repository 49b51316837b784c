/* acl_probe <file>: prints the allow entries of a file's DACL, one a line,
 * as "allow <SID> 0x<access mask>", so that a test can see who may write it. */
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <stdio.h>

int main(int argc, char **argv)
{
    PACL dacl = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    DWORD result, i;

    if (argc != 2) {
        fprintf(stderr, "usage: acl_probe <file>\n");
        return 2;
    }
    result = GetNamedSecurityInfoA(argv[1], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL, &dacl,
                                   NULL, &descriptor);
    if (result != ERROR_SUCCESS) {
        printf("error %lu\n", result);
        return 1;
    }
    for (i = 0; dacl && i < dacl->AceCount; i++) {
        ACCESS_ALLOWED_ACE *ace;
        char *sid = NULL;
        if (!GetAce(dacl, i, (void **)&ace) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        if (ConvertSidToStringSidA(&ace->SidStart, &sid)) {
            printf("allow %s 0x%lx\n", sid, ace->Mask);
            LocalFree(sid);
        }
    }
    LocalFree(descriptor);
    return 0;
}
