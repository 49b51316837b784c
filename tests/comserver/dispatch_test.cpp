// The embedded type library and the IDispatch half: answered from the
// registered library, names from the cache in their exact case, every method
// reachable late-bound with its records carried in VARIANTs.
#include <string>

#include "comserver/talvix_support.h"

namespace {

void Unregister()
{
    UnRegisterTypeLib(LIBID_TALVIXLib, 1, 0, 0, SYS_WIN32);
}

// Registers the library embedded in Talvix.dll for the life of the object.
class Registration {
public:
    explicit Registration(const std::wstring& path)
    {
        Ref<ITypeLib> library;
        result_ = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Out());
        if (SUCCEEDED(result_))
            result_ = RegisterTypeLib(library.Get(), const_cast<LPOLESTR>(path.c_str()), nullptr);
    }
    ~Registration() { Unregister(); }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;
    HRESULT Result() const { return result_; }

private:
    HRESULT result_;
};

class TalvixDispatch : public TalvixTest {
protected:
    void SetUp() override
    {
        TalvixTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_EQ(tvx->QueryInterface(IID_IDispatch, disp.OutVoid()), S_OK);
    }

    DISPID IdOf(const wchar_t* name)
    {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = DISPID_UNKNOWN;
        EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << name;
        return id;
    }

    // Calls a method with its arguments in declaration order.
    HRESULT Call(const wchar_t* name, std::vector<VARIANT> args, VARIANT* result)
    {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        VariantInit(result);
        EXCEPINFO exception{};
        UINT argError = 0;
        return disp->Invoke(IdOf(name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, &exception,
                            &argError);
    }

    Ref<IDispatch> disp;
};

// A script's variable holding a record pointer, passed by reference.
struct ScriptVariable {
    explicit ScriptVariable(void* record) : value(Carry(record, VT_I4)) {}
    VARIANT Ref()
    {
        VARIANT ref;
        VariantInit(&ref);
        ref.vt = VT_BYREF | VT_VARIANT;
        ref.pvarVal = &value;
        return ref;
    }
    VARIANT value;
};

VARIANT OutLong(ULONG* target)
{
    VARIANT out;
    VariantInit(&out);
    out.vt = VT_BYREF | VT_UI4;
    out.pulVal = target;
    return out;
}

VARIANT Long(ULONG value)
{
    VARIANT in;
    VariantInit(&in);
    in.vt = VT_UI4;
    in.ulVal = value;
    return in;
}

ULONG Status(const VARIANT& result)
{
    EXPECT_EQ(result.vt, VT_UI4);
    return result.ulVal;
}

TEST_F(TalvixDispatch, EveryDispatchCallFailsWhileTheLibraryIsNotRegistered)
{
    Unregister();
    Ref<ITypeLib> probe;
    const HRESULT expected = LoadRegTypeLib(LIBID_TALVIXLib, 1, 0, 0, probe.Out());
    ASSERT_TRUE(FAILED(expected));

    size_t moduleBlocks = 0;
    for (HANDLE heap : server.ModuleHeaps())
        moduleBlocks += UseOf(heap).blocks;
    for (int attempt = 0; attempt < 3; ++attempt) {
        ITypeInfo* info = reinterpret_cast<ITypeInfo*>(static_cast<uintptr_t>(0x1234));
        EXPECT_EQ(disp->GetTypeInfo(0, 0, &info), expected);
        EXPECT_EQ(info, nullptr);
        LPOLESTR names[] = {const_cast<LPOLESTR>(L"GetVersion")};
        DISPID id = 0;
        EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id), expected);
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        VARIANT result;
        VariantInit(&result);
        EXPECT_EQ(disp->Invoke(13, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr), expected);
    }
    size_t afterFailures = 0;
    for (HANDLE heap : server.ModuleHeaps())
        afterFailures += UseOf(heap).blocks;
    EXPECT_EQ(afterFailures, moduleBlocks) << "failed loads leave nothing behind";

    // The interface table works all the same.
    ULONG generation = 0;
    EXPECT_EQ(tvx->GetVersion(&generation), S_OK);
    EXPECT_EQ(generation, 0x01000000u);

    // Registered later in the same process: the next dispatch call loads it.
    Registration registration(server.Path());
    ASSERT_EQ(registration.Result(), S_OK);
    EXPECT_EQ(IdOf(L"GetVersion"), 13);
    EXPECT_EQ(disp->GetTypeInfo(0, 0, nullptr), E_POINTER);
}

