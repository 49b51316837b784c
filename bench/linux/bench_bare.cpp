// uxfer_bench_bare_linux read|write-read|compare WORDS FILE: the program a
// user would write instead of uxfer, with plain libusb calls, the baseline of
// uxfer_bench_linux.  It opens the first device of UXFER_USB's VID:PID,
// claims interface 0 and makes the requests uxfer makes: the reset command
// (a debug write), then from address 0
//   read        a read of WORDS words, the dump stored (a byte a word) in
//               FILE, flushed with fsync;
//   write-read  FILE's bytes written as words (byte, 0xFF), the reset
//               command again, a read back compared with FILE;
//   compare     a read compared with FILE.
// The whole wire buffer is allocated at once.  Exit 0 when all of it
// succeeded and nothing differed.
#include <fcntl.h>
#include <libusb.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <thread>

#include "dump/dump_requests.h"
#include "usb_protocol.h"

namespace {

enum Exit { kOk = 0, kUsage = 1, kOpen = 2, kDevice = 3, kNoMemory = 4, kFile = 5, kDiffers = 6 };

constexpr uint8_t kEndpointIn = 0x81;
constexpr uint8_t kEndpointOut = 0x02;
constexpr uint32_t kChunk = 65536;
constexpr unsigned kTimeoutMs = 10000;

libusb_device_handle* device = nullptr;

bool Status(uint8_t status[8])
{
    return libusb_control_transfer(device, VENDOR_BM_IN, REQ_STATUS, 1, 0, status, STATUS_STAGE_SIZE, kTimeoutMs) ==
           int(STATUS_STAGE_SIZE);
}

// Polls every 10 ms, as uxfer does, until the device is (not) active.
bool WaitFor(bool active)
{
    uint8_t status[8];
    for (int poll = 0; poll < 1000; ++poll) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!Status(status) || (status[0] & STATUS_ERROR))
            return false;
        if (((status[0] & STATUS_ACTIVE) != 0) == active)
            return true;
    }
    return false;
}

bool Command(uint8_t request, uint16_t index, uint8_t* stage, uint16_t size)
{
    return WaitFor(false) &&
           libusb_control_transfer(device, VENDOR_BM_OUT, request, dump::kCmdValue, index, stage, size, kTimeoutMs) ==
               size &&
           WaitFor(true);
}

bool Bulk(uint8_t endpoint, uint8_t* data, uint64_t size)
{
    for (uint64_t offset = 0; offset < size; offset += kChunk) {
        const int chunk = int(size - offset < kChunk ? size - offset : kChunk);
        int moved = 0;
        if (libusb_bulk_transfer(device, endpoint, data + offset, chunk, &moved, kTimeoutMs) != 0 || moved != chunk)
            return false;
    }
    return true;
}

bool ResetCommand()
{
    uint8_t stage[DEBUG_STAGE_SIZE];
    StagePutWord(stage, 0, sizeof dump::kResetCommand);
    uint8_t command[sizeof dump::kResetCommand];
    std::memcpy(command, dump::kResetCommand, sizeof command);
    return Command(REQ_DEBUG, 1, stage, sizeof stage) && Bulk(kEndpointOut, command, sizeof command);
}

// Address 0; the count is in 4-byte units.
bool Transfer(bool in, uint8_t* wire, uint64_t bytes)
{
    uint8_t stage[WRITE_STAGE_SIZE] = {};
    const uint32_t units = uint32_t(bytes / dump::kUnitSize);
    if (in)
        StagePutWord(stage, 2, units);
    else
        StagePutWord(stage, 3, units);
    return Command(in ? REQ_READ : REQ_WRITE, 0, stage, in ? READ_STAGE_SIZE : WRITE_STAGE_SIZE) &&
           Bulk(in ? kEndpointIn : kEndpointOut, wire, bytes);
}

bool LoadFile(const char* path, uint8_t* bytes, uint64_t size)
{
    FILE* file = std::fopen(path, "rb");
    const bool ok = file && std::fread(bytes, 1, size, file) == size;
    if (file)
        std::fclose(file);
    return ok;
}

bool StoreFile(const char* path, const uint8_t* bytes, uint64_t size)
{
    FILE* file = std::fopen(path, "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(bytes, 1, size, file) == size && std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    return std::fclose(file) == 0 && ok;
}

int Run(const char* mode, uint64_t words, const char* path)
{
    const bool read = std::strcmp(mode, "read") == 0, both = std::strcmp(mode, "write-read") == 0;
    const uint64_t wire = words * 2;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[wire]);
    std::unique_ptr<uint8_t[]> dump(read ? nullptr : new (std::nothrow) uint8_t[words]);
    if (!buffer || (!read && !dump))
        return kNoMemory;
    if (dump && !LoadFile(path, dump.get(), words))
        return kFile;
    if (!ResetCommand())
        return kDevice;
    if (both) {
        for (uint64_t i = 0; i < words; ++i) {
            buffer[2 * i] = dump[i];
            buffer[2 * i + 1] = 0xFF;
        }
        if (!Transfer(false, buffer.get(), wire) || !ResetCommand())
            return kDevice;
    }
    if (!Transfer(true, buffer.get(), wire))
        return kDevice;
    if (read) {
        for (uint64_t i = 0; i < words; ++i)
            buffer[i] = buffer[2 * i];
        return StoreFile(path, buffer.get(), words) ? kOk : kFile;
    }
    for (uint64_t i = 0; i < words; ++i)
        if (buffer[2 * i] != dump[i])
            return kDiffers;
    return kOk;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* mode = argc == 4 ? argv[1] : "";
    const uint64_t words = argc == 4 ? std::strtoull(argv[2], nullptr, 0) : 0;
    const char* ids = std::getenv("UXFER_USB");
    unsigned vendor = 0, product = 0;
    if (words == 0 || words % 2 || words > 0x7FFFFFFE ||
        !(std::strcmp(mode, "read") == 0 || std::strcmp(mode, "write-read") == 0 ||
          std::strcmp(mode, "compare") == 0) ||
        !ids || std::sscanf(ids, "%x:%x", &vendor, &product) != 2) {
        std::fprintf(stderr, "usage: UXFER_USB=VID:PID uxfer_bench_bare_linux read|write-read|compare WORDS FILE\n");
        return kUsage;
    }
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0)
        return kOpen;
    device = libusb_open_device_with_vid_pid(context, uint16_t(vendor), uint16_t(product));
    int result = kOpen;
    if (device && libusb_claim_interface(device, 0) == 0) {
        result = Run(mode, words, argv[3]);
        libusb_release_interface(device, 0);
    }
    if (device)
        libusb_close(device);
    libusb_exit(context);
    return result;
}
