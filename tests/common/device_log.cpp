#include "common/device_log.h"

#include <cstring>

#include "usb_protocol.h"

std::vector<VdevLogRecord> Requests(const std::vector<VdevLogRecord>& log, uint8_t request)
{
    std::vector<VdevLogRecord> found;
    for (const VdevLogRecord& r : log)
        if (r.type == VDEV_LOG_CONTROL && r.a == IOCTL_VENDOR_REQUEST && r.inLen >= 12 && r.data[4] == request)
            found.push_back(r);
    return found;
}

std::vector<uint8_t> Bytes(const VdevLogRecord& record)
{
    return std::vector<uint8_t>(record.data, record.data + record.dataLen);
}

std::vector<uint8_t> Block(uint8_t direction, uint8_t request, uint16_t value, uint16_t index, uint16_t length)
{
    return {direction,
            2,
            0,
            static_cast<uint8_t>(direction ? 0xC0 : 0x40),
            request,
            0,
            static_cast<uint8_t>(value),
            static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(index),
            static_cast<uint8_t>(index >> 8),
            static_cast<uint8_t>(length),
            static_cast<uint8_t>(length >> 8)};
}

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words)
{
    std::vector<uint8_t> stage(words.size() * 4);
    unsigned i = 0;
    for (uint32_t w : words)
        StagePutWord(stage.data(), i++, w);
    return stage;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<uint8_t> Pattern(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

uint32_t VendorCall::Word(unsigned i) const
{
    if (stage.size() < 4 * (i + 1))
        return 0xDEADBEEF;
    return StageGetWord(stage.data(), i);
}

std::vector<VendorCall> VendorCalls(const std::vector<VdevLogRecord>& log)
{
    std::vector<VendorCall> calls;
    for (const VdevLogRecord& r : log) {
        if (r.type != VDEV_LOG_CONTROL || r.a != IOCTL_VENDOR_REQUEST || r.inLen < sizeof(VendorCommandBlock))
            continue;
        VendorCommandBlock block;
        std::memcpy(&block, r.data, sizeof block);
        if (block.bRequest == REQ_STATUS)
            continue;
        VendorCall call{block.bRequest, block.wValue, block.wIndex, {}};
        call.stage.assign(r.data + r.inLen, r.data + r.dataLen);
        calls.push_back(call);
    }
    return calls;
}

std::vector<PipeTransfer> PipeTransfers(const std::vector<VdevLogRecord>& log)
{
    std::vector<PipeTransfer> transfers;
    for (const VdevLogRecord& r : log) {
        if (r.type == VDEV_LOG_READ || r.type == VDEV_LOG_WRITE)
            transfers.push_back({r.type, r.pipe, r.a, r.b, std::vector<uint8_t>(r.data, r.data + r.dataLen)});
    }
    return transfers;
}

unsigned CountType(const std::vector<VdevLogRecord>& log, uint16_t type)
{
    unsigned n = 0;
    for (const VdevLogRecord& r : log)
        n += r.type == type;
    return n;
}

std::string Dump(const std::vector<VdevLogRecord>& log)
{
    std::string text;
    for (const VdevLogRecord& r : log)
        text += vdev::Describe(r) + "\n";
    return text;
}

std::vector<uint8_t> ByteList(std::initializer_list<int> values)
{
    std::vector<uint8_t> bytes;
    for (int v : values)
        bytes.push_back(static_cast<uint8_t>(v));
    return bytes;
}