TEST_F(TalvixDispatch, TypeInformationAndNames)
{
    Registration registration(server.Path());
    ASSERT_EQ(registration.Result(), S_OK);
    UINT count = 0;
    EXPECT_EQ(disp->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    Ref<ITypeInfo> first, other;
    ASSERT_EQ(disp->GetTypeInfo(0, 0, first.Out()), S_OK);
    ASSERT_EQ(disp->GetTypeInfo(7, 0x0804, other.Out()), S_OK);
    EXPECT_EQ(first.Get(), other.Get());
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(first->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID_ITVXDevice));
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
    first->ReleaseTypeAttr(attr);

    const wchar_t* methods[] = {L"BulkReadCmd",     L"BulkWriteCmd",  L"BulkReadTransfer", L"BulkWriteTransfer",
                                L"CreateDevice",    L"CreateDeviceExR", L"CreateDeviceExW", L"ResCmdToRead",
                                L"ResCmdToWrite",   L"GetDeviceStatus", L"ResetOrCancel",   L"DeviceDetect",
                                L"GetVersion",      L"GetDriverVersion"};
    for (DISPID id = 1; id <= 14; ++id)
        EXPECT_EQ(IdOf(methods[id - 1]), id) << methods[id - 1];

    // A member with parameter names: each parameter gets its position.
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"BulkReadTransfer"), const_cast<LPOLESTR>(L"dwBytesToRead"),
                        const_cast<LPOLESTR>(L"lpvDevice")};
    DISPID ids[3] = {};
    EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, names, 3, 0, ids), S_OK);
    EXPECT_EQ(ids[0], 3);
    EXPECT_EQ(ids[1], 2);
    EXPECT_EQ(ids[2], 0);
    LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"Format")};
    DISPID id = 0;
    EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, unknown, 1, 0, &id), DISP_E_UNKNOWNNAME);
}

// Counts the name lookups that reach the type information.
int typeInfoLookups = 0;
HRESULT(STDMETHODCALLTYPE* realGetIDsOfNames)(ITypeInfo*, LPOLESTR*, UINT, MEMBERID*) = nullptr;
HRESULT STDMETHODCALLTYPE CountingGetIDsOfNames(ITypeInfo* self, LPOLESTR* names, UINT count, MEMBERID* ids)
{
    ++typeInfoLookups;
    return realGetIDsOfNames(self, names, count, ids);
}

// Replaces one slot of an interface's method table while alive.
class VtableSlot {
public:
    VtableSlot(IUnknown* object, int index, void* replacement)
        : slot_(*reinterpret_cast<void***>(object) + index)
    {
        DWORD old;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &old);
        original_ = *slot_;
        *slot_ = replacement;
        VirtualProtect(slot_, sizeof *slot_, old, &old);
    }
    ~VtableSlot()
    {
        DWORD old;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &old);
        *slot_ = original_;
        VirtualProtect(slot_, sizeof *slot_, old, &old);
    }
    VtableSlot(const VtableSlot&) = delete;
    VtableSlot& operator=(const VtableSlot&) = delete;
    void* Original() const { return original_; }

private:
    void** slot_;
    void* original_;
};

TEST_F(TalvixDispatch, ExactCaseComesFromTheCacheOtherCaseFromTheTypeInformation)
{
    Registration registration(server.Path());
    ASSERT_EQ(registration.Result(), S_OK);
    Ref<ITypeInfo> info;
    ASSERT_EQ(disp->GetTypeInfo(0, 0, info.Out()), S_OK);
    constexpr int kGetIDsOfNamesSlot = 10;  // IUnknown 3, then GetTypeAttr to GetImplTypeFlags
    VtableSlot slot(info.Get(), kGetIDsOfNamesSlot, reinterpret_cast<void*>(&CountingGetIDsOfNames));
    realGetIDsOfNames = reinterpret_cast<decltype(realGetIDsOfNames)>(slot.Original());
    typeInfoLookups = 0;

    EXPECT_EQ(IdOf(L"ResetOrCancel"), 11);
    EXPECT_EQ(IdOf(L"GetDriverVersion"), 14);
    EXPECT_EQ(typeInfoLookups, 0);
    EXPECT_EQ(IdOf(L"resetorcancel"), 11);
    EXPECT_EQ(typeInfoLookups, 1);
    EXPECT_EQ(IdOf(L"GETDRIVERVERSION"), 14);
    EXPECT_EQ(typeInfoLookups, 2);
}

