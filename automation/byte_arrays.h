// The arrays of Read and Write as the transfer's own sink and source: a read
// fills the array it returns, a write sends from the caller's array where it
// lies, so that a range is held once, as the array.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <cstdint>

#include "failure.h"
#include "ops/files.h"

namespace automation {

// A Byte array (VT_ARRAY | VT_UI1) the read fills.
class ArraySink : public ops::Sink {
public:
    ArraySink() = default;
    ~ArraySink() override;
    ArraySink(const ArraySink&) = delete;
    ArraySink& operator=(const ArraySink&) = delete;

    // An array of `bytes` bytes, before the device is touched.
    Failure Create(uint64_t bytes);
    bool Streams() const override { return true; }
    bool Append(const uint8_t* data, uint32_t bytes) override;
    ops::Error WriteFailed(ops::SystemError) const override { return {}; }
    // Moves the whole array into `result` (no copy); the sink holds none after.
    void Give(VARIANT* result);

private:
    SAFEARRAY* array_ = nullptr;
    uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
};

// The caller's array of bytes (or of numbers 0 to 255, converted a block at a
// time), locked while the source lives so that it can't be resized or freed
// under the transfer.
class ArraySource : public ops::Source {
public:
    ArraySource() = default;
    ~ArraySource() override;
    ArraySource(const ArraySource&) = delete;
    ArraySource& operator=(const ArraySource&) = delete;

    // The array `value` holds, also by reference; every number checked.
    Failure Open(const VARIANT& value);
    bool Read(uint8_t* buffer, uint32_t bytes) override;
    bool Rewind() override;

private:
    SAFEARRAY* array_ = nullptr;
    const void* items_ = nullptr;
    bool variants_ = false;  // else bytes
    LONG low_ = 0;
    uint64_t position_ = 0;
};

}  // namespace automation
