// What the virtual device received, in the terms the dump tool speaks: vendor
// requests with their data stages, and pipe transfers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vdev_client.h"

namespace dumptest {

struct VendorCall {
    uint8_t request;
    uint16_t value;
    uint16_t index;
    std::vector<uint8_t> stage;
    uint32_t Word(unsigned i) const;  // i-th 32-bit word of the stage
};

struct PipeTransfer {
    uint16_t type;  // VDEV_LOG_READ or VDEV_LOG_WRITE
    uint16_t pipe;
    uint32_t requested;
    uint32_t moved;
    std::vector<uint8_t> head;  // the first bytes moved
};

// Vendor requests other than status polls, in order.
std::vector<VendorCall> VendorCalls(const std::vector<VdevLogRecord>& log);
std::vector<PipeTransfer> PipeTransfers(const std::vector<VdevLogRecord>& log);
unsigned CountType(const std::vector<VdevLogRecord>& log, uint16_t type);
// The whole log, one record a line, for failure messages.
std::string Dump(const std::vector<VdevLogRecord>& log);

std::vector<uint8_t> Bytes(std::initializer_list<int> values);

}  // namespace dumptest