TEST_F(TalvixDispatch, EveryMethodLateBound)
{
    Registration registration(server.Path());
    ASSERT_EQ(registration.Result(), S_OK);
    VARIANT result;

    // The three Create methods fill the records behind the variables.
    DeviceRecord control = MakeDeviceRecord(), in = MakeDeviceRecord(), out = MakeDeviceRecord();
    ScriptVariable controlVar(&control), inVar(&in), outVar(&out);
    ASSERT_TRUE(SUCCEEDED(Call(L"CreateDevice", {controlVar.Ref()}, &result)));
    EXPECT_EQ(Status(result), 0u);
    ASSERT_TRUE(SUCCEEDED(Call(L"CreateDeviceExR", {inVar.Ref()}, &result)));
    EXPECT_EQ(Status(result), 0u);
    ASSERT_TRUE(SUCCEEDED(Call(L"CreateDeviceExW", {outVar.Ref()}, &result)));
    EXPECT_EQ(Status(result), 0u);
    for (DeviceRecord* record : {&control, &in, &out}) {
        ASSERT_NE(record->handle, kUntouchedHandle);
        ASSERT_NE(record->handle, INVALID_HANDLE_VALUE);
        Adopt(record->handle);
    }

    // Write 16 bytes to the device, then read them back.
    std::vector<uint8_t> data = Pattern(16, 9), back(16);
    ParamRecord param = MakeParam(16, 0);
    ScriptVariable paramVar(&param), dataVar(data.data()), backVar(back.data());
    ULONG moved = 0;
    ASSERT_EQ(Call(L"BulkWriteCmd", {controlVar.Ref(), paramVar.Ref()}, &result), S_OK);
    EXPECT_EQ(Status(result), 0u);
    ASSERT_EQ(Call(L"BulkWriteTransfer", {outVar.Ref(), dataVar.Ref(), Long(16), OutLong(&moved)}, &result), S_OK);
    EXPECT_EQ(Status(result), 0u);
    EXPECT_EQ(moved, 16u);
    ASSERT_EQ(Call(L"BulkReadCmd", {controlVar.Ref(), paramVar.Ref()}, &result), S_OK);
    EXPECT_EQ(Status(result), 0u);
    moved = 0;
    ASSERT_EQ(Call(L"BulkReadTransfer", {inVar.Ref(), backVar.Ref(), Long(16), OutLong(&moved)}, &result), S_OK);
    EXPECT_EQ(Status(result), 0u);
    EXPECT_EQ(moved, 16u);
    EXPECT_EQ(back, data);

    // Debug read and write.
    uint8_t debug[8] = {};
    CmdRecord cmd = MakeCmd(sizeof debug, debug, 3);
    ScriptVariable cmdVar(&cmd);
    moved = 0;
    ASSERT_EQ(Call(L"ResCmdToRead", {inVar.Ref(), cmdVar.Ref(), OutLong(&moved)}, &result), S_OK);
    EXPECT_EQ(Status(result), 0u);
    EXPECT_EQ(moved, sizeof debug);
    EXPECT_EQ(debug[7], 7) << "the device's default debug bytes count up";
    moved = 0;
    ASSERT_EQ(Call(L"ResCmdToWrite", {outVar.Ref(), cmdVar.Ref(), OutLong(&moved)}, &result), S_OK);
    EXPECT_EQ(Status(result), 0u);
    EXPECT_EQ(moved, sizeof debug);

    // Status, reset, detection and versions.
    uint8_t reply[8] = {0xEE};
    ScriptVariable replyVar(reply);
    ULONG returned = 0;
    ASSERT_EQ(Call(L"GetDeviceStatus", {controlVar.Ref(), paramVar.Ref(), replyVar.Ref(), OutLong(&returned)},
                   &result),
              S_OK);
    EXPECT_EQ(Status(result), 0u);
    EXPECT_EQ(returned, 8u);
    EXPECT_EQ(reply[0], 0);
    ASSERT_EQ(Call(L"ResetOrCancel", {controlVar.Ref(), paramVar.Ref()}, &result), S_OK);
    EXPECT_EQ(Status(result), 0u);
    ASSERT_EQ(Call(L"DeviceDetect", {}, &result), S_OK);
    EXPECT_EQ(Status(result), 0x0412u);
    ASSERT_EQ(Call(L"GetVersion", {}, &result), S_OK);
    EXPECT_EQ(Status(result), 0x01000000u);
    ULONG version = 0;
    ASSERT_EQ(Call(L"GetDriverVersion", {OutLong(&version)}, &result), S_OK);
    EXPECT_EQ(Status(result), 0u);
    EXPECT_EQ(version, 0x05000102u);

    std::vector<VdevLogRecord> log = Log();
    EXPECT_EQ(Requests(log, REQ_WRITE).size(), 1u);
    EXPECT_EQ(Requests(log, REQ_READ).size(), 1u);
    EXPECT_EQ(Requests(log, REQ_DEBUG).size(), 2u);
    EXPECT_EQ(Requests(log, REQ_RESET).size(), 1u);

    // Cancelled by the reset: the next bulk command reports it through the retval.
    ASSERT_EQ(Call(L"BulkReadCmd", {controlVar.Ref(), paramVar.Ref()}, &result), S_OK);
    EXPECT_EQ(Status(result), R_CANCELLED);
}

