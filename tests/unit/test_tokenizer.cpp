// Tokenizer and string lists: Explode, FreeStrList, AllocateArray.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kelparse.h"

namespace {

// Tokens of a line; an empty vector stands for a null list (a list is never empty).
std::vector<std::string> Toks(const char* line)
{
    std::vector<std::string> out;
    char** list = Explode(line);
    if (list != nullptr) {
        for (char** p = list; *p != nullptr; ++p)
            out.emplace_back(*p);
        FreeStrList(list);
    }
    return out;
}

std::vector<std::string> Toks(const std::string& line)
{
    return Toks(line.c_str());
}

// True when Explode answers the line with a null list.
bool GivesNull(const char* line)
{
    char** list = Explode(line);
    bool isNull = (list == nullptr);
    FreeStrList(list);
    return isNull;
}

// A run of n token characters that never contains '/', each position easy to tell apart.
std::string TokenRun(size_t n)
{
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += kChars[i % (sizeof(kChars) - 1)];
    return s;
}

using V = std::vector<std::string>;

} // namespace

// Lines without tokens

TEST(TokenizerEmpty, NullInputGivesNull)
{
    EXPECT_EQ(Explode(nullptr), nullptr);
}

TEST(TokenizerEmpty, EmptyStringGivesNull)
{
    EXPECT_TRUE(GivesNull(""));
}

TEST(TokenizerEmpty, WhiteSpaceOnlyGivesNull)
{
    EXPECT_TRUE(GivesNull(" "));
    EXPECT_TRUE(GivesNull("  \t \t\n"));
    EXPECT_TRUE(GivesNull(" \t\n\v\f\r"));
    EXPECT_TRUE(GivesNull("\r\n"));
    EXPECT_TRUE(GivesNull("\n"));
}

TEST(TokenizerEmpty, CommentOnlyGivesNull)
{
    EXPECT_TRUE(GivesNull("// comment"));
    EXPECT_TRUE(GivesNull("   // comment"));
    EXPECT_TRUE(GivesNull("//"));
    EXPECT_TRUE(GivesNull("///"));
    EXPECT_TRUE(GivesNull("\t//x y z\n"));
    EXPECT_TRUE(GivesNull("//P1 LoadFile @100 \"prog.txt\n"));
}

// Ordinary lines

TEST(TokenizerLines, LoadFileLineGivesFourTokensAndTerminator)
{
    const char* line = "P1 LoadFile @100 \"prog.txt\n";
    char** list = Explode(line);
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list[0], "P1");
    EXPECT_STREQ(list[1], "LoadFile");
    EXPECT_STREQ(list[2], "@100");
    EXPECT_STREQ(list[3], "\"prog.txt");
    EXPECT_EQ(list[4], nullptr);
    FreeStrList(list);
}

TEST(TokenizerLines, SingleToken)
{
    EXPECT_EQ(Toks("x"), V({"x"}));
    EXPECT_EQ(Toks("P0\n"), V({"P0"}));
}

TEST(TokenizerLines, InputIsNotModified)
{
    char line[] = "  P3 STORE\t@5 #7 // set it\n";
    const std::string before(line);
    char** list = Explode(line);
    FreeStrList(list);
    EXPECT_EQ(std::string(line), before);
}

TEST(TokenizerLines, DoubleQuotesAndPercentAreOrdinary)
{
    EXPECT_EQ(Toks("\"a\" \"\" % %u"), V({"\"a\"", "\"\"", "%", "%u"}));
}

TEST(TokenizerLines, HighBytesAreTokenCharacters)
{
    // 0x85 and 0xA0 are blanks in some character sets; here they are token characters.
    EXPECT_EQ(Toks("\x80\xff abc\xe9"), V({"\x80\xff", "abc\xe9"}));
    EXPECT_EQ(Toks("a\xa0"
                   "b"),
              V({"a\xa0"
                 "b"}));
    EXPECT_EQ(Toks("a\x85"
                   "b \xa0"),
              V({"a\x85"
                 "b",
                 "\xa0"}));
}

