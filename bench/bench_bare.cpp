// uxfer_bench_bare.exe read|write|write-read WIRE: the device requests of a
// benchmarked operation and nothing else, the baseline of uxfer_bench and
// auto_bench: a fresh buffer of WIRE bytes (for a write, filled with the
// pattern as a dump's words), the connection, the reset command, one uXferRead
// (read), one uXferWrite (write) or a uXferWrite and a uXferRead back into the
// same buffer (write-read), uClose.  Exit 0 when all of it succeeded.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "bench_bare.h"
#include "dump/connection.h"
#include "dump/dump_requests.h"
#include "uXfer.h"

int main(int argc, char** argv)
{
    const char* mode = argc > 2 ? argv[1] : "";
    const uint32_t wire = argc > 2 ? std::strtoul(argv[2], nullptr, 0) : 0;
    const bool read = std::strcmp(mode, "read") == 0, write = std::strcmp(mode, "write") == 0,
               both = std::strcmp(mode, "write-read") == 0;
    if (wire == 0 || wire % 2 || !(read || write || both))
        return 1;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[wire]);
    if (!buffer)
        return bench::kBareDoesNotFit;
    if (!read)
        for (uint32_t i = 0; i < wire / 2; ++i) {
            buffer[2 * size_t(i)] = bench::PatternByte(i);
            buffer[2 * size_t(i) + 1] = 0xFF;
        }
    dump::Connection usb(dump::Connection::AfterFailure::Close);
    if (usb.Open(OPEN_ALL) != RESULT_OK || usb.SendReset() != RESULT_OK)
        return 2;
    const TransferDesc desc = dump::DeviceDesc(0, wire / 2, 0);
    uint32_t count = 0;
    if (!read && (uXferWrite(&desc, buffer.get(), &count) != RESULT_OK || count != wire))
        return 3;
    if (!write && (uXferRead(&desc, buffer.get(), &count) != RESULT_OK || count != wire))
        return 3;
    return 0;
}
