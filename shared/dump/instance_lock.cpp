#include "dump/instance_lock.h"

#include "uXfer.h"
#include "win/text.h"

namespace dump {

namespace {

const wchar_t kMutexName[] = L"Global\\uXferInstanceSelect";
constexpr DWORD kWaitMs = 10000;
// What a process of any user needs to take and give back a lock.
constexpr DWORD kLockRights = SYNCHRONIZE | MUTEX_MODIFY_STATE;
// What a process of any user needs to read and write a section.
constexpr DWORD kSectionRights = FILE_MAP_READ | FILE_MAP_WRITE;

// Opens a named object with `rights` (open), or makes it (make) with a DACL
// that grants every user those rights.
template <class Open, class Make>
HANDLE OpenForEveryone(DWORD rights, Open open, Make make)
{
    if (HANDLE existing = open(rights))
        return existing;
    BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof everyone;
    BYTE aclBuffer[sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE];
    auto* acl = reinterpret_cast<ACL*>(aclBuffer);
    SECURITY_DESCRIPTOR descriptor;
    if (!CreateWellKnownSid(WinWorldSid, nullptr, everyone, &sidSize) ||
        !InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, rights, everyone) ||
        !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE))
        return nullptr;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    if (HANDLE made = make(&attributes))
        return made;
    // Made by another process in between: asking for all rights is denied, fewer are not.
    return open(rights);
}

}  // namespace

HANDLE OpenSharedMutex(const std::wstring& name)
{
    return OpenForEveryone(
        kLockRights, [&](DWORD rights) { return OpenMutexW(rights, FALSE, name.c_str()); },
        [&](SECURITY_ATTRIBUTES* attributes) { return CreateMutexW(attributes, FALSE, name.c_str()); });
}

HANDLE OpenSharedSection(const std::wstring& name, DWORD bytes)
{
    return OpenForEveryone(
        kSectionRights, [&](DWORD rights) { return OpenFileMappingW(rights, FALSE, name.c_str()); },
        [&](SECURITY_ATTRIBUTES* attributes) {
            return CreateFileMappingW(INVALID_HANDLE_VALUE, attributes, PAGE_READWRITE, 0, bytes, name.c_str());
        });
}

InstanceLock::InstanceLock() : mutex_(OpenSharedMutex(kMutexName))
{
    if (!mutex_) {
        error_ = GetLastError();
        return;
    }
    // An abandoned mutex (its holder died) is ours all the same.
    const DWORD wait = WaitForSingleObject(mutex_.get(), kWaitMs);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
        hold_.reset(mutex_.get());
    else if (wait != WAIT_TIMEOUT)
        error_ = GetLastError();
}

std::string InstanceLock::Problem() const
{
    if (error_)
        return "can't take the instance lock Global\\uXferInstanceSelect (" + win::SystemErrorText(error_) + ")";
    return "another program has held the instance lock Global\\uXferInstanceSelect for " +
           std::to_string(kWaitMs / 1000) + " s; try again, or end the program that holds it";
}

bool SendCancel(uint32_t instance, uint32_t code, uint32_t& result, std::string& problem)
{
    InstanceLock lock;
    if (!lock.Held()) {
        problem = lock.Problem();
        return false;
    }
    uSetInstance(instance);
    result = uSetCancel(code);
    return true;
}

}  // namespace dump
