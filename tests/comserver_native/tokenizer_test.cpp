#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry/rgs_tokenizer.h"
#include "test_host.h"

namespace rgstest {
namespace {

// Tokens of `text`, then "<end>" or "<malformed>".
std::vector<std::string> Tokens(const std::string& text, bool doubleByte = false)
{
    TestLocale locale(doubleByte);
    std::vector<char> buffer(rgs::kMaxToken + 1);
    rgs::Tokenizer tokens(text.data(), text.size(), locale, buffer.data());
    std::vector<std::string> out;
    for (;;) {
        const rgs::TokenStatus status = tokens.Next();
        if (status != rgs::TokenStatus::Token) {
            out.push_back(status == rgs::TokenStatus::End ? "<end>" : "<malformed>");
            return out;
        }
        EXPECT_EQ(tokens.TokenLength(), std::string(tokens.Token()).size());
        out.push_back(std::string(tokens.Token(), tokens.TokenLength()));
    }
}

using List = std::vector<std::string>;

TEST(TokenizerTest, WhiteSpaceIsSpaceTabCrAndLf)
{
    EXPECT_EQ((List{"HKCR", "{", "a", "=", "s", "b", "}", "<end>"}), Tokens(" HKCR\r\n{\n\ta = s b\t}\r\n"));
    EXPECT_EQ((List{"a\vb\fc", "<end>"}), Tokens("a\vb\fc"));
    EXPECT_EQ((List{"<end>"}), Tokens(" \t\r\n"));
}

TEST(TokenizerTest, BracesAndEqualsMustStandApart)
{
    EXPECT_EQ((List{"a{", "=b", "}", "<end>"}), Tokens("a{ =b }"));
}

TEST(TokenizerTest, QuotedTokensDropTheirQuotesAndUndoubleInnerOnes)
{
    EXPECT_EQ((List{"TVXDevice Class", "it's", "'", "", "<end>"}), Tokens("'TVXDevice Class' 'it''s' '''' ''"));
    EXPECT_EQ((List{"a", "b", "<end>"}), Tokens("'a'b"));
    EXPECT_EQ((List{"a'b'", "<end>"}), Tokens("a'b'")) << "a quote inside a plain token is plain";
}

TEST(TokenizerTest, UnclosedQuoteIsMalformed)
{
    EXPECT_EQ((List{"x", "<malformed>"}), Tokens("x 'never closed"));
    EXPECT_EQ((List{"<malformed>"}), Tokens("'ends in a doubled quote''"));
}

TEST(TokenizerTest, TokensHoldAtMost4094Bytes)
{
    const std::string longest(rgs::kMaxToken, 'q');
    EXPECT_EQ((List{longest, "<end>"}), Tokens("'" + longest + "'"));
    EXPECT_EQ((List{longest, "<end>"}), Tokens(longest));
    EXPECT_EQ((List{"<malformed>"}), Tokens("'" + longest + "q'"));
    EXPECT_EQ((List{"<malformed>"}), Tokens(longest + "q"));
    // A doubled quote counts as one byte.
    EXPECT_EQ((List{std::string(rgs::kMaxToken - 1, 'q') + "'", "<end>"}),
              Tokens("'" + std::string(rgs::kMaxToken - 1, 'q') + "'''"));
}

TEST(TokenizerTest, DoubleByteCharactersAreKeptWhole)
{
    // 0x81 leads a character whose second byte is a quote or a space.
    EXPECT_EQ((List{"a\x81'b", "<end>"}), Tokens("'a\x81'b'", true));
    EXPECT_EQ((List{"a\x81 b", "<end>"}), Tokens("a\x81 b", true));
    EXPECT_EQ((List{"a\x81", "b", "<end>"}), Tokens("a\x81 b", false));
    // A lead byte at the very end stands alone.
    EXPECT_EQ((List{"a\x81", "<end>"}), Tokens("a\x81", true));
    // A double-byte character that would cross the limit is not split.
    EXPECT_EQ((List{"<malformed>"}), Tokens(std::string(rgs::kMaxToken - 1, 'q') + "\x81x", true));
}

TEST(TokenizerTest, RewindReadsTheSameTokensAgain)
{
    TestLocale locale;
    std::vector<char> buffer(rgs::kMaxToken + 1);
    const std::string text = "a 'b c' d";
    rgs::Tokenizer tokens(text.data(), text.size(), locale, buffer.data());
    ASSERT_EQ(rgs::TokenStatus::Token, tokens.Next());
    const size_t mark = tokens.Position();
    ASSERT_EQ(rgs::TokenStatus::Token, tokens.Next());
    ASSERT_EQ(rgs::TokenStatus::Token, tokens.Next());
    EXPECT_TRUE(tokens.Is("D"));
    tokens.Rewind(mark);
    ASSERT_EQ(rgs::TokenStatus::Token, tokens.Next());
    EXPECT_STREQ("b c", tokens.Token());
}

}  // namespace
}  // namespace rgstest