// A script passes its own variables for the typed out parameters: a call
// that goes through writes them, one that fails leaves them as they were.
TEST_F(TalvixDispatch, ScriptVariablesForOutParametersChangeOnlyWhenTheCallWorks)
{
    Registration registration(server.Path());
    ASSERT_EQ(registration.Result(), S_OK);
    VARIANT result;
    DeviceRecord control = OpenControl(), in = OpenIn();
    ParamRecord param = MakeParam(0, 0);
    uint8_t reply[8] = {};
    uint8_t data[4] = {};
    ScriptVariable controlVar(&control), inVar(&in), paramVar(&param), replyVar(reply), dataVar(data);

    // As a script's variable holding a small number.
    VARIANT count;
    VariantInit(&count);
    count.vt = VT_I2;
    count.iVal = 7;
    VARIANT countRef;
    VariantInit(&countRef);
    countRef.vt = VT_BYREF | VT_VARIANT;
    countRef.pvarVal = &count;

    ASSERT_EQ(Call(L"GetDeviceStatus", {controlVar.Ref(), paramVar.Ref(), replyVar.Ref(), countRef}, &result), S_OK);
    EXPECT_EQ(Status(result), 0u);
    EXPECT_EQ(count.vt, VT_UI4);
    EXPECT_EQ(count.ulVal, 8u);

    // The byte count is no number: the call fails before the method runs.
    count.vt = VT_I2;
    count.iVal = 7;
    VARIANT notANumber;
    VariantInit(&notANumber);
    notANumber.vt = VT_BSTR;
    notANumber.bstrVal = SysAllocString(L"many");
    const uint32_t mark = Mark();
    EXPECT_TRUE(FAILED(Call(L"BulkReadTransfer", {inVar.Ref(), dataVar.Ref(), notANumber, countRef}, &result)));
    EXPECT_EQ(count.vt, VT_I2) << "the variable was changed by a failed call";
    EXPECT_EQ(count.iVal, 7);
    EXPECT_TRUE(LogSince(mark).empty()) << "the method ran";
    VariantClear(&notANumber);
}

std::wstring Documentation(ITypeInfo* info, MEMBERID id)
{
    BSTR doc = nullptr;
    if (FAILED(info->GetDocumentation(id, nullptr, &doc, nullptr, nullptr)))
        return L"(none)";
    std::wstring text = doc ? doc : L"";
    SysFreeString(doc);
    return text;
}

