// Read and Write with arrays as script engines pass them (by value, by
// reference, arrays of numbers; arguments by position and by name), and the
// settings uxfer has as options (NoReset, Pad).
#include <objbase.h>
#include <oleauto.h>

#include <cstring>

#include "automation/auto_support.h"
#include "common/com_ref.h"
#include "common/device_log.h"
#include "usb_protocol.h"
#include "uXferAuto.h"
#include "win/text.h"

namespace {

struct Called {
    HRESULT result;
    std::string description;
};

// `name` called through IDispatch with `flags`, its arguments in their order,
// the last of them named by `names` (parameter names); the arguments stay the
// caller's.  `value` receives what it returns, when given.
Called Dispatch(IDispatch* dev, const wchar_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* value,
                std::vector<const wchar_t*> names = {})
{
    std::vector<LPOLESTR> asked{const_cast<LPOLESTR>(name)};
    for (const wchar_t* n : names)
        asked.push_back(const_cast<LPOLESTR>(n));
    std::vector<DISPID> ids(asked.size(), DISPID_UNKNOWN);
    HRESULT result = dev->GetIDsOfNames(IID_NULL, asked.data(), static_cast<UINT>(asked.size()),
                                        LOCALE_USER_DEFAULT, ids.data());
    if (FAILED(result))
        return {result, "no such name"};
    // Named arguments first, in the order of their ids; the others last to first.
    const size_t positional = args.size() - names.size();
    std::vector<VARIANT> placed(args.begin() + positional, args.end());
    placed.insert(placed.end(), args.rend() - positional, args.rend());
    DISPPARAMS params{placed.data(), ids.data() + 1, static_cast<UINT>(placed.size()), static_cast<UINT>(names.size())};
    EXCEPINFO exception{};
    result = dev->Invoke(ids[0], IID_NULL, LOCALE_USER_DEFAULT, flags, &params, value, &exception, nullptr);
    Called called{result, ""};
    if (result == DISP_E_EXCEPTION) {
        called.result = exception.scode;
        called.description = win::Narrow(exception.bstrDescription ? exception.bstrDescription : L"", CP_UTF8);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrHelpFile);
    }
    return called;
}

Called Method(IDispatch* dev, const wchar_t* name, std::vector<VARIANT> args, VARIANT* value = nullptr,
              std::vector<const wchar_t*> names = {})
{
    return Dispatch(dev, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, std::move(args), value, std::move(names));
}

Called Put(IDispatch* dev, const wchar_t* name, bool on)
{
    VARIANT flag;
    V_VT(&flag) = VT_BOOL;
    V_BOOL(&flag) = on ? VARIANT_TRUE : VARIANT_FALSE;
    DISPID id = DISPID_UNKNOWN, put = DISPID_PROPERTYPUT;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT result = dev->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    DISPPARAMS params{&flag, &put, 1, 1};
    if (SUCCEEDED(result))
        result = dev->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                             nullptr);
    return {result, ""};
}

VARIANT Missing()
{
    VARIANT v;
    V_VT(&v) = VT_ERROR;
    V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
    return v;
}

std::vector<uint8_t> Bytes(const VARIANT& array)
{
    std::vector<uint8_t> bytes;
    void* items = nullptr;
    if (V_VT(&array) != (VT_ARRAY | VT_UI1) || FAILED(SafeArrayAccessData(V_ARRAY(&array), &items)))
        return bytes;
    bytes.assign(static_cast<uint8_t*>(items), static_cast<uint8_t*>(items) + V_ARRAY(&array)->rgsabound[0].cElements);
    SafeArrayUnaccessData(V_ARRAY(&array));
    return bytes;
}

class AutoMembers : public AutoTest {
protected:
    void SetUp() override
    {
        AutoTest::SetUp();
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_XferDevice, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                         dev.OutVoid()));
    }
    void TearDown() override
    {
        dev.Reset();
        CoUninitialize();
    }
    std::vector<uint8_t> Memory(uint32_t address, size_t wireBytes)
    {
        std::vector<uint8_t> bytes(wireBytes);
        EXPECT_TRUE(device.ReadMemory(2 * address, bytes.data(), bytes.size()));
        return bytes;
    }

    Ref<IDispatch> dev;
};

