#include "device_log.h"

#include <cstring>

namespace dumptest {

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

std::vector<uint8_t> Bytes(std::initializer_list<int> values)
{
    std::vector<uint8_t> bytes;
    for (int v : values)
        bytes.push_back(static_cast<uint8_t>(v));
    return bytes;
}

}  // namespace dumptest
