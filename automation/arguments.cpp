#include "arguments.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "dump/numbers.h"
#include "uXferAuto.h"
#include "win/text.h"

namespace automation {

namespace {

// The argument itself, also when the host passed a reference to it.
class Value {
public:
    explicit Value(const VARIANT& value)
    {
        VariantInit(&value_);
        ok_ = SUCCEEDED(VariantCopyInd(&value_, const_cast<VARIANT*>(&value)));
    }
    ~Value() { VariantClear(&value_); }
    Value(const Value&) = delete;
    Value& operator=(const Value&) = delete;

    bool Ok() const { return ok_; }
    VARIANT& operator*() { return value_; }
    VARTYPE Type() const { return V_VT(&value_); }

private:
    VARIANT value_;
    bool ok_;
};

std::string Text(VARIANT& value)
{
    if (V_VT(&value) == VT_BSTR)
        return win::Narrow(V_BSTR(&value) ? V_BSTR(&value) : L"", CP_UTF8);
    if (FAILED(VariantChangeType(&value, &value, 0, VT_BSTR)))
        return "?";
    return win::Narrow(V_BSTR(&value), CP_UTF8);
}

bool IsNumeric(VARTYPE type)
{
    switch (type) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_I8: case VT_UI8:
    case VT_INT: case VT_UINT: case VT_R4: case VT_R8: case VT_CY: case VT_DECIMAL:
        return true;
    default:
        return false;
    }
}

}  // namespace

bool Missing(const VARIANT& value)
{
    const VARIANT* v = &value;
    if (V_VT(v) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(v))
        v = V_VARIANTREF(v);
    return V_VT(v) == VT_EMPTY || (V_VT(v) == VT_ERROR && V_ERROR(v) == DISP_E_PARAMNOTFOUND);
}

Failure ToNumber(const VARIANT& argument, const NumberRule& rule, uint32_t& number)
{
    Value value(argument);
    if (!value.Ok())
        return Fail(UXA_E_ARGUMENT, std::string(rule.name) + ": the value can't be read");
    std::string text;
    if (value.Type() == VT_BSTR) {
        text = Text(*value);
    } else {
        if (!IsNumeric(value.Type()))
            return Fail(UXA_E_ARGUMENT, std::string(rule.name) + ": give a number, or text such as \"0x1000\"");
        // A whole number goes on as its digits; any other as the host writes it, which is refused.
        const bool whole = SUCCEEDED(VariantChangeType(&*value, &*value, 0, VT_R8)) && V_R8(&*value) >= 0 &&
                           V_R8(&*value) == std::floor(V_R8(&*value));
        if (whole) {
            char digits[400];
            std::snprintf(digits, sizeof digits, "%.0f", V_R8(&*value));
            text = digits;
        } else {
            text = Text(*value);
        }
    }
    uint64_t parsed = 0;
    const std::string problem = dump::NumberProblem(rule.name, text, rule.allowUnit, rule.max, rule.limit, parsed);
    if (!problem.empty())
        return Fail(UXA_E_ARGUMENT, problem);
    number = static_cast<uint32_t>(parsed);
    return {};
}

Failure ToFlag(const VARIANT& argument, const char* name, bool& flag)
{
    Value value(argument);
    if (!value.Ok() || FAILED(VariantChangeType(&*value, &*value, 0, VT_BOOL)))
        return Fail(UXA_E_ARGUMENT, std::string(name) + ": give True or False");
    flag = V_BOOL(&*value) != VARIANT_FALSE;
    return {};
}

