// uxfer_bench_read.exe SIZE: the device requests of `uxfer read --size SIZE`
// and nothing else, the baseline of uxfer_bench: a fresh buffer for the wire
// image, the connection, the reset command, one uXferRead of 2 x SIZE bytes,
// uClose.  Exit 0 when all of it succeeded.
#include <cstdlib>
#include <memory>
#include <new>

#include "dump/connection.h"
#include "dump/dump_requests.h"
#include "uXfer.h"

int main(int argc, char** argv)
{
    const uint32_t size = argc > 1 ? std::strtoul(argv[1], nullptr, 0) : 0;
    if (size == 0)
        return 1;
    std::unique_ptr<uint8_t[]> wire(new (std::nothrow) uint8_t[2 * size_t(size)]);
    if (!wire)
        return 2;
    dump::Connection usb(dump::Connection::AfterFailure::Close);
    if (usb.Open(OPEN_ALL) != RESULT_OK)
        return 2;
    const TransferDesc read = dump::DeviceDesc(0, size, 0);
    uint32_t count = 0;
    const bool ok = usb.SendReset() == RESULT_OK && uXferRead(&read, wire.get(), &count) == RESULT_OK &&
                    count == 2 * size;
    return ok ? 0 : 3;
}