TEST(TokenizerLines, OtherControlCharactersAreTokenCharacters)
{
    EXPECT_EQ(Toks("a\x1c"
                   "b c\x08"),
              V({"a\x1c"
                 "b",
                 "c\x08"}));
    EXPECT_EQ(Toks("\x1f"), V({"\x1f"}));
}

// White space

TEST(TokenizerWhiteSpace, EachOfTheSixCharactersSeparates)
{
    const char kSpaces[] = {' ', '\t', '\n', '\v', '\f', '\r'};
    for (char c : kSpaces) {
        SCOPED_TRACE(static_cast<int>(c));
        EXPECT_EQ(Toks(std::string("ab") + c + "cd"), V({"ab", "cd"}));
    }
}

TEST(TokenizerWhiteSpace, LeadingTrailingAndRepeatedGiveNoEmptyTokens)
{
    const char kSpaces[] = {' ', '\t', '\n', '\v', '\f', '\r'};
    for (char c : kSpaces) {
        SCOPED_TRACE(static_cast<int>(c));
        std::string w(3, c);
        EXPECT_EQ(Toks(w + "ab" + w + "cd" + w + "e" + w), V({"ab", "cd", "e"}));
    }
}

TEST(TokenizerWhiteSpace, MixedRunsSeparate)
{
    EXPECT_EQ(Toks(" \t\v\fP0\r\n\t STORE \f\v@5\r#7 \n"), V({"P0", "STORE", "@5", "#7"}));
}

// Comments

TEST(TokenizerComments, CommentAfterTokensIsDropped)
{
    EXPECT_EQ(Toks("P3 STORE @5 #7 // set it"), V({"P3", "STORE", "@5", "#7"}));
    EXPECT_EQ(Toks("a //b c"), V({"a"}));
    EXPECT_EQ(Toks("a\t//"), V({"a"}));
}

TEST(TokenizerComments, SlashesInsideATokenBelongToIt)
{
    EXPECT_EQ(Toks("P1//x"), V({"P1//x"}));
    EXPECT_EQ(Toks("a//b c"), V({"a//b", "c"}));
    EXPECT_EQ(Toks("x///y // z"), V({"x///y"}));
}

TEST(TokenizerComments, SingleSlashIsAToken)
{
    EXPECT_EQ(Toks("/"), V({"/"}));
    EXPECT_EQ(Toks("/x"), V({"/x"}));
    EXPECT_EQ(Toks("a / b /c"), V({"a", "/", "b", "/c"}));
    EXPECT_EQ(Toks("/ //x"), V({"/"}));
}

// Token length limit of 99 characters

TEST(TokenizerLength, NinetyNineCharactersAreOneToken)
{
    const std::string r = TokenRun(99);
    EXPECT_EQ(Toks(r), V({r}));
    EXPECT_EQ(Toks(" " + r + "\n"), V({r}));
}

TEST(TokenizerLength, HundredCharactersGiveNinetyNineAndOne)
{
    const std::string r = TokenRun(100);
    EXPECT_EQ(Toks(r), V({r.substr(0, 99), r.substr(99)}));
}

TEST(TokenizerLength, TwoHundredFiftyGiveNinetyNineNinetyNineFiftyTwo)
{
    const std::string r = TokenRun(250);
    V got = Toks(r + " z\n");
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0], r.substr(0, 99));
    EXPECT_EQ(got[1], r.substr(99, 99));
    EXPECT_EQ(got[2], r.substr(198));
    EXPECT_EQ(got[2].size(), 52u);
    EXPECT_EQ(got[3], "z");
}

TEST(TokenizerLength, ExactMultipleGivesNoEmptyToken)
{
    const std::string r = TokenRun(198);
    EXPECT_EQ(Toks(r + "\n"), V({r.substr(0, 99), r.substr(99)}));
}

TEST(TokenizerLength, CommentAtContinuationEndsTheLine)
{
    // Characters 100 and 101 of a 120-character run are "//".
    std::string r = TokenRun(120);
    r[99] = '/';
    r[100] = '/';
    EXPECT_EQ(Toks(r + " more"), V({r.substr(0, 99)}));
}