// How the array Read returned goes back to Write.
enum class Pass { Array, ArrayRef, VariableRef, Numbers };

struct ArrayCase {
    const char* name;
    bool raw;
    uint32_t words;
    Pass pass;
    HRESULT written;
};

void PrintTo(const ArrayCase& c, std::ostream* os)
{
    *os << c.name;
}

class AutoArrays : public AutoMembers, public testing::WithParamInterface<ArrayCase> {};

TEST_P(AutoArrays, ReadAndWriteRoundTrip)
{
    const ArrayCase& c = GetParam();
    const uint32_t from = 0x100, to = 0x80000;
    const std::vector<uint8_t> wire = Pattern(2 * c.words + 2, 31);
    LoadWords(from, wire);
    ASSERT_EQ(S_OK, Put(dev.Get(), L"Raw", c.raw).result);

    VARIANT data;
    VariantInit(&data);
    const Called read = Method(dev.Get(), L"Read", {Number(from), Number(static_cast<LONG>(c.words))}, &data);
    ASSERT_EQ(S_OK, read.result) << read.description;
    std::vector<uint8_t> expected;
    for (uint32_t i = 0; i < c.words; ++i) {
        expected.push_back(wire[2 * i]);
        if (c.raw)
            expected.push_back(wire[2 * i + 1]);
    }
    const std::vector<uint8_t> bytes = Bytes(data);
    EXPECT_EQ(expected, bytes);

    VARIANT sent;
    V_VT(&sent) = VT_BYREF | V_VT(&data);
    V_ARRAYREF(&sent) = &V_ARRAY(&data);
    if (c.pass == Pass::Array) {
        sent = data;
    } else if (c.pass == Pass::VariableRef) {
        V_VT(&sent) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&sent) = &data;
    } else if (c.pass == Pass::Numbers) {
        // A script's own array: Variants holding numbers of several types.
        VariantClear(&data);
        V_VT(&data) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(&data) = SafeArrayCreateVector(VT_VARIANT, 1, static_cast<ULONG>(bytes.size()));
        VARIANT* items = nullptr;
        ASSERT_EQ(S_OK, SafeArrayAccessData(V_ARRAY(&data), reinterpret_cast<void**>(&items)));
        for (size_t i = 0; i < bytes.size(); ++i) {
            V_VT(&items[i]) = i % 2 ? VT_I4 : VT_UI1;
            i % 2 ? (V_I4(&items[i]) = bytes[i]) : (V_UI1(&items[i]) = bytes[i]);
        }
        SafeArrayUnaccessData(V_ARRAY(&data));
        V_VT(&sent) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&sent) = &data;
    }
    VARIANT count;
    VariantInit(&count);
    const Called write = Method(dev.Get(), L"Write", {Number(to), sent}, &count);
    EXPECT_EQ(c.written, write.result) << std::hex << write.result << " " << write.description;
    if (SUCCEEDED(c.written)) {
        EXPECT_EQ(VT_I4, V_VT(&count));
        EXPECT_EQ(static_cast<LONG>(bytes.size()), V_I4(&count));
        std::vector<uint8_t> stored = wire;
        stored.resize(2 * c.words);
        if (!c.raw)
            for (uint32_t i = 0; i < c.words; ++i)
                stored[2 * i + 1] = 0xFF;  // the default format's second byte
        EXPECT_EQ(stored, Memory(to, stored.size()));
    } else {
        EXPECT_NE(std::string::npos, write.description.find("odd")) << write.description;
        EXPECT_EQ(std::vector<uint8_t>(2 * c.words, 0), Memory(to, 2 * c.words)) << "written after all";
    }
    EXPECT_EQ(expected, c.pass == Pass::Numbers ? expected : Bytes(data)) << "the caller's array changed";
    VariantClear(&data);
}

INSTANTIATE_TEST_SUITE_P(
    Arrays, AutoArrays,
    testing::Values(ArrayCase{"TwoChunksAndABit", false, 70002, Pass::Array, S_OK},
                    ArrayCase{"OddWordsReadButNotWritten", false, 70001, Pass::Array, UXA_E_ARGUMENT},
                    ArrayCase{"RawOddWords", true, 777, Pass::Array, UXA_E_ARGUMENT},
                    ArrayCase{"RawByReference", true, 4096, Pass::ArrayRef, S_OK},
                    ArrayCase{"VariableByReference", false, 4098, Pass::VariableRef, S_OK},
                    ArrayCase{"NumbersOfAScript", false, 258, Pass::Numbers, S_OK}),
    [](const testing::TestParamInfo<ArrayCase>& info) { return std::string(info.param.name); });

