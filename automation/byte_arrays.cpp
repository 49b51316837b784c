#include "byte_arrays.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include "arguments.h"
#include "uXferAuto.h"

namespace automation {

namespace {

// Element `index` of an array of numbers as a byte.
Failure ByteOf(const VARIANT& item, LONG index, uint8_t& byte)
{
    static const NumberRule kByte = {"data", false, 0xFF, "a byte is at most 255"};
    uint32_t number = 0;
    Failure failure = ToNumber(item, kByte, number);
    if (failure)
        failure.text = "data(" + std::to_string(index) + ")" + failure.text.substr(4);
    byte = static_cast<uint8_t>(number);
    return failure;
}

}  // namespace

ArraySink::~ArraySink()
{
    if (array_) {
        SafeArrayUnaccessData(array_);
        SafeArrayDestroy(array_);
    }
}

Failure ArraySink::Create(uint64_t bytes)
{
    // A count near the top of a 32-bit size would wrap the size of the array
    // with its header, which the system adds unchecked: refused as too large.
    if (bytes <= ULONG_MAX && bytes <= SIZE_MAX - 0x10000)
        array_ = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes));
    void* items = nullptr;
    if (!array_ || FAILED(SafeArrayAccessData(array_, &items))) {
        if (array_)
            SafeArrayDestroy(array_);
        array_ = nullptr;
        return NoMemory("an array of " + std::to_string(bytes) + " bytes");
    }
    data_ = static_cast<uint8_t*>(items);
    return {};
}

bool ArraySink::Append(const uint8_t* data, uint32_t bytes)
{
    std::memcpy(data_ + size_, data, bytes);
    size_ += bytes;
    return true;
}

void ArraySink::Give(VARIANT* result)
{
    SafeArrayUnaccessData(array_);
    VariantInit(result);
    V_VT(result) = VT_ARRAY | VT_UI1;
    V_ARRAY(result) = array_;
    array_ = nullptr;
}

ArraySource::~ArraySource()
{
    if (array_)
        SafeArrayUnaccessData(array_);
}

Failure ArraySource::Open(const VARIANT& argument)
{
    name_ = "data";
    const VARIANT* value = &argument;
    if (V_VT(value) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(value))
        value = V_VARIANTREF(value);
    const VARTYPE type = V_VT(value) & ~VT_BYREF;
    SAFEARRAY* array = !(type & VT_ARRAY)          ? nullptr
                       : !(V_VT(value) & VT_BYREF) ? V_ARRAY(value)
                       : V_ARRAYREF(value)         ? *V_ARRAYREF(value)
                                                   : nullptr;
    if (!array || SafeArrayGetDim(array) != 1)
        return Fail(UXA_E_ARGUMENT, "data: give an array of bytes (one dimension)");
    if ((type & VT_TYPEMASK) != VT_UI1 && (type & VT_TYPEMASK) != VT_VARIANT)
        return Fail(UXA_E_ARGUMENT, "data: give an array of bytes, or of numbers 0 to 255");
    LONG high = -1;
    SafeArrayGetLBound(array, 1, &low_);
    SafeArrayGetUBound(array, 1, &high);
    length_ = high >= low_ ? static_cast<uint64_t>(high - low_) + 1 : 0;
    if (length_ == 0)
        return Fail(UXA_E_ARGUMENT, "data is empty: there is nothing to write");
    void* items = nullptr;
    if (FAILED(SafeArrayAccessData(array, &items)))
        return Fail(UXA_E_ARGUMENT, "data: the array can't be read");
    array_ = array;
    items_ = items;
    variants_ = (type & VT_TYPEMASK) == VT_VARIANT;
    // Numbers are checked before the device is touched, and converted again as they are sent.
    if (variants_) {
        const auto* variants = static_cast<const VARIANT*>(items_);
        uint8_t byte = 0;
        for (uint64_t i = 0; i < length_; ++i)
            if (Failure failure = ByteOf(variants[i], static_cast<LONG>(low_ + i), byte))
                return failure;
    }
    return {};
}

bool ArraySource::Read(uint8_t* buffer, uint32_t bytes)
{
    if (!variants_) {
        std::memcpy(buffer, static_cast<const uint8_t*>(items_) + position_, bytes);
    } else {
        const auto* variants = static_cast<const VARIANT*>(items_) + position_;
        for (uint32_t i = 0; i < bytes; ++i)
            // A progress handler may have changed the number since it was checked.
            if (ByteOf(variants[i], static_cast<LONG>(low_ + position_ + i), buffer[i])) {
                SetLastError(ERROR_INVALID_DATA);
                return false;
            }
    }
    position_ += bytes;
    return true;
}

bool ArraySource::Rewind()
{
    position_ = 0;
    return true;
}

}  // namespace automation