TEST(TokenizerLength, SingleSlashAtContinuationIsAToken)
{
    std::string r = TokenRun(99) + "/";
    EXPECT_EQ(Toks(r + " x"), V({r.substr(0, 99), "/", "x"}));
}

TEST(TokenizerLength, SlashesInsideLongRunBeforeTheCut)
{
    // "//" within the first 99 characters is inside a token, not a comment.
    std::string r = TokenRun(120);
    r[50] = '/';
    r[51] = '/';
    EXPECT_EQ(Toks(r), V({r.substr(0, 99), r.substr(99)}));
}

// FreeStrList

TEST(TokenizerFree, NullIsIgnored)
{
    FreeStrList(nullptr);
    SUCCEED();
}

TEST(TokenizerFree, ReleasesHandBuiltList)
{
    // A list made of the same kind of heap blocks as Explode makes; the leak checker
    // of the sanitizer build verifies that every block goes.
    char** list = static_cast<char**>(AllocateArray(nullptr, sizeof(char*), 3));
    ASSERT_NE(list, nullptr);
    list[0] = static_cast<char*>(std::malloc(4));
    list[1] = static_cast<char*>(std::malloc(2));
    ASSERT_NE(list[0], nullptr);
    ASSERT_NE(list[1], nullptr);
    std::strcpy(list[0], "abc");
    std::strcpy(list[1], "d");
    list[2] = nullptr;
    FreeStrList(list);
}

TEST(TokenizerFree, ReleasesLongLists)
{
    std::string line;
    for (int i = 0; i < 200; ++i)
        line += "t" + std::to_string(i) + " ";
    char** list = Explode(line.c_str());
    ASSERT_NE(list, nullptr);
    int n = 0;
    while (list[n] != nullptr) {
        EXPECT_EQ(std::string(list[n]), "t" + std::to_string(n));
        ++n;
    }
    EXPECT_EQ(n, 200);
    FreeStrList(list);
}

// AllocateArray

TEST(TokenizerAllocateArray, NewBlockIsUsable)
{
    auto* p = static_cast<int32_t*>(AllocateArray(nullptr, sizeof(int32_t), 10));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 10; ++i)
        p[i] = i * 3;
    EXPECT_EQ(p[9], 27);
    std::free(p);
}

TEST(TokenizerAllocateArray, ResizeKeepsContents)
{
    auto* p = static_cast<int32_t*>(AllocateArray(nullptr, sizeof(int32_t), 10));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 10; ++i)
        p[i] = 1000 + i;

    auto* grown = static_cast<int32_t*>(AllocateArray(p, sizeof(int32_t), 5000));
    ASSERT_NE(grown, nullptr);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(grown[i], 1000 + i);
    grown[4999] = 7;

    auto* shrunk = static_cast<int32_t*>(AllocateArray(grown, sizeof(int32_t), 3));
    ASSERT_NE(shrunk, nullptr);
    EXPECT_EQ(shrunk[0], 1000);
    EXPECT_EQ(shrunk[1], 1001);
    EXPECT_EQ(shrunk[2], 1002);
    std::free(shrunk);
}

TEST(TokenizerAllocateArray, SizeOrCountBelowOneGivesNull)
{
    EXPECT_EQ(AllocateArray(nullptr, 0, 5), nullptr);
    EXPECT_EQ(AllocateArray(nullptr, 5, 0), nullptr);
    EXPECT_EQ(AllocateArray(nullptr, -1, 5), nullptr);
    EXPECT_EQ(AllocateArray(nullptr, 5, -1), nullptr);
    EXPECT_EQ(AllocateArray(nullptr, INT32_MIN, INT32_MIN), nullptr);
}

TEST(TokenizerAllocateArray, RefusedResizeLeavesBlockUntouched)
{
    auto* p = static_cast<char*>(AllocateArray(nullptr, 1, 8));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "abcdefg", 8);
    EXPECT_EQ(AllocateArray(p, 0, 8), nullptr);
    EXPECT_EQ(AllocateArray(p, 8, 0), nullptr);
    EXPECT_EQ(AllocateArray(p, -4, 2), nullptr);
    // Still ours and still intact.
    EXPECT_STREQ(p, "abcdefg");
    std::free(p);
}
