#include "arguments.h"

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
    // VBScript and VBA read &H8000 to &HFFFF as negative Integers.
    std::string hexInteger;
    if (value.Type() == VT_I2 && V_I2(&*value) < 0) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(static_cast<uint16_t>(V_I2(&*value))));
        hexInteger = std::string("; VBScript and VBA read &H") + hex + " as the Integer " +
                     std::to_string(V_I2(&*value)) + ": write &H" + hex + "& (a Long) or \"0x" + hex + "\"";
    }
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
        return Fail(UXA_E_ARGUMENT, problem + hexInteger);
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
