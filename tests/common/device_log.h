// Views of the virtual device's log and the bytes the tests expect in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
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
