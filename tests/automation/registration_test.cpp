// regsvr32 on uXferAuto.dll, for the current user and for the machine: the
// keys in this bitness's view of the one scope, none in the other, and none
// of ours left after /u.
#include "automation/auto_support.h"

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

class AutoRegistration : public testing::TestWithParam<Scope> {
protected:
    void SetUp() override { RemoveAutoRegistration(); }
    void TearDown() override { RemoveAutoRegistration(); }
};

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

}  // namespace
