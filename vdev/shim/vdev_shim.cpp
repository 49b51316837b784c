#include "vdev_shim.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "shim_redirect.h"
#include "vdev_backchannel.h"

namespace {

bool EndsWithPipe(const char* path, size_t length, uint32_t* pipe)
{
    static const char kSuffix[] = "\\PIPE";
    const size_t suffix = sizeof kSuffix; // "\PIPE" plus the digit
    if (length <= suffix || _strnicmp(path + length - suffix, kSuffix, suffix - 1) != 0)
        return false;
    char digit = path[length - 1];
    if (digit != '0' && digit != '1')
        return false;
    *pipe = digit == '0' ? VDEV_PIPE_IN : VDEV_PIPE_OUT;
    return true;
}

bool IsDevicePath(const char* path)
{
    return path[0] == '\\' && path[1] == '\\' && (path[2] == '?' || path[2] == '.') && path[3] == '\\';
}

HANDLE OpenWide(const char* path, size_t length, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                DWORD flags, HANDLE templ)
{
    WCHAR wide[MAX_PATH + 16];
    int chars = MultiByteToWideChar(CP_ACP, 0, path, static_cast<int>(length), wide, MAX_PATH + 15);
    if (chars <= 0) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    wide[chars] = 0;
    return CreateFileW(wide, access, share, sa, disposition, flags, templ);
}

bool Bind(HANDLE handle, uint32_t pipe, const char* path, DWORD access, DWORD share)
{
    VdevBind bind{};
    bind.pipe = pipe;
    std::strncpy(bind.path, path, sizeof bind.path - 1);
    bind.access = access;
    bind.share = share;
    DWORD returned = 0;
    return DeviceIoControl(handle, IOCTL_VDEV_BIND, &bind, sizeof bind, nullptr, 0, &returned, nullptr) != FALSE;
}

HANDLE WINAPI ShimCreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                              DWORD flags, HANDLE templ)
{
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    size_t length = std::strlen(path);
    uint32_t pipe;
    if (IsDevicePath(path) && EndsWithPipe(path, length, &pipe)) {
        HANDLE h = OpenWide(path, length - 6, access, share, sa, disposition, flags, templ);
        if (h == INVALID_HANDLE_VALUE)
            return h;
        if (!Bind(h, pipe, path, access, share)) {
            CloseHandle(h);
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        SetLastError(ERROR_SUCCESS);
        return h;
    }
    HANDLE h = OpenWide(path, length, access, share, sa, disposition, flags, templ);
    if (h != INVALID_HANDLE_VALUE && IsDevicePath(path)) {
        DWORD error = GetLastError();
        Bind(h, VDEV_PIPE_CONTROL, path, access, share);  // other devices just refuse it
        SetLastError(error);
    }
    return h;
}

bool installed = false;

}  // namespace

extern "C" bool VdevShimInstall()
{
    if (installed)
        return true;
    bool any = false;
    for (const char* module : {"kernelbase.dll", "kernel32.dll"}) {
        HMODULE h = GetModuleHandleA(module);
        void* entry = h ? reinterpret_cast<void*>(GetProcAddress(h, "CreateFileA")) : nullptr;
        if (entry == reinterpret_cast<void*>(&ShimCreateFileA))
            continue;
        if (entry && vdev_shim::Redirect(entry, reinterpret_cast<const void*>(&ShimCreateFileA)))
            any = true;
        if (any)
            break;  // kernel32's export leads to the same code
    }
    installed = any;
    return any;
}

// The jump written over an entry.  32-bit code reaches the
// shim with a relative jump (E9 rel32).  In 64-bit code the system DLLs and
// the executable lie more than 2 GiB apart, out of reach of rel32: there it is
// an absolute jump through the eight bytes that follow it (FF 25 00000000, target).
namespace {

#ifdef _WIN64
constexpr size_t kJumpSize = 14;
void WriteJump(unsigned char* code, const void* to)
{
    static const unsigned char kJmpIndirect[6] = {0xFF, 0x25, 0, 0, 0, 0};
    auto target = reinterpret_cast<uintptr_t>(to);
    std::memcpy(code, kJmpIndirect, sizeof kJmpIndirect);
    std::memcpy(code + sizeof kJmpIndirect, &target, sizeof target);
}
#else
constexpr size_t kJumpSize = 5;
void WriteJump(unsigned char* code, const void* to)
{
    intptr_t rel = reinterpret_cast<intptr_t>(to) - (reinterpret_cast<intptr_t>(code) + 5);
    code[0] = 0xE9;
    std::memcpy(code + 1, &rel, 4);
}
#endif

}  // namespace

namespace vdev_shim {

bool Redirect(void* target, const void* to)
{
    auto* code = static_cast<unsigned char*>(target);
    DWORD old;
    if (!VirtualProtect(code, kJumpSize, PAGE_EXECUTE_READWRITE, &old))
        return false;
    WriteJump(code, to);
    VirtualProtect(code, kJumpSize, old, &old);
    FlushInstructionCache(GetCurrentProcess(), code, kJumpSize);
    return true;
}

}  // namespace vdev_shim
