#include <gtest/gtest.h>

#include <string>

#include "registry/replacement_table.h"
#include "registry/rgs_preprocess.h"
#include "test_host.h"

namespace rgstest {
namespace {

class PreprocessTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(rgs::kOk, table.Add(u"Module", u"C:\\A''B\\T.DLL")); }

    rgs::Result Process(const std::string& script)
    {
        rgs::HeapBlock text(allocator);
        size_t length = 0;
        const rgs::Result result = rgs::Preprocess(script.data(), script.size(), table, locale, text, &length);
        output = result == rgs::kOk ? std::string(text.Bytes(), length) : std::string("<failed>");
        return result;
    }

    CountingAllocator allocator;
    TestLocale locale;
    rgs::ReplacementTable table{allocator};
    std::string output;
};

TEST_F(PreprocessTest, PlaceholderNamesMatchInAnyCase)
{
    ASSERT_EQ(rgs::kOk, Process("x = s '%MODULE%' %module%|%Module%|%mODULE%"));
    EXPECT_EQ("x = s 'C:\\A''B\\T.DLL' C:\\A''B\\T.DLL|C:\\A''B\\T.DLL|C:\\A''B\\T.DLL", output);
}

TEST_F(PreprocessTest, DoublePercentIsOnePercent)
{
    ASSERT_EQ(rgs::kOk, Process("'100%%' %%%MODULE%%%"));
    EXPECT_EQ("'100%' %C:\\A''B\\T.DLL%", output);
}

TEST_F(PreprocessTest, UnknownOrUnclosedPlaceholderIsASyntaxError)
{
    EXPECT_EQ(rgs::kDispException, Process("'%MODUL%'"));
    EXPECT_EQ(rgs::kDispException, Process("'%MODULE'"));
    EXPECT_EQ(rgs::kDispException, Process("trailing %"));
}

TEST_F(PreprocessTest, NamesOver31CharactersFail)
{
    const std::string name31(31, 'n');
    ASSERT_EQ(rgs::kOk, table.Add(std::u16string(31, u'n').c_str(), u"v"));
    ASSERT_EQ(rgs::kOk, Process("%" + name31 + "%"));
    EXPECT_EQ("v", output);
    EXPECT_EQ(rgs::kFail, Process("%" + name31 + "n%"));
    // Without its closing % a long name is still an unclosed placeholder.
    EXPECT_EQ(rgs::kDispException, Process("%" + name31 + "n"));
}

TEST_F(PreprocessTest, TextEndsAtItsFirstZeroByteOrItsSize)
{
    ASSERT_EQ(rgs::kOk, Process(std::string("HKCR\0%unknown%", 14)));
    EXPECT_EQ("HKCR", output);
    ASSERT_EQ(rgs::kOk, Process(""));
    EXPECT_EQ("", output);
}

TEST_F(PreprocessTest, BufferGrowsForLongValues)
{
    const std::u16string longValue(5000, u'w');
    ASSERT_EQ(rgs::kOk, table.Add(u"Long", longValue.c_str()));
    ASSERT_EQ(rgs::kOk, Process("<%LONG%>"));
    EXPECT_EQ("<" + std::string(5000, 'w') + ">", output);
}

TEST_F(PreprocessTest, TableGrowsPastItsFirstTenPairs)
{
    for (int i = 0; i < 25; ++i) {
        const std::u16string name = u"N" + std::u16string(1, char16_t(u'a' + i));
        const std::u16string value(1, char16_t(u'A' + i));
        ASSERT_EQ(rgs::kOk, table.Add(name.c_str(), value.c_str()));
    }
    ASSERT_EQ(rgs::kOk, Process("%Na%%nj%%NK%%ny%"));
    EXPECT_EQ("AJKY", output);
}

TEST_F(PreprocessTest, DoubleByteCharactersAreKeptWhole)
{
    TestLocale doubleByte(true);
    rgs::HeapBlock text(allocator);
    size_t length = 0;
    // 0x81 leads a two-byte character whose second byte is '%'.
    const std::string script = "a\x81%b";
    ASSERT_EQ(rgs::kOk, rgs::Preprocess(script.data(), script.size(), table, doubleByte, text, &length));
    EXPECT_EQ(script, std::string(text.Bytes(), length));
    EXPECT_EQ(rgs::kDispException, Process(script)) << "single-byte: the % opens a placeholder";
}

TEST_F(PreprocessTest, RunsOutOfMemoryCleanly)
{
    const std::string script = "HKCR { x = s '%MODULE%' }";
    for (long n = 0;; ++n) {
        allocator.FailFrom(n);
        const rgs::Result result = Process(script);
        allocator.FailFrom(-1);
        if (result == rgs::kOk)
            break;
        ASSERT_EQ(rgs::kOutOfMemory, result) << "request " << n;
        ASSERT_LT(n, 50);
    }
    EXPECT_EQ("HKCR { x = s 'C:\\A''B\\T.DLL' }", output);
}

TEST(ReplacementTableTest, AddFailsWithoutMemoryAndKeepsNothingHalfMade)
{
    CountingAllocator allocator;
    long n = 0;
    for (;; ++n) {
        rgs::ReplacementTable table(allocator);
        allocator.FailFrom(n);
        const rgs::Result result = table.Add(u"Module", u"v");
        allocator.FailFrom(-1);
        if (result == rgs::kOk) {
            EXPECT_EQ(std::u16string(u"v"), table.Find("MODULE", 6));
            EXPECT_EQ(nullptr, table.Find("MODULEX", 7));
            EXPECT_EQ(nullptr, table.Find("MODUL", 5));
            break;
        }
        EXPECT_EQ(rgs::kOutOfMemory, result);
        EXPECT_EQ(nullptr, table.Find("Module", 6));
    }
    EXPECT_EQ(3, n) << "the array, the name and the value can each fail";
    EXPECT_EQ(0u, allocator.Live());
}

}  // namespace
}  // namespace rgstest
