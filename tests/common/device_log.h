// Views of the virtual device's log and the bytes the tests expect in it: raw
// records, and the terms the dump tool speaks (vendor requests with their data
// stages, pipe transfers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "vdev_client.h"

// The vendor requests with this bRequest, in order.
std::vector<VdevLogRecord> Requests(const std::vector<VdevLogRecord>& log, uint8_t request);
// Bytes of a control record: the 12-byte block, then the data stage.
std::vector<uint8_t> Bytes(const VdevLogRecord& record);
// The 12-byte block of a vendor request as the driver receives it.
std::vector<uint8_t> Block(uint8_t direction, uint8_t request, uint16_t value, uint16_t index, uint16_t length);
// 32-bit words as a little-endian data stage.
std::vector<uint8_t> Words(std::initializer_list<uint32_t> words);
std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b);
// Reproducible pseudo-random bytes, different for each seed.
std::vector<uint8_t> Pattern(size_t size, uint32_t seed);

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

// Bytes written out as numbers (or characters).
std::vector<uint8_t> ByteList(std::initializer_list<int> values);
