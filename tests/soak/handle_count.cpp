#include "soak/handle_count.h"

#include <cstdint>
#include <vector>

#include "soak/soak.h"

namespace soak {

// Wine answers GetProcessHandleCount with 0; there the process's entries in
// the system handle table are counted instead.
DWORD HandleCount(Context& ctx)
{
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count)
        return count;
    struct Entry {
        ULONG ownerPid;
        BYTE objectType, flags;
        USHORT value;
        PVOID object;
        ULONG access;
    };
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        ctx.Fail("handle count: GetProcessHandleCount gave 0 and ntdll has no NtQuerySystemInformation");
    constexpr ULONG kSystemHandleInformation = 16;
    std::vector<uint8_t> table(1 << 16);
    ULONG needed = 0;
    LONG status;
    while ((status = query(kSystemHandleInformation, table.data(), static_cast<ULONG>(table.size()), &needed)) ==
           static_cast<LONG>(0xC0000004))  // STATUS_INFO_LENGTH_MISMATCH
        table.resize(table.size() * 2);
    if (status != 0)
        ctx.Fail("handle count: NtQuerySystemInformation(SystemHandleInformation) failed with 0x%08lX",
                 static_cast<unsigned long>(status));
    const ULONG entries = *reinterpret_cast<const ULONG*>(table.data());
    const Entry* entry = reinterpret_cast<const Entry*>(table.data() + sizeof(ULONG_PTR));
    for (ULONG i = 0; i < entries; ++i)
        count += entry[i].ownerPid == GetCurrentProcessId();
    if (count == 0)
        ctx.Fail("handle count: NtQuerySystemInformation(SystemHandleInformation) lists no handle of this process "
                 "among its %lu entries",
                 static_cast<unsigned long>(entries));
    return count;
}

}  // namespace soak
