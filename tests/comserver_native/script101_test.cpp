// The shipped registration script over an in-memory registry.
#include <fstream>
#include <iterator>
#include <string>

#include "script_harness.h"

namespace rgstest {
namespace {

const std::string kClsidKey = "HKCR\\CLSID\\{A0C98C16-7E55-40FA-88B1-F1B87331EF27}";

std::string Script101()
{
    std::ifstream file(SCRIPT_101, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string Registered(const std::string& module)
{
    return "HKCR\\CLSID\n" + kClsidKey + " = s 'TVXDevice Class'\n" +
           kClsidKey + "\\InprocServer32 = s '" + module + "' [ThreadingModel] = s 'Apartment'\n" +
           kClsidKey + "\\ProgID = s 'Talvix.TVXDevice.1'\n" +
           kClsidKey + "\\Programmable\n" +
           kClsidKey + "\\TypeLib = s '{33C8C283-2532-4097-BD38-DC2682CA0AA1}'\n" +
           kClsidKey + "\\VersionIndependentProgID = s 'Talvix.TVXDevice'\n"
           "HKCR\\CLSID\\{other}\n"
           "HKCR\\Talvix.TVXDevice = s 'TVXDevice Class'\n"
           "HKCR\\Talvix.TVXDevice\\CLSID = s '{A0C98C16-7E55-40FA-88B1-F1B87331EF27}'\n"
           "HKCR\\Talvix.TVXDevice\\CurVer = s 'Talvix.TVXDevice.1'\n"
           "HKCR\\Talvix.TVXDevice.1 = s 'TVXDevice Class'\n"
           "HKCR\\Talvix.TVXDevice.1\\CLSID = s '{A0C98C16-7E55-40FA-88B1-F1B87331EF27}'\n";
}

class Script101Test : public ScriptTest {
protected:
    void SetUp() override
    {
        script = Script101();
        ASSERT_FALSE(script.empty()) << SCRIPT_101;
        registry.AddKey("HKCR\\CLSID\\{other}");
    }
    std::string script;
};

TEST_F(Script101Test, FileIsCrLfTextWithoutTerminator)
{
    EXPECT_EQ(std::string::npos, script.find('\0'));
    EXPECT_EQ(std::string::npos, script.find("\n\n"));
    for (size_t at = script.find('\n'); at != std::string::npos; at = script.find('\n', at + 1))
        ASSERT_EQ('\r', script[at - 1]) << "bare LF at byte " << at;
    EXPECT_EQ("}\r\n", script.substr(script.size() - 3));
    EXPECT_NE(std::string::npos, script.find("\r\n\t\t\t\tval ThreadingModel"));
}

TEST_F(Script101Test, RegisterWritesTheClassProgIdsAndServerPath)
{
    ASSERT_EQ(rgs::kOk, Register(script));
    EXPECT_EQ(Registered("C:\\PROGRA~1\\TALVIX.DLL"), registry.Dump());
    ASSERT_EQ(rgs::kOk, Register(script)) << "a second registration";
    EXPECT_EQ(Registered("C:\\PROGRA~1\\TALVIX.DLL"), registry.Dump());
}

TEST_F(Script101Test, ModulePathWithAQuoteKeepsOneQuote)
{
    replacements = {{u"Module", u"C:\\IT''S~1\\TALVIX.DLL"}};
    ASSERT_EQ(rgs::kOk, Register(script));
    EXPECT_EQ(Registered("C:\\IT'S~1\\TALVIX.DLL"), registry.Dump());
}

TEST_F(Script101Test, RegisterReplacesForeignContentOfTheClassKey)
{
    registry.AddString(kClsidKey + "\\Foreign\\Deeper", "x", "1");
    registry.AddString(kClsidKey + "\\InprocServer32", "Other", "1");
    registry.AddString(kClsidKey, "Named", "1");
    ASSERT_EQ(rgs::kOk, Register(script));
    EXPECT_EQ(Registered("C:\\PROGRA~1\\TALVIX.DLL"), registry.Dump());
}

TEST_F(Script101Test, UnregisterLeavesOnlyClsidItself)
{
    ASSERT_EQ(rgs::kOk, Register(script));
    ASSERT_EQ(rgs::kOk, Unregister(script));
    EXPECT_EQ("HKCR\\CLSID\nHKCR\\CLSID\\{other}\n", registry.Dump());
    const std::size_t writes = registry.Writes();
    ASSERT_EQ(rgs::kOk, Unregister(script)) << "a second unregistration";
    EXPECT_EQ("HKCR\\CLSID\nHKCR\\CLSID\\{other}\n", registry.Dump());
    EXPECT_EQ(writes, registry.Writes());
}

TEST_F(Script101Test, UnregisterKeepsForeignKeysAndWhatHoldsThem)
{
    ASSERT_EQ(rgs::kOk, Register(script));
    registry.AddKey("HKCR\\Talvix.TVXDevice\\Foreign");
    registry.AddString(kClsidKey + "\\InprocServer32", "Other", "1");
    ASSERT_EQ(rgs::kOk, Unregister(script));
    EXPECT_EQ("HKCR\\CLSID\n" + kClsidKey + " = s 'TVXDevice Class'\n" + kClsidKey +
                  "\\InprocServer32 = s 'C:\\PROGRA~1\\TALVIX.DLL' [Other] = s '1'\n"
                  "HKCR\\CLSID\\{other}\n"
                  "HKCR\\Talvix.TVXDevice = s 'TVXDevice Class'\n"
                  "HKCR\\Talvix.TVXDevice\\Foreign\n",
              registry.Dump());
}

TEST_F(Script101Test, FailureInsideTheRootBlockTakesEverythingBack)
{
    registry.DenyCreate(kClsidKey + "\\TypeLib");
    EXPECT_EQ(rgs::kDispException, Register(script));
    EXPECT_EQ("HKCR\\CLSID\nHKCR\\CLSID\\{other}\n", registry.Dump());
}

TEST_F(Script101Test, OutOfMemoryAnywhereFailsCleanly)
{
    for (const rgs::Mode mode : {rgs::Mode::Register, rgs::Mode::Unregister}) {
        for (long n = 0;; ++n) {
            ASSERT_LT(n, 1000);
            allocator.FailFrom(n);
            const rgs::Result result = Run(script, mode);
            allocator.FailFrom(-1);
            ASSERT_EQ(0u, registry.OpenHandles());
            ASSERT_EQ(0u, allocator.Live());
            if (result == rgs::kOk)
                break;
            ASSERT_EQ(rgs::kOutOfMemory, result) << "request " << n;
        }
    }
    EXPECT_EQ("HKCR\\CLSID\nHKCR\\CLSID\\{other}\n", registry.Dump());
}

}  // namespace
}  // namespace rgstest
