// regsvr32 on Talvix.dll and what it leaves in the registry.
#include <objbase.h>

#include <fstream>
#include <iterator>
#include <string>

#include "comserver/talvix_support.h"
#include "comserver_reg/registration_support.h"
#include "Talvix.h"
#include "win/unique_any.h"

namespace {

const std::string kClass = kClassKey;

void ExpectString(const std::string& key, const std::string& name, const std::string& data)
{
    const RegValue value = QueryValue(key, name);
    EXPECT_TRUE(value.found) << key << " [" << name << "]";
    EXPECT_EQ("REG_SZ", value.type) << key << " [" << name << "]";
    EXPECT_EQ(data, value.data) << key << " [" << name << "]";
}

// Every key and value the registration script writes, the server path given.
void ExpectClassRegistration(const std::string& serverPath)
{
    ExpectString("HKCR\\Talvix.TVXDevice.1", "", "TVXDevice Class");
    ExpectString("HKCR\\Talvix.TVXDevice.1\\CLSID", "", TVX_CLSID);
    ExpectString("HKCR\\Talvix.TVXDevice", "", "TVXDevice Class");
    ExpectString("HKCR\\Talvix.TVXDevice\\CLSID", "", TVX_CLSID);
    ExpectString("HKCR\\Talvix.TVXDevice\\CurVer", "", "Talvix.TVXDevice.1");
    ExpectString(kClass, "", "TVXDevice Class");
    ExpectString(kClass + "\\ProgID", "", "Talvix.TVXDevice.1");
    ExpectString(kClass + "\\VersionIndependentProgID", "", "Talvix.TVXDevice");
    EXPECT_TRUE(KeyExists(kClass + "\\Programmable"));
    EXPECT_EQ(std::string::npos, QueryTree(kClass + "\\Programmable").find("REG_")) << "an empty key";
    ExpectString(kClass + "\\InprocServer32", "", serverPath);
    ExpectString(kClass + "\\InprocServer32", "ThreadingModel", "Apartment");
    ExpectString(kClass + "\\TypeLib", "", TVX_LIBID);
}

void ExpectTypeLibRegistered(const std::string& dllPath)
{
    ExpectString("HKCR\\TypeLib\\" TVX_LIBID "\\1.0", "", "Talvix 1.0 Type Library");
    ExpectString("HKCR\\TypeLib\\" TVX_LIBID "\\1.0\\0\\win32", "", dllPath);
    ExpectString("HKCR\\Interface\\" TVX_IID, "", "ITVXDevice");
}

void ExpectNothingRegistered()
{
    EXPECT_FALSE(KeyExists("HKCR\\Talvix.TVXDevice"));
    EXPECT_FALSE(KeyExists("HKCR\\Talvix.TVXDevice.1"));
    EXPECT_FALSE(KeyExists(kClass));
    EXPECT_FALSE(KeyExists("HKCR\\TypeLib\\" TVX_LIBID));
    EXPECT_FALSE(KeyExists("HKCR\\Interface\\" TVX_IID));
    EXPECT_TRUE(KeyExists("HKCR\\CLSID"));
}

std::string Everything()
{
    return QueryTree("HKCR\\Talvix.TVXDevice") + QueryTree("HKCR\\Talvix.TVXDevice.1") + QueryTree(kClass) +
           QueryTree("HKCR\\TypeLib\\" TVX_LIBID) + QueryTree("HKCR\\Interface\\" TVX_IID);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A resource of a module in the language the module ships it in.
std::string ResourceBytes(const std::string& dllPath, const char* type, WORD id)
{
    const win::unique_hmodule owner(LoadLibraryExA(dllPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    const HMODULE module = owner.get();
    if (!module)
        return "<not loaded>";
    std::string bytes = "<missing>";
    const HRSRC found =
        FindResourceExA(module, type, MAKEINTRESOURCEA(id), MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
    if (found) {
        const HGLOBAL loaded = LoadResource(module, found);
        bytes.assign(static_cast<const char*>(LockResource(loaded)), SizeofResource(module, found));
    }
    return bytes;
}

// Replaces a resource of a module file.
bool ReplaceResource(const std::string& dllPath, const char* type, WORD id, const std::string& data)
{
    const HANDLE update = BeginUpdateResourceA(dllPath.c_str(), FALSE);
    if (!update)
        return false;
    const bool replaced =
        UpdateResourceA(update, type, MAKEINTRESOURCEA(id), MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED),
                        const_cast<char*>(data.data()), static_cast<DWORD>(data.size())) != FALSE;
    return EndUpdateResourceA(update, !replaced) != FALSE && replaced;
}

DWORD WINAPI NoShortPath(LPCSTR, LPSTR, DWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}

using TalvixRegistration = RegistrationTest;

TEST_F(TalvixRegistration, ScriptResourceIsTheScriptFileByteForByte)
{
    const std::string file = ReadFile(ProgramFolder() + "Talvix.rgs");
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file, ResourceBytes(dll, "REGISTRY", 101));
}

TEST_F(TalvixRegistration, RegisterWritesClassProgIdsAndTypeLibrary)
{
    ASSERT_EQ(0, Regsvr32(dll));
    ExpectClassRegistration(ShortPath(dll));
    ExpectTypeLibRegistered(dll);
}

TEST_F(TalvixRegistration, RegisteringTwiceGivesTheSameEntries)
{
    ASSERT_EQ(0, Regsvr32(dll));
    const std::string first = Everything();
    ASSERT_EQ(0, Regsvr32(dll));
    EXPECT_EQ(first, Everything());
    ExpectClassRegistration(ShortPath(dll));
}

TEST_F(TalvixRegistration, RegisteringReplacesForeignContentOfTheClassKey)
{
    ASSERT_EQ(0, RunCommand("reg.exe add \"" + kClass + "\\Foreign\\Deeper\" /v x /d 1 /f").exitCode);
    ASSERT_EQ(0, RunCommand("reg.exe add \"" + kClass + "\" /v Leftover /d 1 /f").exitCode);
    ASSERT_TRUE(KeyExists(kClass + "\\Foreign\\Deeper"));
    ASSERT_EQ(0, Regsvr32(dll));
    EXPECT_FALSE(KeyExists(kClass + "\\Foreign"));
    EXPECT_FALSE(QueryValue(kClass, "Leftover").found);
    ExpectClassRegistration(ShortPath(dll));
}

TEST_F(TalvixRegistration, UnregisterRemovesEverythingButClsidItself)
{
    ASSERT_EQ(0, Regsvr32(dll));
    ASSERT_EQ(0, Regsvr32(dll, true));
    ExpectNothingRegistered();
    EXPECT_EQ(0, Regsvr32(dll, true)) << "a second unregistration";
    ExpectNothingRegistered();
}

TEST_F(TalvixRegistration, UnregisterKeepsKeysThatHoldSomethingForeign)
{
    ASSERT_EQ(0, Regsvr32(dll));
    ASSERT_EQ(0, RunCommand("reg.exe add HKCR\\Talvix.TVXDevice\\Foreign /f").exitCode);
    ASSERT_EQ(0, Regsvr32(dll, true));
    EXPECT_TRUE(KeyExists("HKCR\\Talvix.TVXDevice\\Foreign"));
    EXPECT_FALSE(KeyExists("HKCR\\Talvix.TVXDevice\\CurVer"));
    EXPECT_FALSE(KeyExists("HKCR\\Talvix.TVXDevice\\CLSID"));
    EXPECT_FALSE(KeyExists("HKCR\\Talvix.TVXDevice.1"));
    EXPECT_FALSE(KeyExists(kClass));
}

TEST_F(TalvixRegistration, ModulePathWithAQuoteIsStoredWithOneQuote)
{
    // A valid 8.3 name: the short path keeps it, quote and all.
    const ScratchDir folder("o'talvix");
    const std::string copy = folder.Copy("Talvix.dll");
    ASSERT_EQ(0, Regsvr32(copy));
    const std::string stored = QueryValue(kClass + "\\InprocServer32").data;
    EXPECT_EQ(ShortPath(copy), stored);
    EXPECT_NE(std::string::npos, stored.find('\'')) << stored;
    EXPECT_EQ(std::string::npos, stored.find("''")) << stored;
    ExpectTypeLibRegistered(copy);

    // COM loads the server from that path.
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    ITVXDevice* device = nullptr;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_TVXDevice, nullptr, CLSCTX_INPROC_SERVER, IID_ITVXDevice,
                                     reinterpret_cast<void**>(&device)));
    if (device)
        device->Release();
    EXPECT_NE(nullptr, GetModuleHandleA(copy.c_str()));
    CoUninitialize();

    ASSERT_EQ(0, Regsvr32(copy, true));
    ExpectNothingRegistered();
}

TEST_F(TalvixRegistration, ServerPathIsTheLongPathWhenThereIsNoShortOne)
{
    const ScratchDir folder("talvix long folder name");
    const std::string copy = folder.Copy("Talvix.dll");
    ASSERT_NE(copy, ShortPath(copy));
    const win::unique_hmodule owner(LoadLibraryA(copy.c_str()));
    ASSERT_TRUE(owner);
    const HMODULE server = owner.get();
    using Export = HRESULT(STDAPICALLTYPE*)();
    const auto registerServer = reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(server, "DllRegisterServer")));
    const auto unregisterServer =
        reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(server, "DllUnregisterServer")));
    ASSERT_TRUE(registerServer && unregisterServer);
    {
        const ImportPatch patch(server, "kernel32.dll", "GetShortPathNameA", reinterpret_cast<void*>(&NoShortPath));
        ASSERT_TRUE(patch.Applied());
        EXPECT_EQ(S_OK, registerServer());
        ExpectString(kClass + "\\InprocServer32", "", copy);
        EXPECT_EQ(S_OK, unregisterServer());
    }
    ExpectNothingRegistered();
}