Failure ToBytes(const VARIANT& argument, std::vector<uint8_t>& bytes)
{
    // Read where it is: a copy of a large array may not fit beside it.
    const VARIANT* value = &argument;
    if (V_VT(value) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(value))
        value = V_VARIANTREF(value);
    const VARTYPE type = V_VT(value) & ~VT_BYREF;
    SAFEARRAY* array = !(type & VT_ARRAY)              ? nullptr
                       : !(V_VT(value) & VT_BYREF)     ? V_ARRAY(value)
                       : V_ARRAYREF(value)             ? *V_ARRAYREF(value)
                                                       : nullptr;
    if (!array || SafeArrayGetDim(array) != 1)
        return Fail(UXA_E_ARGUMENT, "data: give an array of bytes (one dimension)");
    LONG low = 0, high = -1;
    SafeArrayGetLBound(array, 1, &low);
    SafeArrayGetUBound(array, 1, &high);
    const uint64_t count = high >= low ? static_cast<uint64_t>(high - low) + 1 : 0;
    if (count == 0)
        return Fail(UXA_E_ARGUMENT, "data is empty: there is nothing to write");
    try {
        bytes.resize(count);
    } catch (const std::exception&) {  // bad_alloc, or length_error past what a vector holds
        return NoMemory("the data of " + std::to_string(count) + " bytes");
    }
    void* items = nullptr;
    if (FAILED(SafeArrayAccessData(array, &items)))
        return Fail(UXA_E_ARGUMENT, "data: the array can't be read");
    Failure failure;
    if ((type & VT_TYPEMASK) == VT_UI1) {
        std::copy_n(static_cast<const uint8_t*>(items), count, bytes.begin());
    } else if ((type & VT_TYPEMASK) == VT_VARIANT) {
        static const NumberRule kByte = {"data", false, 0xFF, "a byte is at most 255"};
        const auto* variants = static_cast<const VARIANT*>(items);
        for (uint64_t i = 0; i < count && !failure; ++i) {
            uint32_t number = 0;
            failure = ToNumber(variants[i], kByte, number);
            if (failure)
                failure.text = "data(" + std::to_string(low + i) + ")" + failure.text.substr(4);
            bytes[i] = static_cast<uint8_t>(number);
        }
    } else {
        failure = Fail(UXA_E_ARGUMENT, "data: give an array of bytes, or of numbers 0 to 255");
    }
    SafeArrayUnaccessData(array);
    return failure;
}

void PutNumber(int64_t number, VARIANT* result)
{
    VariantInit(result);
    if (number >= INT32_MIN && number <= INT32_MAX) {
        V_VT(result) = VT_I4;
        V_I4(result) = static_cast<LONG>(number);
    } else {
        V_VT(result) = VT_R8;
        V_R8(result) = static_cast<double>(number);
    }
}

Failure PutBytes(const uint8_t* bytes, uint32_t count, VARIANT* result)
{
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, count);
    void* items = nullptr;
    if (!array || FAILED(SafeArrayAccessData(array, &items))) {
        if (array)
            SafeArrayDestroy(array);
        return NoMemory("an array of " + std::to_string(count) + " bytes");
    }
    std::copy_n(bytes, count, static_cast<uint8_t*>(items));
    SafeArrayUnaccessData(array);
    VariantInit(result);
    V_VT(result) = VT_ARRAY | VT_UI1;
    V_ARRAY(result) = array;
    return {};
}

namespace {

// An array of `count` Variants, each set by `put`.
template <typename Put>
Failure PutVariants(uint32_t count, Put put, VARIANT* result)
{
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, count);
    void* items = nullptr;
    if (!array || FAILED(SafeArrayAccessData(array, &items))) {
        if (array)
            SafeArrayDestroy(array);
        return NoMemory("an array of " + std::to_string(count) + " values");
    }
    auto* variants = static_cast<VARIANT*>(items);
    bool ok = true;
    for (uint32_t i = 0; i < count; ++i)
        ok = put(i, variants[i]) && ok;
    SafeArrayUnaccessData(array);
    if (!ok) {
        SafeArrayDestroy(array);
        return NoMemory("an array of " + std::to_string(count) + " values");
    }
    VariantInit(result);
    V_VT(result) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(result) = array;
    return {};
}

}  // namespace

Failure PutStrings(const std::vector<std::wstring>& strings, VARIANT* result)
{
    return PutVariants(
        static_cast<uint32_t>(strings.size()),
        [&](uint32_t i, VARIANT& item) {
            V_VT(&item) = VT_BSTR;
            V_BSTR(&item) = SysAllocStringLen(strings[i].data(), static_cast<UINT>(strings[i].size()));
            return V_BSTR(&item) != nullptr;
        },
        result);
}

Failure PutLongs(const uint8_t* values, uint32_t count, VARIANT* result)
{
    return PutVariants(
        count,
        [&](uint32_t i, VARIANT& item) {
            V_VT(&item) = VT_I4;
            V_I4(&item) = values[i];
            return true;
        },
        result);
}

Failure PutText(const std::string& text, VARIANT* result)
{
    VariantInit(result);
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = SysAllocString(win::Widen(text, CP_UTF8).c_str());
    return V_BSTR(result) ? Failure{} : NoMemory("a text");
}

Failure NoMemory(const std::string& what)
{
    return Fail(UXA_E_NO_MEMORY, "not enough memory for " + what);
}

}  // namespace automation
