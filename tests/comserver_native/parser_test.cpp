#include <string>

#include "script_harness.h"

namespace rgstest {
namespace {

using rgs::kDispException;
using rgs::kFail;
using rgs::kOk;
using rgs::kOutOfMemory;

using ParserTest = ScriptTest;

TEST_F(ParserTest, EveryRootNameInAnyCase)
{
    const char* const names[][3] = {
        {"HKCR", "HKEY_CLASSES_ROOT", "HKCR"}, {"HKCU", "HKEY_CURRENT_USER", "HKCU"},
        {"HKLM", "hkey_local_machine", "HKLM"}, {"hku", "HKEY_USERS", "HKU"},
        {"HKPD", "HKEY_PERFORMANCE_DATA", "HKPD"}, {"HKDD", "HKEY_DYN_DATA", "HKDD"},
        {"hkcc", "HKEY_CURRENT_CONFIG", "HKCC"},
    };
    for (const auto& root : names) {
        ASSERT_EQ(kOk, Register(std::string(root[0]) + " { short } " + root[1] + " { long }")) << root[0];
        EXPECT_EQ(std::string(root[2]) + "\n" + root[2] + "\\long\n" + root[2] + "\\short\n", registry.Dump(root[2]));
        ASSERT_EQ(kOk, Unregister(std::string(root[1]) + " { short long }"));
    }
    EXPECT_EQ("", registry.Dump());
}

TEST_F(ParserTest, UnknownRootOrMissingBraceIsASyntaxError)
{
    EXPECT_EQ(kDispException, Register("HKEY_CLASSES { a }"));
    EXPECT_EQ(kDispException, Register("HKCR a { }"));
    EXPECT_EQ(kDispException, Register("HKCR"));
    EXPECT_EQ(kDispException, Unregister("HKCU { } HKXX { }"));
    EXPECT_EQ("", registry.Dump());
    EXPECT_EQ(kOk, Register(" \r\n\t"));
}

TEST_F(ParserTest, TextEndingWhereATokenIsNeededIsASyntaxError)
{
    for (const char* script : {"HKCR {", "HKCR { a", "HKCR { a =", "HKCR { a = s", "HKCR { a { }",
                               "HKCR { val", "HKCR { val v", "HKCR { val v =", "HKCR { ForceRemove"}) {
        EXPECT_EQ(kDispException, Register(script)) << script;
        EXPECT_EQ(kDispException, Unregister(script)) << script;
    }
    EXPECT_EQ("", registry.Dump()) << "the recovery pass took back every key";
}

TEST_F(ParserTest, RegisterWritesKeysDefaultsAndNamedValues)
{
    registry.AddString("HKCR\\old", "keep", "x");
    ASSERT_EQ(kOk, Register("HKCR { plain  withValue = s 'v 1'  old = s 'new' { val Named = s 'n' sub } }"));
    EXPECT_EQ("HKCR\\old = s 'new' [keep] = s 'x' [Named] = s 'n'\n"
              "HKCR\\old\\sub\n"
              "HKCR\\plain\n"
              "HKCR\\withValue = s 'v 1'\n",
              registry.Dump());
}

TEST_F(ParserTest, ValueTypes)
{
    ASSERT_EQ(kOk, Register("HKCU { k = d '4294967295' { val D = D 7 val B = b '00FFa0' val E = b '' val S = S '' } }"));
    EXPECT_EQ("HKCU\\k = d 4294967295 [B] = b 00FFA0 [D] = d 7 [E] = b  [S] = s ''\n", registry.Dump());
}

TEST_F(ParserTest, BadValuesFailAndAreTakenBack)
{
    EXPECT_EQ(kFail, Register("HKCU { k { val B = b '0FF' } }"));
    EXPECT_EQ(kDispException, Register("HKCU { k { val B = b '0G' } }"));
    EXPECT_EQ(rgs::kTypeMismatch, Register("HKCU { k = d 'x' }"));
    EXPECT_EQ(rgs::kOverflow, Register("HKCU { k = d 4294967296 }"));
    EXPECT_EQ(kDispException, Register("HKCU { k = x 'v' }"));
    EXPECT_EQ(kDispException, Register("HKCU { k = sz 'v' }"));
    EXPECT_EQ(kDispException, Register("HKCU { k { val v s 'x' } }")) << "val without =";
    EXPECT_EQ("", registry.Dump());
    // Unregistering reads the type letter but converts nothing.
    registry.AddKey("HKCU\\k");
    EXPECT_EQ(kOk, Unregister("HKCU { k = d 'x' { val B = b '0FF' } }"));
    EXPECT_EQ(kDispException, Unregister("HKCU { k = x 'v' }"));
}

TEST_F(ParserTest, KeyNamesAreOneNonEmptyLevel)
{
    EXPECT_EQ(kDispException, Register("HKCR { 'a\\b' }"));
    EXPECT_EQ(kDispException, Register("HKCR { '' = s 'default of HKCR' }"));
    EXPECT_EQ(kDispException, Register("HKCR { ForceRemove '' }"));
    EXPECT_EQ(kDispException, Unregister("HKCR { '' }"));
    EXPECT_EQ("", registry.Dump());
}

TEST_F(ParserTest, BackslashAsSecondByteOfADoubleByteCharacterIsNoSeparator)
{
    TestLocale doubleByte(true);
    rgs::ReplacementTable table(allocator);
    const std::string script = "HKCR { 'a\x81\\b' }";
    ASSERT_EQ(kOk, rgs::RunRegistryScript(script.data(), script.size(), table, rgs::Mode::Register, registry,
                                          allocator, doubleByte));
    EXPECT_EQ("HKCR\\a\x81\\b\n", registry.Dump());
}

TEST_F(ParserTest, ForceRemoveDeletesTheWholeSubtreeFirst)
{
    registry.AddString("HKCR\\k\\a\\b\\c", "v", "1");
    registry.AddKey("HKCR\\k\\d");
    registry.AddString("HKCR\\k", "old", "1");
    ASSERT_EQ(kOk, Register("HKCR { ForceRemove k = s 'fresh' { e } }"));
    EXPECT_EQ("HKCR\\k = s 'fresh'\nHKCR\\k\\e\n", registry.Dump());
    // Unregistering ignores the keyword: the key goes only when nothing else is left.
    registry.AddKey("HKCR\\k\\foreign");
    ASSERT_EQ(kOk, Unregister("HKCR { ForceRemove k = s 'fresh' { e } }"));
    EXPECT_EQ("HKCR\\k = s 'fresh'\nHKCR\\k\\foreign\n", registry.Dump());
}

TEST_F(ParserTest, ForceRemoveAndDeleteNeverTakeClsidOrTypeLib)
{
    registry.AddKey("HKCR\\CLSID\\{other}");
    registry.AddKey("HKCR\\TypeLib\\{other}");
    ASSERT_EQ(kOk, Register("HKCR { ForceRemove clsid ForceRemove TYPELIB Delete CLSID Delete typelib }"));
    EXPECT_EQ("HKCR\\CLSID\nHKCR\\CLSID\\{other}\nHKCR\\TypeLib\nHKCR\\TypeLib\\{other}\n", registry.Dump());
}

TEST_F(ParserTest, DeleteRemovesTheSubtreeAndSkipsAssignmentAndBlock)
{
    registry.AddString("HKCR\\gone\\sub", "v", "1");
    registry.AddKey("HKCR\\gone2");
    ASSERT_EQ(kOk, Register("HKCR { Delete gone = s 'x' { val v = s 'y' sub2 } Delete gone2 Delete never after }"));
    EXPECT_EQ("HKCR\\after\n", registry.Dump());
    // In unregister mode the keyword is ignored.
    registry.AddKey("HKCR\\gone");
    ASSERT_EQ(kOk, Unregister("HKCR { Delete gone { sub } }"));
    EXPECT_EQ("HKCR\\after\n", registry.Dump());
}

TEST_F(ParserTest, NoRemoveProtectsOnlyTheEntryItMarks)
{
    const std::string script = "HKCR { NoRemove kept { inner } NoRemove alsoKept = s 'x' gone { below } last }";
    ASSERT_EQ(kOk, Register(script));
    ASSERT_EQ(kOk, Unregister(script));
    EXPECT_EQ("HKCR\\alsoKept = s 'x'\nHKCR\\kept\n", registry.Dump());
}

TEST_F(ParserTest, UnregisterRemovesWhatTheScriptNamesAndNothingElse)
{
    const std::string script = "HKCR { a = s 'A' { b = s 'B' { val v = s 'V' } c } d = s 'D' }";
    ASSERT_EQ(kOk, Register(script));
    registry.AddKey("HKCR\\sibling");
    ASSERT_EQ(kOk, Unregister(script));
    EXPECT_EQ("HKCR\\sibling\n", registry.Dump());
    EXPECT_EQ(kOk, Unregister(script)) << "a second run finds nothing to remove";
    EXPECT_EQ("HKCR\\sibling\n", registry.Dump());
}

TEST_F(ParserTest, UnregisterLeavesAKeyThatStillHoldsSomethingForeign)
{
    const std::string script = "HKCR { a { b { c } } x }";
    ASSERT_EQ(kOk, Register(script));
    registry.AddKey("HKCR\\a\\b\\foreign");
    // A key of the same name one level down must not be taken in a's stead.
    registry.AddKey("HKCR\\a\\b\\b");
    ASSERT_EQ(kOk, Unregister(script));
    EXPECT_EQ("HKCR\\a\nHKCR\\a\\b\nHKCR\\a\\b\\b\nHKCR\\a\\b\\foreign\n", registry.Dump());
}

TEST_F(ParserTest, UnregisterReadsTheEntryAfterAKeyWithValuesButNoBlock)
{
    registry.AddString("HKCR\\full", "named", "x");
    registry.AddKey("HKCR\\full\\sub");
    registry.AddKey("HKCR\\next");
    ASSERT_EQ(kOk, Unregister("HKCR { full = s 'v' next }"));
    EXPECT_EQ("HKCR\\full [named] = s 'x'\nHKCR\\full\\sub\n", registry.Dump());
}

TEST_F(ParserTest, UnregisterReadsABlockUnderItsEmptyKey)
{
    registry.AddKey("HKCR\\empty");
    registry.AddString("HKCR\\inner", "", "not the block's key");
    ASSERT_EQ(kOk, Unregister("HKCR { empty { inner } }"));
    EXPECT_EQ("HKCR\\inner = s 'not the block's key'\n", registry.Dump());
}

TEST_F(ParserTest, UnregisterCountsOnlyNamedValues)
{
    registry.AddString("HKCR\\withDefault", "", "d");
    registry.AddString("HKCR\\withNamed", "n", "v");
    ASSERT_EQ(kOk, Unregister("HKCR { withDefault withNamed }"));
    EXPECT_EQ("HKCR\\withNamed [n] = s 'v'\n", registry.Dump());
}

TEST_F(ParserTest, UnregisterLeavesAKeyThatDoesNotOpenUntouched)
{
    registry.AddKey("HKCR\\locked\\child");
    registry.AddString("HKCR\\locked", "v", "1");
    registry.AddKey("HKCR\\child");
    registry.DenyOpen("HKCR\\locked");
    ASSERT_EQ(kOk, Unregister("HKCR { locked = s 'x' { child val v = s '1' } after }"));
    EXPECT_EQ("HKCR\\child\nHKCR\\locked [v] = s '1'\nHKCR\\locked\\child\n", registry.Dump());
}

TEST_F(ParserTest, UnregisterOfAReadOnlyKeyStillWorksBelowIt)
{
    registry.AddString("HKCR\\ro", "v", "1");
    registry.AddKey("HKCR\\ro\\child");
    registry.ReadOnly("HKCR\\ro");
    ASSERT_EQ(kOk, Unregister("HKCR { ro { child val v = s '1' } }"));
    EXPECT_EQ("HKCR\\ro [v] = s '1'\n", registry.Dump()) << "the value needs write access to go";
}

TEST_F(ParserTest, ValEntriesSetAndDeleteNamedValues)
{
    registry.AddString("HKCU\\k", "keep", "x");
    ASSERT_EQ(kOk, Register("HKCU { val top = s 't' k { val ThreadingModel = s 'Apartment' val '' = s 'def' } }"));
    EXPECT_EQ("HKCU [top] = s 't'\nHKCU\\k = s 'def' [keep] = s 'x' [ThreadingModel] = s 'Apartment'\n",
              registry.Dump());
    ASSERT_EQ(kOk, Unregister("HKCU { val top = s 't' k { val ThreadingModel = s 'Apartment' val missing = s '' } }"));
    EXPECT_EQ("HKCU\\k = s 'def' [keep] = s 'x'\n", registry.Dump());
}

TEST_F(ParserTest, ReadOnlyKeyOpensForReadingAndRefusedValuesDoNotFail)
{
    registry.AddKey("HKCR\\ro");
    registry.ReadOnly("HKCR\\ro");
    EXPECT_EQ(kOk, Register("HKCR { ro = s 'refused' { val v = s 'refused' } after }"));
    EXPECT_EQ("HKCR\\after\nHKCR\\ro\n", registry.Dump());
}

TEST_F(ParserTest, KeyThatCannotBeCreatedFailsAndTheBlockIsTakenBack)
{
    registry.AddKey("HKCR\\CLSID\\{other}");
    registry.AddKey("HKCR\\foreign");
    registry.DenyCreate("HKCR\\CLSID\\{new}\\bad");
    EXPECT_EQ(kOk, Register("HKCU { done }"));
    const std::string script = "HKCR { one = s '1' { two } NoRemove CLSID { ForceRemove {new} = s 'n' {"
                               " good = s 'g' { val t = s 'x' } bad = s 'never' later } } never }";
    EXPECT_EQ(kDispException, Register(script));
    EXPECT_EQ("HKCR\\CLSID\nHKCR\\CLSID\\{other}\nHKCR\\foreign\nHKCU\\done\n", registry.Dump())
        << "only the failing root's block is taken back";
}

TEST_F(ParserTest, RecoveryPassTakesBackTheKeysAroundASyntaxError)
{
    ASSERT_EQ(kDispException, Register("HKCR { a { b } c { d = s 'unclosed } }"));
    EXPECT_EQ("", registry.Dump());
    ASSERT_EQ(kDispException, Register("HKCR { e { f = x 'bad type' } }"));
    EXPECT_EQ("", registry.Dump());
}

TEST_F(ParserTest, KeyHandleThatCannotBeClosedFails)
{
    registry.FailClose("HKCR\\a\\b");
    EXPECT_EQ(kDispException, Register("HKCR { a { b } }"));
    EXPECT_EQ(kDispException, Unregister("HKCR { a { b } }"));
}

TEST_F(ParserTest, NestingIsLimited)
{
    std::string deep = "HKCU {";
    for (unsigned i = 1; i < rgs::kMaxNesting; ++i)
        deep += " k {";
    std::string closing;
    for (unsigned i = 0; i < rgs::kMaxNesting; ++i)
        closing += " }";
    ASSERT_EQ(kOk, Register(deep + closing));
    ASSERT_EQ(kOk, Unregister(deep + closing));
    EXPECT_EQ(kDispException, Register(deep + " k { }" + closing));
    EXPECT_EQ("", registry.Dump());
}

TEST_F(ParserTest, PlaceholderFailuresComeFromPreprocessing)
{
    EXPECT_EQ(kDispException, Register("HKCR { a = s '%NOPE%' }"));
    EXPECT_EQ(kFail, Register("HKCR { a = s '%" + std::string(32, 'n') + "%' }"));
    EXPECT_EQ("", registry.Dump()) << "nothing runs after a preprocessing failure";
}

}  // namespace
}  // namespace rgstest