// The library embedded in the DLL, read without registering it.
TEST(TalvixResources, TypeLibraryDescribesTheClassAndItsDualInterface)
{
    TalvixServer server;
    ASSERT_TRUE(server.Loaded());
    Ref<ITypeLib> library;
    ASSERT_EQ(LoadTypeLibEx(server.Path().c_str(), REGKIND_NONE, library.Out()), S_OK);
    TLIBATTR* libAttr = nullptr;
    ASSERT_EQ(library->GetLibAttr(&libAttr), S_OK);
    EXPECT_TRUE(IsEqualGUID(libAttr->guid, LIBID_TALVIXLib));
    EXPECT_EQ(libAttr->wMajorVerNum, 1);
    EXPECT_EQ(libAttr->wMinorVerNum, 0);
    EXPECT_EQ(libAttr->lcid, 0u);
    library->ReleaseTLibAttr(libAttr);
    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(library->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_STREQ(name, L"TALVIXLib");
    EXPECT_STREQ(doc, L"Talvix 1.0 Type Library");
    SysFreeString(name);
    SysFreeString(doc);

    Ref<ITypeInfo> coclass;
    ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_TVXDevice, coclass.Out()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
    coclass->ReleaseTypeAttr(attr);
    EXPECT_EQ(Documentation(coclass.Get(), MEMBERID_NIL), L"TVXDevice Class");
    INT implFlags = 0;
    EXPECT_EQ(coclass->GetImplTypeFlags(0, &implFlags), S_OK);
    EXPECT_TRUE(implFlags & IMPLTYPEFLAG_FDEFAULT);

    Ref<ITypeInfo> dispatch;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID_ITVXDevice, dispatch.Out()), S_OK);
    EXPECT_EQ(Documentation(dispatch.Get(), MEMBERID_NIL), L"ITVXDevice Interface");
    HREFTYPE ref = 0;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(-1, &ref), S_OK);
    Ref<ITypeInfo> vtable;
    ASSERT_EQ(dispatch->GetRefTypeInfo(ref, vtable.Out()), S_OK);
    ASSERT_EQ(vtable->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION), TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION);
    EXPECT_EQ(attr->cFuncs, 14);
    vtable->ReleaseTypeAttr(attr);
    for (MEMBERID id = 1; id <= 14; ++id) {
        BSTR method = nullptr;
        ASSERT_EQ(vtable->GetDocumentation(id, &method, nullptr, nullptr, nullptr), S_OK) << id;
        EXPECT_EQ(Documentation(vtable.Get(), id), std::wstring(L"method ") + method);
        SysFreeString(method);
    }
}

// Every resource in Chinese (Simplified, PRC), and the version strings.
TEST(TalvixResources, AllInLanguage2052WithTheVersionStrings)
{
    TalvixServer server;
    ASSERT_TRUE(server.Loaded());
    const WORD language = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
    EXPECT_NE(FindResourceExW(server.Module(), L"TYPELIB", MAKEINTRESOURCEW(1), language), nullptr);
    EXPECT_NE(FindResourceExW(server.Module(), MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), language), nullptr);
    EXPECT_NE(FindResourceExW(server.Module(), MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(100 / 16 + 1), language),
              nullptr);
    wchar_t project[32] = {};
    EXPECT_EQ(LoadStringW(server.Module(), 100, project, 32), 6);
    EXPECT_STREQ(project, L"Talvix");

    DWORD ignored = 0;
    const std::wstring path = server.Path();
    std::vector<uint8_t> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000002u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000002u);
    const std::pair<const wchar_t*, const wchar_t*> strings[] = {{L"FileDescription", L"Talvix Module"},
                                                                 {L"ProductName", L"Talvix Module"},
                                                                 {L"InternalName", L"Talvix"},
                                                                 {L"OriginalFilename", L"Talvix.DLL"}};
    for (const auto& [key, value] : strings) {
        wchar_t* text = nullptr;
        std::wstring query = std::wstring(L"\\StringFileInfo\\080404b0\\") + key;
        ASSERT_TRUE(VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&text), &length)) << key;
        EXPECT_STREQ(text, value);
    }
}

}  // namespace
