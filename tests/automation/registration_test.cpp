// regsvr32 on uXferAuto.dll, for the current user and for the machine: the
// keys in this bitness's view of the one scope, none in the other, and none
// of ours left after /u.  Both bitnesses registered for the machine, and
// what a registration refuses or fails to do.
#include <windows.h>

#include <sddl.h>

#include "automation/auto_support.h"
#include "uXferAuto.h"
#include "win/unique_any.h"

namespace {

struct Scope {
    const char* name;
    const char* switches;  // of regsvr32, /u added to unregister
    HKEY root, other;
};

void PrintTo(const Scope& scope, std::ostream* os)
{
    *os << scope.name;
}

// None of our keys before and after.
class CleanRegistry : public testing::Test {
protected:
    void SetUp() override { RemoveAutoRegistration(); }
    void TearDown() override { RemoveAutoRegistration(); }
};

class AutoRegistration : public CleanRegistry, public testing::WithParamInterface<Scope> {};

TEST_P(AutoRegistration, WritesItsKeysInOneScopeAndTakesThemAllBack)
{
    const Scope& scope = GetParam();
    ASSERT_EQ(0, Regsvr32(scope.switches));

    const std::string cls = "CLSID\\" UXA_CLSID, dll = AutoDll();
    const HKEY root = scope.root;
    EXPECT_EQ(0, _stricmp(dll.c_str(), ClassesValue(root, cls + "\\InprocServer32").c_str()))
        << ClassesValue(root, cls + "\\InprocServer32");
    EXPECT_EQ("Both", ClassesValue(root, cls + "\\InprocServer32", "ThreadingModel"));
    EXPECT_EQ("uXfer.Device.1", ClassesValue(root, cls + "\\ProgID"));
    EXPECT_EQ("uXfer.Device", ClassesValue(root, cls + "\\VersionIndependentProgID"));
    EXPECT_EQ(UXA_LIBID, ClassesValue(root, cls + "\\TypeLib"));
    EXPECT_EQ("1.0", ClassesValue(root, cls + "\\Version"));
    EXPECT_EQ(UXA_CLSID, ClassesValue(root, "uXfer.Device\\CLSID"));
    EXPECT_EQ("uXfer.Device.1", ClassesValue(root, "uXfer.Device\\CurVer"));
    EXPECT_EQ(UXA_CLSID, ClassesValue(root, "uXfer.Device.1\\CLSID"));
    const std::string lib = "TypeLib\\" UXA_LIBID "\\1.0";
    EXPECT_EQ(0, _stricmp(dll.c_str(),
                          ClassesValue(root, lib + (sizeof(void*) == 8 ? "\\0\\win64" : "\\0\\win32")).c_str()));
    EXPECT_NE("<missing>", ClassesValue(root, lib + "\\FLAGS"));
    EXPECT_NE("<missing>", ClassesValue(root, lib + "\\HELPDIR"));
    for (const char* iid : {UXA_IID, UXA_DIID}) {
        const std::string key = std::string("Interface\\") + iid;
        // The type library's marshaler.
        EXPECT_EQ("{00020424-0000-0000-C000-000000000046}", ClassesValue(root, key + "\\ProxyStubClsid32")) << iid;
        EXPECT_EQ(UXA_LIBID, ClassesValue(root, key + "\\TypeLib")) << iid;
    }
    for (const char* key : kAutoKeys)
        EXPECT_FALSE(ClassesKeyExists(scope.other, key)) << key << " in the other scope";

    ASSERT_EQ(0, Regsvr32(std::string("/u ") + scope.switches));
    for (HKEY either : {scope.root, scope.other})
        for (const char* key : kAutoKeys)
            EXPECT_FALSE(ClassesKeyExists(either, key)) << key << " left after /u";
}

INSTANTIATE_TEST_SUITE_P(Scopes, AutoRegistration,
                         testing::Values(Scope{"User", "/n /i:user", HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE},
                                         Scope{"Machine", "", HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}),
                         [](const testing::TestParamInfo<Scope>& info) { return std::string(info.param.name); });

// Both bitnesses registered and unregistered one after the other by their
// regsvr32, some steps of the test edition failing part way
// (UXFERAUTO_TEST_FAIL_AT): after each
// step, whose class is registered and whether the ProgIDs, which both share,
// lead to it.  A failed step also leaves the shared type library's HELPDIR,
// which it had overwritten, as the other bitness wrote it; the keys it made
// are gone at the end.
struct Step {
    bool own;              // this test's bitness or the other
    const char* switches;  // of regsvr32
    const char* failAt;    // the value registration fails at; nullptr: none
    bool ownClass, otherClass, progIds;
};

struct Sequence {
    const char* name;
    std::vector<Step> steps;
};

void PrintTo(const Sequence& sequence, std::ostream* os)
{
    *os << sequence.name;
}

class BothBitnesses : public CleanRegistry, public testing::WithParamInterface<Sequence> {};

TEST_P(BothBitnesses, ShareTheProgIdsUntilTheLastGoes)
{
    std::string why;
    if (!OtherBitnessRuns(why))
        GTEST_SKIP() << why;
    const HKEY machine = HKEY_LOCAL_MACHINE;
    const std::string helpDir = "TypeLib\\" UXA_LIBID "\\1.0\\HELPDIR";
    const std::string cls = "CLSID\\" UXA_CLSID "\\InprocServer32";
    for (const Step& step : GetParam().steps) {
        const std::string before = ClassesValue(machine, helpDir);
        SetEnvironmentVariableA("UXFERAUTO_TEST_FAIL_AT", step.failAt);
        const int exitCode = step.own ? Regsvr32(step.switches, step.failAt ? HooksDll() : AutoDll())
                                      : OtherRegsvr32(step.switches);
        SetEnvironmentVariableA("UXFERAUTO_TEST_FAIL_AT", nullptr);
        const std::string what = std::string(step.own ? "own " : "other ") + step.switches;
        EXPECT_EQ(!step.failAt, exitCode == 0) << what;
        if (step.failAt) {
            EXPECT_EQ(before, ClassesValue(machine, helpDir)) << what;
        }
        EXPECT_EQ(step.ownClass, ClassesKeyExists(machine, cls, OwnView())) << what;
        EXPECT_EQ(step.otherClass, ClassesKeyExists(machine, cls, OtherView())) << what;
        const std::string clsid = step.progIds ? UXA_CLSID : "<missing>";
        EXPECT_EQ(clsid, ClassesValue(machine, "uXfer.Device\\CLSID")) << what;
        EXPECT_EQ(clsid, ClassesValue(machine, "uXfer.Device.1\\CLSID")) << what;
    }
    for (REGSAM view : {OwnView(), OtherView()})
        for (const char* key : kAutoKeys)
            EXPECT_FALSE(ClassesKeyExists(machine, key, view)) << key << " left at the end";
}

// Value 16 is the first of the interfaces: the class, the ProgIDs and the
// type library (whose HELPDIR the other bitness set) are written by then.
INSTANTIATE_TEST_SUITE_P(
    Sequences, BothBitnesses,
    testing::Values(Sequence{"OwnGoesFirst",
                             {{true, "", nullptr, true, false, true},
                              {false, "", nullptr, true, true, true},
                              {true, "/u", nullptr, false, true, true},
                              {false, "/u", nullptr, false, false, false}}},
                    Sequence{"OtherGoesFirst",
                             {{false, "", nullptr, false, true, true},
                              {true, "", nullptr, true, true, true},
                              {false, "/u", nullptr, true, false, true},
                              {true, "/u", nullptr, false, false, false}}},
                    Sequence{"FailedRegistrationLeavesWhatWasThere",
                             {{false, "", nullptr, false, true, true},
                              {true, "", "16", false, true, true},
                              {false, "/u", nullptr, false, false, false}}}),
    [](const testing::TestParamInfo<Sequence>& info) { return std::string(info.param.name); });

// uXferAuto.dll and uXferAutoSim.dll registered in one scope, then removed
// one after the other: the type library and the interfaces both write stay
// while either class is registered, leading to the image still registered.
struct Pair {
    const char* name;
    const char* switches;
    HKEY root;
    bool simGoesFirst;
};

void PrintTo(const Pair& pair, std::ostream* os)
{
    *os << pair.name;
}

class TwoClasses : public CleanRegistry, public testing::WithParamInterface<Pair> {};

TEST_P(TwoClasses, ShareTheTypeLibraryUntilTheLastGoes)
{
    const Pair& p = GetParam();
    const std::string sim = ProgramFolder() + "uXferAutoSim.dll";
    const std::string first = p.simGoesFirst ? sim : AutoDll(), last = p.simGoesFirst ? AutoDll() : sim;
    const std::string gone = p.simGoesFirst ? UXA_SIM_CLSID : UXA_CLSID;
    const std::string kept = p.simGoesFirst ? UXA_CLSID : UXA_SIM_CLSID;
    ASSERT_EQ(0, Regsvr32(p.switches, first));
    ASSERT_EQ(0, Regsvr32(p.switches, last));
    ASSERT_EQ(0, Regsvr32(std::string("/u ") + p.switches, first));
    const std::string lib = "TypeLib\\" UXA_LIBID "\\1.0";
    EXPECT_EQ(0, _stricmp(last.c_str(),
                          ClassesValue(p.root, lib + (sizeof(void*) == 8 ? "\\0\\win64" : "\\0\\win32")).c_str()));
    EXPECT_NE("<missing>", ClassesValue(p.root, lib + "\\HELPDIR"));
    for (const char* iid : {UXA_IID, UXA_DIID})
        EXPECT_EQ(UXA_LIBID, ClassesValue(p.root, std::string("Interface\\") + iid + "\\TypeLib")) << iid;
    EXPECT_EQ(0, _stricmp(last.c_str(), ClassesValue(p.root, "CLSID\\" + kept + "\\InprocServer32").c_str()));
    EXPECT_FALSE(ClassesKeyExists(p.root, "CLSID\\" + gone));

    ASSERT_EQ(0, Regsvr32(std::string("/u ") + p.switches, last));
    for (const char* key : kAutoKeys)
        EXPECT_FALSE(ClassesKeyExists(p.root, key)) << key << " left after both /u";
}

INSTANTIATE_TEST_SUITE_P(Pairs, TwoClasses,
                         testing::Values(Pair{"DeviceGoesFirst", "", HKEY_LOCAL_MACHINE, false},
                                         Pair{"SimDeviceGoesFirst", "", HKEY_LOCAL_MACHINE, true},
                                         Pair{"DeviceGoesFirstForTheUser", "/n /i:user", HKEY_CURRENT_USER, false}),
                         [](const testing::TestParamInfo<Pair>& info) { return std::string(info.param.name); });

// DllInstall of a copy of the test edition in a folder of its own, as regsvr32 calls
// it: a machine registration from a folder others than administrators can
// change is refused and writes nothing; one for the user is not.  The
// folder's own rights where the test bed can give them (Everyone's, which
// Wine keeps as the Unix mode), else a security descriptor judged as well
// (UXFERAUTO_TEST_FOLDER_SDDL).
struct FolderCase {
    const char* name;
    bool everyoneWrites;  // the folder's real rights
    const char* sddl;     // judged as well; nullptr: none
    const wchar_t* scope;
    HRESULT expected;
};

void PrintTo(const FolderCase& c, std::ostream* os)
{
    *os << c.name;
}

class FolderTrust : public CleanRegistry, public testing::WithParamInterface<FolderCase> {};

TEST_P(FolderTrust, MachineRegistrationOnlyFromAFolderOfAdministrators)
{
    const FolderCase& c = GetParam();
    dumptest::ScratchFolder folder;
    const std::string dll = folder.File("uXferAutoHooks.dll");
    ASSERT_TRUE(CopyFileA(HooksDll().c_str(), dll.c_str(), FALSE));
    if (c.everyoneWrites) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;OICI;FA;;;WD)", SDDL_REVISION_1,
                                                                         &descriptor, nullptr));
        const win::unique_hlocal owned(descriptor);
        ASSERT_TRUE(SetFileSecurityA(folder.File("").c_str(), DACL_SECURITY_INFORMATION, descriptor));
    }
    SetEnvironmentVariableA("UXFERAUTO_TEST_FOLDER_SDDL", c.sddl);
    HRESULT result = E_FAIL;
    {
        const win::unique_hmodule module(LoadLibraryA(dll.c_str()));
        ASSERT_TRUE(module) << GetLastError();
        const auto install = reinterpret_cast<HRESULT(WINAPI*)(BOOL, LPCWSTR)>(
            reinterpret_cast<void*>(GetProcAddress(module.get(), "DllInstall")));
        ASSERT_TRUE(install);
        result = install(TRUE, c.scope);
        if (SUCCEEDED(result)) {
            EXPECT_EQ(S_OK, install(FALSE, c.scope));
        }
    }
    SetEnvironmentVariableA("UXFERAUTO_TEST_FOLDER_SDDL", nullptr);
    EXPECT_EQ(c.expected, result) << std::hex << result;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        for (const char* key : kAutoKeys) {
            EXPECT_FALSE(ClassesKeyExists(root, key)) << key << " written";
        }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, FolderTrust,
    testing::Values(
        FolderCase{"OfAdministrators", false,
                   "O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICIIO;FA;;;CO)(A;CIIO;0x6;;;BU)",
                   L"machine", S_OK},
        FolderCase{"EveryoneWrites", true, nullptr, L"machine", UXA_E_UNSAFE_FOLDER},
        FolderCase{"EveryoneWritesForTheUser", true, nullptr, L"user", S_OK},
        FolderCase{"UsersAddFiles", false, "O:BAD:(A;;FA;;;BA)(A;;0x2;;;BU)", L"machine", UXA_E_UNSAFE_FOLDER},
        FolderCase{"AuthenticatedUsersModify", false, "O:SYD:(A;OICI;0x1301bf;;;AU)", L"machine",
                   UXA_E_UNSAFE_FOLDER},
        FolderCase{"InteractiveChangesRights", false, "O:BAD:(A;;WD;;;IU)", L"machine", UXA_E_UNSAFE_FOLDER},
        FolderCase{"OwnedByAUser", false, "O:S-1-5-21-1-2-3-1001D:(A;;FA;;;BA)", L"machine", UXA_E_UNSAFE_FOLDER}),
    [](const testing::TestParamInfo<FolderCase>& info) { return std::string(info.param.name); });

