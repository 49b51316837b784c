// uxfer_bench_bare.exe MODE WIRE [FILE]: the device requests of a benchmarked
// operation and nothing else, the baseline of uxfer_bench and auto_bench: a
// fresh buffer of WIRE bytes, the connection, then the reset command before
// each transfer, as the device wants it:
//   read        one uXferRead;
//   write       one uXferWrite of the pattern as a dump's words;
//   write-read  a uXferWrite and a uXferRead back into the same buffer;
// and uClose.  With FILE it is the program a user would write instead of the
// tool, which also keeps the dump in a file: read stores the dump (a byte a
// word) in FILE and flushes it; write-read writes FILE's bytes as words and
// compares the read-back with them; compare reads the range and compares it
// with FILE.  Exit 0 when all of it succeeded (and nothing differed).
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "bench_bare.h"
#include "dump/connection.h"
#include "dump/dump_requests.h"
#include "uXfer.h"
#include "win/unique_any.h"

namespace {

enum Exit { kOk = 0, kUsage = 1, kDevice = 3, kFile = 5, kDiffers = 6 };

bool LoadFile(const char* path, uint8_t* bytes, uint32_t size)
{
    const win::unique_file file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD got = 0;
    return file && ReadFile(file.get(), bytes, size, &got, nullptr) && got == size;
}

bool StoreFile(const char* path, const uint8_t* bytes, uint32_t size)
{
    const win::unique_file file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD put = 0;
    return file && WriteFile(file.get(), bytes, size, &put, nullptr) && put == size && FlushFileBuffers(file.get());
}

}  // namespace

int main(int argc, char** argv)
{
    const char* mode = argc > 2 ? argv[1] : "";
    const uint32_t wire = argc > 2 ? std::strtoul(argv[2], nullptr, 0) : 0;
    const char* path = argc > 3 ? argv[3] : nullptr;
    const bool read = std::strcmp(mode, "read") == 0, write = std::strcmp(mode, "write") == 0,
               both = std::strcmp(mode, "write-read") == 0, compare = std::strcmp(mode, "compare") == 0;
    if (wire == 0 || wire % 2 || !(read || write || both || compare) || (compare && !path) || (write && path))
        return kUsage;
    const uint32_t words = wire / 2;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[wire]);
    // The file's bytes, kept to compare with what comes back.
    std::unique_ptr<uint8_t[]> dump(path && !read ? new (std::nothrow) uint8_t[words] : nullptr);
    if (!buffer || (path && !read && !dump))
        return bench::kBareDoesNotFit;
    if (dump && !LoadFile(path, dump.get(), words))
        return kFile;
    if (write || both)
        for (uint32_t i = 0; i < words; ++i) {
            buffer[2 * size_t(i)] = dump ? dump[i] : bench::PatternByte(i);
            buffer[2 * size_t(i) + 1] = 0xFF;
        }
    dump::Connection usb(dump::Connection::AfterFailure::Close);
    if (usb.Open(OPEN_ALL) != RESULT_OK || usb.SendReset() != RESULT_OK)
        return 2;
    const TransferDesc desc = dump::DeviceDesc(0, words, 0);
    uint32_t count = 0;
    if ((write || both) && (uXferWrite(&desc, buffer.get(), &count) != RESULT_OK || count != wire))
        return kDevice;
    if (both && usb.SendReset() != RESULT_OK)
        return kDevice;
    if (!write && (uXferRead(&desc, buffer.get(), &count) != RESULT_OK || count != wire))
        return kDevice;
    if (dump) {
        for (uint32_t i = 0; i < words; ++i)
            if (buffer[2 * size_t(i)] != dump[i])
                return kDiffers;
    } else if (read && path) {
        for (uint32_t i = 0; i < words; ++i)
            buffer[i] = buffer[2 * size_t(i)];
        if (!StoreFile(path, buffer.get(), words))
            return kFile;
    }
    return kOk;
}
