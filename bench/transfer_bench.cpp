// Throughput of uXferRead and uXferWrite on the virtual device with the delay
// at 0, against loops of 64 KiB ReadFile / WriteFile calls on pipes of our
// own, each loop started by the same vendor command.  Each round times both
// back to back, in the order library, raw in one round and raw, library in
// the next, so that both meet the same state of the machine; the ratio printed
// is the median of the rounds' own ratios, with the host-side cost the library
// adds per chunk.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "usb_protocol.h"
#include "uXfer.h"
#include "vdev_client.h"
#include "vdev_shim.h"
#include "win/unique_any.h"

namespace {

constexpr uint32_t kBytes = 4u * 1024u * 1024u;  // the device's whole memory
constexpr uint32_t kChunks = kBytes / XFER_CHUNK;

HANDLE OpenPath(const std::string& path, DWORD access)
{
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

double Now()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The same command uXferRead / uXferWrite would send, on our own control handle.
bool Command(HANDLE control, uint8_t request)
{
    uint8_t stage[WRITE_STAGE_SIZE] = {};
    uint16_t size = request == REQ_READ ? READ_STAGE_SIZE : WRITE_STAGE_SIZE;
    StagePutWord(stage, size / 4 - 2, 0);
    StagePutWord(stage, size / 4 - 1, kBytes / 4);
    VendorCommandBlock block;
    VendorBlockInit(&block, VENDOR_HOST_TO_DEVICE, request, 0, 0, size);
    DWORD returned = 0;
    return DeviceIoControl(control, IOCTL_VENDOR_REQUEST, &block, sizeof block, stage, size, &returned, nullptr);
}

double RawRead(HANDLE control, HANDLE pipe, std::vector<uint8_t>& buffer)
{
    double start = Now();
    if (!Command(control, REQ_READ))
        return -1;
    for (uint32_t at = 0; at < kBytes; at += XFER_CHUNK) {
        DWORD moved = 0;
        if (!ReadFile(pipe, buffer.data() + at, XFER_CHUNK, &moved, nullptr))
            return -1;
    }
    return Now() - start;
}

double RawWrite(HANDLE control, HANDLE pipe, const std::vector<uint8_t>& buffer)
{
    double start = Now();
    if (!Command(control, REQ_WRITE))
        return -1;
    for (uint32_t at = 0; at < kBytes; at += XFER_CHUNK) {
        DWORD moved = 0;
        if (!WriteFile(pipe, buffer.data() + at, XFER_CHUNK, &moved, nullptr))
            return -1;
    }
    return Now() - start;
}

double LibraryRead(std::vector<uint8_t>& buffer)
{
    TransferDesc desc = {0, 0, 0, kBytes, 4, 0, 0};
    uint32_t count = 0;
    double start = Now();
    uint32_t result = uXferRead(&desc, buffer.data(), &count);
    double elapsed = Now() - start;
    return result == RESULT_OK && count == kBytes ? elapsed : -1;
}

double LibraryWrite(const std::vector<uint8_t>& buffer)
{
    TransferDesc desc = {0, 0, 0, kBytes, 4, 0, 0};
    uint32_t count = 0;
    double start = Now();
    uint32_t result = uXferWrite(&desc, buffer.data(), &count);
    double elapsed = Now() - start;
    return result == RESULT_OK && count == kBytes ? elapsed : -1;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One round: the milliseconds of the library's transfer and of the raw loop.
struct Round {
    double library;
    double raw;
};

void Report(const char* name, const std::vector<Round>& rounds)
{
    std::vector<double> library, raw, ratios, added;
    for (const Round& r : rounds) {
        library.push_back(r.library);
        raw.push_back(r.raw);
        ratios.push_back(r.raw / r.library);
        added.push_back((r.library - r.raw) * 1000.0 / kChunks);
    }
    double mb = kBytes / (1024.0 * 1024.0);
    std::vector<double> sorted = ratios;
    std::sort(sorted.begin(), sorted.end());
    std::printf("%-6s uXfer %8.1f MiB/s  raw %8.1f MiB/s  ratio %.3f (rounds %.3f to %.3f)"
                "  added per chunk %+.1f us  (raw per chunk %.1f us)\n",
                name, mb / (Median(library) / 1000.0), mb / (Median(raw) / 1000.0), Median(ratios), sorted.front(),
                sorted.back(), Median(added), Median(raw) * 1000.0 / kChunks);
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::atoi(argv[1]) : 15;
    if (!VdevShimInstall()) {
        std::fprintf(stderr, "pipe-name shim could not be installed\n");
        return 2;
    }
    vdev::Device device;
    VdevInfo info;
    if (!device.Open(0) || !device.Reset() || !device.Info(info)) {
        std::fprintf(stderr, "no virtual device: start the test bed\n");
        return 2;
    }
    uSetDelay(0);
    if (uCreate(OPEN_ALL) != RESULT_OK) {
        std::fprintf(stderr, "uCreate failed\n");
        return 1;
    }
    std::string path = info.interfacePath;
    win::unique_file control(OpenPath(path, GENERIC_READ | GENERIC_WRITE));
    win::unique_file out(OpenPath(path + PIPE_OUT_SUFFIX, GENERIC_WRITE));
    win::unique_file in(OpenPath(path + PIPE_IN_SUFFIX, GENERIC_READ));
    if (!control || !out || !in) {
        std::fprintf(stderr, "raw pipes could not be opened\n");
        return 1;
    }

    std::vector<uint8_t> buffer(kBytes);
    std::vector<Round> reads, writes;
    bool ok = true;
    for (int i = 0; i < rounds && ok; ++i) {
        // Library, raw in even rounds; raw, library in odd ones: neither side
        // always runs first, on a cold or a warm cache.
        Round read, write;
        if (i % 2 == 0) {
            read.library = LibraryRead(buffer);
            read.raw = RawRead(control.get(), in.get(), buffer);
            write.library = LibraryWrite(buffer);
            write.raw = RawWrite(control.get(), out.get(), buffer);
        } else {
            read.raw = RawRead(control.get(), in.get(), buffer);
            read.library = LibraryRead(buffer);
            write.raw = RawWrite(control.get(), out.get(), buffer);
            write.library = LibraryWrite(buffer);
        }
        ok = read.library > 0 && read.raw > 0 && write.library > 0 && write.raw > 0;
        reads.push_back(read);
        writes.push_back(write);
    }
    uClose();
    uSetDelay(100);
    if (!ok) {
        std::fprintf(stderr, "a transfer failed\n");
        return 1;
    }
    std::printf("%d-bit uXfer.dll: %u bytes in %u chunks of %u, %d rounds, medians:\n",
                static_cast<int>(8 * sizeof(void*)), kBytes, kChunks, XFER_CHUNK, rounds);
    Report("read", reads);
    Report("write", writes);
    return 0;
}