TEST_F(TalvixRegistration, TypeLibraryComesFromTheTlbFileWhenTheModuleHoldsNoneThatLoads)
{
    const std::string typeLib = ResourceBytes(dll, "TYPELIB", 1);
    ASSERT_EQ(0, typeLib.compare(0, 4, "MSFT")) << "a type library";
    const ScratchDir folder("talvix with a broken type library");
    const std::string copy = folder.Copy("Talvix.dll");
    const std::string garbage(64, 'x');
    ASSERT_TRUE(ReplaceResource(copy, "TYPELIB", 1, garbage));
    ASSERT_EQ(garbage, ResourceBytes(copy, "TYPELIB", 1));

    // No file either: the type library fails, the class registration stays.
    EXPECT_NE(0, Regsvr32(copy));
    ExpectClassRegistration(ShortPath(copy));
    EXPECT_FALSE(KeyExists("HKCR\\TypeLib\\" TVX_LIBID));

    const std::string tlb = folder.Path() + "Talvix.tlb";
    std::ofstream(tlb, std::ios::binary) << typeLib;
    EXPECT_EQ(0, Regsvr32(copy));
    ExpectTypeLibRegistered(tlb);
    EXPECT_EQ(0, Regsvr32(copy, true));
    ExpectNothingRegistered();
}

TEST_F(TalvixRegistration, ScriptFailingInsideItsRootBlockTakesBackItsKeys)
{
    std::string script = ReadFile(ProgramFolder() + "Talvix.rgs");
    // The last entry of the block gets a value type the parser does not know.
    const size_t at = script.find("'TypeLib' = s");
    ASSERT_NE(std::string::npos, at);
    script[at + std::string("'TypeLib' = ").size()] = 'x';
    const ScratchDir folder("talvix broken script");
    const std::string copy = folder.Copy("Talvix.dll");
    ASSERT_TRUE(ReplaceResource(copy, "REGISTRY", 101, script));
    ASSERT_EQ(script, ResourceBytes(copy, "REGISTRY", 101));

    EXPECT_NE(0, Regsvr32(copy));
    ExpectNothingRegistered();
    EXPECT_FALSE(KeyExists("HKCR\\TypeLib\\" TVX_LIBID)) << "the type library is not registered";
}

}  // namespace
