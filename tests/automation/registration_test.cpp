// regsvr32 on uXferAuto.dll, for the current user and for the machine: the
// keys in this bitness's view of the one scope, none in the other, and none
// of ours left after /u.  Both bitnesses registered for the machine, and
// what a registration that fails leaves.
#include "automation/auto_support.h"
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
// regsvr32, some steps failing part way (UXFERAUTO_TEST_FAIL_AT): after each
// step, whose class is registered and whether the ProgIDs, which both share,
// lead to it.  A failed step leaves every key and value as it was.
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

// Every key and value of ours under HKLM\Software\Classes in both views, as text.
void Dump(HKEY key, const std::string& path, std::string& text)
{
    char name[256];
    BYTE data[1024];
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = sizeof name, size = sizeof data;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, nullptr, data, &size) != ERROR_SUCCESS)
            break;
        text += path + " " + name + "=" + std::string(reinterpret_cast<char*>(data), size) + "\n";
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = sizeof name;
        win::unique_hkey sub;
        if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
            RegOpenKeyExA(key, name, 0, KEY_READ, sub.put()) != ERROR_SUCCESS)
            break;
        text += path + "\\" + name + "\n";
        Dump(sub.get(), path + "\\" + name, text);
    }
}

std::string MachineSnapshot()
{
    std::string text;
    for (REGSAM view : {OwnView(), OtherView()})
        for (const char* key : kAutoKeys) {
            win::unique_hkey opened;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string("Software\\Classes\\") + key).c_str(), 0,
                              KEY_READ | view, opened.put()) == ERROR_SUCCESS)
                Dump(opened.get(), key, text);
        }
    return text;
}

class BothBitnesses : public CleanRegistry, public testing::WithParamInterface<Sequence> {};

TEST_P(BothBitnesses, ShareTheProgIdsUntilTheLastGoes)
{
    std::string why;
    if (!OtherBitnessRuns(why))
        GTEST_SKIP() << why;
    for (const Step& step : GetParam().steps) {
        const std::string before = MachineSnapshot();
        if (step.failAt)
            SetEnvironmentVariableA("UXFERAUTO_TEST_FAIL_AT", step.failAt);
        const int exitCode = step.own ? Regsvr32(step.switches) : OtherRegsvr32(step.switches);
        SetEnvironmentVariableA("UXFERAUTO_TEST_FAIL_AT", nullptr);
        const std::string what = std::string(step.own ? "own" : "other") + " " + step.switches;
        if (step.failAt) {
            EXPECT_NE(0, exitCode) << what;
            EXPECT_EQ(before, MachineSnapshot()) << what << " failing at " << step.failAt;
        } else {
            ASSERT_EQ(0, exitCode) << what;
        }
        const std::string cls = "CLSID\\" UXA_CLSID "\\InprocServer32";
        EXPECT_EQ(step.ownClass, ClassesKeyExists(HKEY_LOCAL_MACHINE, cls, OwnView())) << what;
        EXPECT_EQ(step.otherClass, ClassesKeyExists(HKEY_LOCAL_MACHINE, cls, OtherView())) << what;
        const std::string clsid = step.progIds ? UXA_CLSID : "<missing>";
        EXPECT_EQ(clsid, ClassesValue(HKEY_LOCAL_MACHINE, "uXfer.Device\\CLSID")) << what;
        EXPECT_EQ(clsid, ClassesValue(HKEY_LOCAL_MACHINE, "uXfer.Device.1\\CLSID")) << what;
    }
    for (REGSAM view : {OwnView(), OtherView()})
        for (const char* key : kAutoKeys)
            EXPECT_FALSE(ClassesKeyExists(HKEY_LOCAL_MACHINE, key, view)) << key << " left at the end";
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

}  // namespace