// Calls of Read and Write through IDispatch as hosts may make them.
struct CallCase {
    const char* name;
    Called (*call)(IDispatch* dev, VARIANT* value);
    HRESULT expected;
    VARTYPE type;  // of the value returned
};

void PrintTo(const CallCase& c, std::ostream* os)
{
    *os << c.name;
}

VARIANT Bytes16()
{
    VARIANT v;
    V_VT(&v) = VT_ARRAY | VT_UI1;
    V_ARRAY(&v) = SafeArrayCreateVector(VT_UI1, 0, 16);
    return v;
}

const CallCase kCallCases[] = {
    {"ModeByName",
     [](IDispatch* dev, VARIANT* value) {
         return Method(dev, L"Read", {Number(0), Number(16), Number(3)}, value, {L"mode"});
     },
     S_OK, VT_ARRAY | VT_UI1},
    {"SizeByNameBeforeAddress",
     [](IDispatch* dev, VARIANT* value) {
         return Method(dev, L"Read", {Number(16), Number(0)}, value, {L"size", L"address"});
     },
     S_OK, VT_ARRAY | VT_UI1},
    {"ModeLeftOutInTheMiddle",
     [](IDispatch* dev, VARIANT* value) { return Method(dev, L"Read", {Number(0), Number(16), Missing()}, value); },
     S_OK, VT_ARRAY | VT_UI1},
    {"NoPlaceForTheResult",
     [](IDispatch* dev, VARIANT*) {
         VARIANT data = Bytes16();
         const Called called = Method(dev, L"Write", {Number(0), data}, nullptr);
         VariantClear(&data);
         return called;
     },
     S_OK, VT_EMPTY},
    {"WriteReturnsTheBytesSent",
     [](IDispatch* dev, VARIANT* value) {
         VARIANT data = Bytes16();
         const Called called = Method(dev, L"Write", {Number(0), data}, value);
         VariantClear(&data);
         return called;
     },
     S_OK, VT_I4},
    {"SizeMissing", [](IDispatch* dev, VARIANT* value) { return Method(dev, L"Read", {Number(0)}, value); },
     DISP_E_PARAMNOTOPTIONAL, VT_EMPTY},
    {"TooManyArguments",
     [](IDispatch* dev, VARIANT* value) {
         return Method(dev, L"Read", {Number(0), Number(16), Number(0), Number(0)}, value);
     },
     DISP_E_BADPARAMCOUNT, VT_EMPTY},
    {"NotAnArray",
     [](IDispatch* dev, VARIANT* value) { return Method(dev, L"Write", {Number(0), Number(16)}, value); },
     UXA_E_ARGUMENT, VT_EMPTY},
    {"NotANumber",
     [](IDispatch* dev, VARIANT* value) { return Method(dev, L"Read", {Text(L"zz"), Number(16)}, value); },
     UXA_E_ARGUMENT, VT_EMPTY},
    {"NumberPastAByte",
     [](IDispatch* dev, VARIANT* value) {
         VARIANT data;
         V_VT(&data) = VT_ARRAY | VT_VARIANT;
         V_ARRAY(&data) = SafeArrayCreateVector(VT_VARIANT, 0, 2);
         LONG at = 1;
         VARIANT big = Number(256);
         SafeArrayPutElement(V_ARRAY(&data), &at, &big);
         const Called called = Method(dev, L"Write", {Number(0), data}, value);
         VariantClear(&data);
         return called;
     },
     UXA_E_ARGUMENT, VT_EMPTY},
    {"AssignedAsAProperty",
     [](IDispatch* dev, VARIANT* value) {
         VARIANT data = Bytes16();
         const Called called = Dispatch(dev, L"Write", DISPATCH_PROPERTYPUT, {data}, value);
         VariantClear(&data);
         return called;
     },
     DISP_E_MEMBERNOTFOUND, VT_EMPTY},
};

class AutoCalls : public AutoMembers, public testing::WithParamInterface<CallCase> {};