// The test edition's seams read settings from the environment: no shipped
// DLL may even hold their names.
struct Edition {
    const char* dll;
    bool hooks;
};

void PrintTo(const Edition& edition, std::ostream* os)
{
    *os << edition.dll;
}

class Editions : public testing::TestWithParam<Edition> {};

TEST_P(Editions, OnlyTheTestEditionReadsTestSettings)
{
    std::vector<uint8_t> image = dumptest::ReadAll(ProgramFolder() + GetParam().dll);
    ASSERT_FALSE(image.empty()) << GetParam().dll;
    const std::string text(image.begin(), image.end());
    for (const char* name : {"UXFERAUTO_TEST_FAIL_AT", "UXFERAUTO_TEST_FOLDER_SDDL"}) {
        std::string wide;  // as GetEnvironmentVariableW is given it
        for (const char* c = name; *c; ++c)
            wide += std::string(1, *c) + '\0';
        EXPECT_EQ(GetParam().hooks, text.find(wide) != std::string::npos) << GetParam().dll << ": " << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Dlls, Editions,
                         testing::Values(Edition{"uXferAuto.dll", false}, Edition{"uXferAutoSim.dll", false},
                                         Edition{"uXferAutoHooks.dll", true}),
                         [](const testing::TestParamInfo<Edition>& info) {
                             const std::string dll = info.param.dll;
                             return dll.substr(0, dll.find('.'));
                         });

}  // namespace