TEST_P(AutoCalls, ArgumentsAsTheTypeLibraryTakesThem)
{
    VARIANT value;
    VariantInit(&value);
    const Called called = GetParam().call(dev.Get(), &value);
    EXPECT_EQ(GetParam().expected, called.result) << std::hex << called.result << " " << called.description;
    EXPECT_EQ(GetParam().type, V_VT(&value));
    EXPECT_EQ(called.result == UXA_E_ARGUMENT, !called.description.empty()) << called.description;
    VariantClear(&value);
}

INSTANTIATE_TEST_SUITE_P(Calls, AutoCalls, testing::ValuesIn(kCallCases),
                         [](const testing::TestParamInfo<CallCase>& info) { return std::string(info.param.name); });

// uxfer's --no-reset and --pad as the object's NoReset and Pad: a call with
// the setting, or without it, on a device whose reset command fails.
struct OptionCase {
    const char* name;
    bool noReset, pad, failResetCommand;
    bool verify;
    uint32_t words;  // of a 16-byte image.bin written with WriteFromFile
    HRESULT expected;
    const char* fragment;  // of the description
};

void PrintTo(const OptionCase& c, std::ostream* os)
{
    *os << c.name;
}

class AutoOptions : public AutoMembers, public testing::WithParamInterface<OptionCase> {};

TEST_P(AutoOptions, AsUxferOptions)
{
    const OptionCase& c = GetParam();
    const std::vector<uint8_t> image = Pattern(16, 41);
    ASSERT_TRUE(dumptest::WriteAll(scratch.File("image.bin"), image));
    if (c.failResetCommand) {
        ASSERT_TRUE(device.FailControl(1, REQ_DEBUG));
    }
    ASSERT_EQ(S_OK, Put(dev.Get(), L"NoReset", c.noReset).result);
    ASSERT_EQ(S_OK, Put(dev.Get(), L"Pad", c.pad).result);
    VARIANT verify;
    V_VT(&verify) = VT_BOOL;
    V_BOOL(&verify) = c.verify ? VARIANT_TRUE : VARIANT_FALSE;
    VARIANT path = Text(win::Widen(scratch.File("image.bin"), CP_ACP).c_str());
    VARIANT value;
    VariantInit(&value);
    const Called called = Method(dev.Get(), L"WriteFromFile",
                                 {path, Number(0), Number(static_cast<LONG>(c.words)), Missing(), verify}, &value);
    VariantClear(&path);
    EXPECT_EQ(c.expected, called.result) << std::hex << called.result << " " << called.description;
    EXPECT_NE(std::string::npos, called.description.find(c.fragment)) << called.description;
    const bool resetCommandSent = !Requests(device.Log(), REQ_DEBUG).empty();
    // A refused argument reaches no device.
    EXPECT_EQ(!c.noReset && c.expected != UXA_E_ARGUMENT, resetCommandSent) << Dump(device.Log());
    if (SUCCEEDED(c.expected)) {
        EXPECT_EQ(VT_I4, V_VT(&value));
        EXPECT_EQ(static_cast<LONG>(c.words), V_I4(&value));
        std::vector<uint8_t> stored(2 * c.words, 0xFF);
        for (uint32_t i = 0; i < c.words; ++i)
            stored[2 * i] = i < image.size() ? image[i] : 0;  // zeros past the end of a padded file
        EXPECT_EQ(stored, Memory(0, stored.size()));
    }
    VariantClear(&value);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, AutoOptions,
    testing::Values(
        OptionCase{"FailingResetCommandSaysNoReset", false, false, true, false, 16, UXA_E_DEVICE,
                   ", or NoReset = True"},
        OptionCase{"NoResetGetsPastIt", true, false, true, false, 16, S_OK, ""},
        OptionCase{"NoResetAlsoBeforeTheReadBack", true, false, true, true, 16, S_OK, ""},
        OptionCase{"ShortFileSaysPad", false, false, false, false, 20, UXA_E_ARGUMENT,
                   "add Pad = True to fill the rest with zeros, or give a smaller size"},
        OptionCase{"PadFillsWithZeros", false, true, false, true, 20, S_OK, ""}),
    [](const testing::TestParamInfo<OptionCase>& info) { return std::string(info.param.name); });

}  // namespace
