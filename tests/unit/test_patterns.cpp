// Pattern matching and classification: CompareType, FindInList, DetermineType,
// DetermineSubType, on hand-made patterns and on the two real tables.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "KelLoad.h"
#include "KelParseCmd.h"
#include "kelparse.h"

namespace {

// Small tables of our own; the sanitizer build catches any read past their terminators.
const char* const kDigits[] = {"%u", nullptr};
const char* const kTwelveOrX[] = {"12", "x%s", nullptr};
const char* const kEmptyList[] = {nullptr};
const char* const* const kTable[] = {kDigits, kTwelveOrX, nullptr};
const char* const* const kEmptyTable[] = {nullptr};
const char* const* const kTableWithEmptyList[] = {kEmptyList, kDigits, nullptr};

} // namespace

// CompareType: literals

TEST(PatternLiteral, ExactMatchOnly)
{
    EXPECT_EQ(CompareType("RUN", "RUN"), 0);
    EXPECT_EQ(CompareType("run", "RUN"), -1);
    EXPECT_EQ(CompareType("Run", "RUN"), -1);
    EXPECT_EQ(CompareType("RUNX", "RUN"), -1);
    EXPECT_EQ(CompareType("RU", "RUN"), -1);
    EXPECT_EQ(CompareType("RXN", "RUN"), -1);
}

TEST(PatternLiteral, EmptyTokenAndEmptyPattern)
{
    EXPECT_EQ(CompareType("", ""), 0);
    EXPECT_EQ(CompareType("", "%u"), -1);
    EXPECT_EQ(CompareType("", "%s"), -1);
    EXPECT_EQ(CompareType("", "a"), -1);
    EXPECT_EQ(CompareType("abc", ""), -1);
    EXPECT_EQ(CompareType("%", ""), -1);
}

TEST(PatternLiteral, NullArgumentsGiveMinusOne)
{
    EXPECT_EQ(CompareType(nullptr, "a"), -1);
    EXPECT_EQ(CompareType("a", nullptr), -1);
    EXPECT_EQ(CompareType(nullptr, nullptr), -1);
    EXPECT_EQ(CompareType(nullptr, ""), -1);
    EXPECT_EQ(CompareType("", nullptr), -1);
}

TEST(PatternLiteral, PercentInTokenIsOrdinary)
{
    // The token "%u" is not a directive and does not match the pattern "%u".
    EXPECT_EQ(CompareType("%u", "%u"), -1);
    EXPECT_EQ(CompareType("%s", "%s"), 0); // "%s" takes any non-empty rest
    EXPECT_EQ(CompareType("#%", "#%s"), 0);
    EXPECT_EQ(CompareType("\"%", "\"%s"), 0);
    EXPECT_EQ(CompareType("a%", "a%u"), -1);
}

// CompareType: "%u"

TEST(PatternDigits, TrailingDirectiveTakesOneOrMoreDigits)
{
    EXPECT_EQ(CompareType("P12", "P%u"), 0);
    EXPECT_EQ(CompareType("P7", "P%u"), 0);
    EXPECT_EQ(CompareType("P007", "P%u"), 0);
    EXPECT_EQ(CompareType("P99999999999999999999999", "P%u"), 0);
    EXPECT_EQ(CompareType("P", "P%u"), -1);
    EXPECT_EQ(CompareType("P1x", "P%u"), -1);
    EXPECT_EQ(CompareType("Px", "P%u"), -1);
    EXPECT_EQ(CompareType("P-1", "P%u"), -1);
    EXPECT_EQ(CompareType("P+1", "P%u"), -1);
    EXPECT_EQ(CompareType("P 1", "P%u"), -1);
    EXPECT_EQ(CompareType("0123456789", "%u"), 0);
}

TEST(PatternDigits, UpperCaseDirectiveBehavesTheSame)
{
    EXPECT_EQ(CompareType("P12", "P%U"), 0);
    EXPECT_EQ(CompareType("P", "P%U"), -1);
    EXPECT_EQ(CompareType("P1x", "P%U"), -1);
    EXPECT_EQ(CompareType("12x", "%Ux"), 0);
    EXPECT_EQ(CompareType("x", "%Ux"), 0);
}

TEST(PatternDigits, InnerDirectiveMayTakeNoDigits)
{
    EXPECT_EQ(CompareType("x", "%ux"), 0);
    EXPECT_EQ(CompareType("12x", "%ux"), 0);
    EXPECT_EQ(CompareType("12", "%ux"), -1);
    EXPECT_EQ(CompareType("x1", "%ux"), -1);
    EXPECT_EQ(CompareType("12xy", "%ux"), -1);
    EXPECT_EQ(CompareType("12a34", "%ua%u"), 0);
    EXPECT_EQ(CompareType("a34", "%ua%u"), 0);
    EXPECT_EQ(CompareType("12a", "%ua%u"), -1);
}

TEST(PatternDigits, DirectiveNeverGivesDigitsBack)
{
    EXPECT_EQ(CompareType("5", "%u5"), -1);
    EXPECT_EQ(CompareType("15", "%u5"), -1);
    EXPECT_EQ(CompareType("125", "%u5"), -1);
    EXPECT_EQ(CompareType("", "%u5"), -1);
    EXPECT_EQ(CompareType("x5", "%u5"), -1);
}

// CompareType: "%s"

TEST(PatternRest, TakesAnyNonEmptyRest)
{
    EXPECT_EQ(CompareType("\"abc", "\"%s"), 0);
    EXPECT_EQ(CompareType("\"a", "\"%s"), 0);
    EXPECT_EQ(CompareType("\"\"", "\"%s"), 0);
    EXPECT_EQ(CompareType("\"a\"b\"", "\"%s"), 0);
    EXPECT_EQ(CompareType("\" ", "\"%s"), 0);
    EXPECT_EQ(CompareType("\"", "\"%s"), -1);
    EXPECT_EQ(CompareType("abc", "\"%s"), -1);
    EXPECT_EQ(CompareType("P", "P%s"), -1);
    EXPECT_EQ(CompareType("anything", "%s"), 0);
}

TEST(PatternRest, UpperCaseDirectiveBehavesTheSame)
{
    EXPECT_EQ(CompareType("\"abc", "\"%S"), 0);
    EXPECT_EQ(CompareType("\"", "\"%S"), -1);
    EXPECT_EQ(CompareType("abc", "a%Szz"), 0);
}

TEST(PatternRest, WhatFollowsTheDirectiveIsNotLooked)
{
    EXPECT_EQ(CompareType("abc", "a%sZZZ"), 0);
    EXPECT_EQ(CompareType("x", "%sabc"), 0);
    EXPECT_EQ(CompareType("ab", "a%s%x"), 0);
}

// CompareType: bad directives

TEST(PatternBadDirective, UnknownLetterFails)
{
    EXPECT_EQ(CompareType("x", "%x"), -1);
    EXPECT_EQ(CompareType("%x", "%x"), -1);
    EXPECT_EQ(CompareType("ab", "a%x"), -1);
    EXPECT_EQ(CompareType("a1", "a%d"), -1);
    EXPECT_EQ(CompareType("a", "a%%"), -1);
    EXPECT_EQ(CompareType("a%", "a%%"), -1);
}

TEST(PatternBadDirective, TrailingPercentMatchesNothing)
{
    EXPECT_EQ(CompareType("a", "a%"), -1);
    EXPECT_EQ(CompareType("a%", "a%"), -1);
    EXPECT_EQ(CompareType("ab", "a%"), -1);
    EXPECT_EQ(CompareType("", "a%"), -1);
    EXPECT_EQ(CompareType("%", "%"), -1);
    EXPECT_EQ(CompareType("x", "%"), -1);
}

TEST(PatternBadDirective, FailsBeforeOrWithoutReachingIt)
{
    // A literal mismatch before the bad directive decides first.
    EXPECT_EQ(CompareType("b", "a%x"), -1);
    // The token runs out before the directive: the pattern is not exhausted.
    EXPECT_EQ(CompareType("a", "a%x"), -1);
}

// FindInList

TEST(PatternFindInList, IndexOfFirstMatchingPattern)
{
    EXPECT_EQ(FindInList("RUN", DataType_Instruction), 0);
    EXPECT_EQ(FindInList("HALT", DataType_Instruction), 1);
    EXPECT_EQ(FindInList("NOP", DataType_Instruction), -1);
    EXPECT_EQ(FindInList("12", kTwelveOrX), 0);
    EXPECT_EQ(FindInList("xy", kTwelveOrX), 1);
    EXPECT_EQ(FindInList("x", kTwelveOrX), -1);
}

TEST(PatternFindInList, EarlierPatternWins)
{
    const char* const both[] = {"%u", "12", nullptr};
    EXPECT_EQ(FindInList("12", both), 0);
    const char* const reversed[] = {"12", "%u", nullptr};
    EXPECT_EQ(FindInList("12", reversed), 0);
    EXPECT_EQ(FindInList("13", reversed), 1);
}

TEST(PatternFindInList, NullAndEmpty)
{
    EXPECT_EQ(FindInList("RUN", nullptr), -1);
    EXPECT_EQ(FindInList("RUN", kEmptyList), -1);
    EXPECT_EQ(FindInList(nullptr, DataType_Instruction), -1);
    const char* const emptyPattern[] = {"", nullptr};
    EXPECT_EQ(FindInList("", emptyPattern), 0);
    EXPECT_EQ(FindInList("a", emptyPattern), -1);
}

// DetermineType / DetermineSubType on our own tables

TEST(PatternDetermine, LowerListIndexWins)
{
    EXPECT_EQ(DetermineType("12", kTable), 0);
    EXPECT_EQ(DetermineSubType(1, "12", kTable), 0);
    EXPECT_EQ(DetermineType("xa", kTable), 1);
    EXPECT_EQ(DetermineSubType(1, "xa", kTable), 1);
    EXPECT_EQ(DetermineType("y", kTable), -1);
}

TEST(PatternDetermine, EmptyListsAndTables)
{
    EXPECT_EQ(DetermineType("5", kEmptyTable), -1);
    EXPECT_EQ(DetermineSubType(0, "5", kEmptyTable), -1);
    EXPECT_EQ(DetermineSubType(1, "5", kEmptyTable), -1);
    EXPECT_EQ(DetermineType("5", kTableWithEmptyList), 1);
    EXPECT_EQ(DetermineSubType(0, "5", kTableWithEmptyList), -1);
    EXPECT_EQ(DetermineSubType(1, "5", kTableWithEmptyList), 0);
}

TEST(PatternDetermine, NullArguments)
{
    EXPECT_EQ(DetermineType("5", nullptr), -1);
    EXPECT_EQ(DetermineType(nullptr, kTable), -1);
    EXPECT_EQ(DetermineSubType(0, "5", nullptr), -1);
    EXPECT_EQ(DetermineSubType(0, nullptr, kTable), -1);
}

TEST(PatternDetermine, TypeOutsideTheTable)
{
    EXPECT_EQ(DetermineSubType(2, "12", kTable), -1);
    EXPECT_EQ(DetermineSubType(3, "12", kTable), -1);
    EXPECT_EQ(DetermineSubType(INT32_MAX, "12", kTable), -1);
    EXPECT_EQ(DetermineSubType(-1, "12", kTable), -1);
    EXPECT_EQ(DetermineSubType(INT32_MIN, "12", kTable), -1);
}

// The script table

TEST(PatternArguments, TableLayout)
{
    ASSERT_EQ(Arguments[TYPE_PROCESS], ArgType_Process);
    ASSERT_EQ(Arguments[TYPE_COMMAND], ArgType_Command);
    ASSERT_EQ(Arguments[TYPE_ADDRESS], ArgType_Address);
    ASSERT_EQ(Arguments[TYPE_INTEGER], ArgType_Integer);
    ASSERT_EQ(Arguments[TYPE_STRING], ArgType_String);
    EXPECT_EQ(Arguments[5], nullptr);
    EXPECT_STREQ(ArgType_Command[COMMAND_LOADFILE], "LoadFile");
    EXPECT_STREQ(ArgType_Command[COMMAND_PRINTPROCESSTABLE], "PrintProcessTable");
    EXPECT_STREQ(ArgType_Command[COMMAND_PRINTPROCESSMEMORY], "PrintProcessMemory");
    EXPECT_STREQ(ArgType_Command[COMMAND_STORE], "STORE");
    EXPECT_STREQ(ArgType_Command[COMMAND_TERMINATEPROCESS], "TerminateProcess");
    EXPECT_STREQ(ArgType_Command[COMMAND_PRINTALLMEMORY], "PrintAllMemory");
    EXPECT_STREQ(ArgType_Command[COMMAND_END], "END");
    EXPECT_EQ(ArgType_Command[7], nullptr);
}

TEST(PatternArguments, WorkedExamples)
{
    struct Row {
        const char* token;
        int32_t type;
        int32_t sub;
    };
    const Row rows[] = {
        {"P7", TYPE_PROCESS, 0},
        {"P12", TYPE_PROCESS, 0},
        {"P", TYPE_ERROR, -1},
        {"STORE", TYPE_COMMAND, COMMAND_STORE},
        {"PrintAllMemory", TYPE_COMMAND, COMMAND_PRINTALLMEMORY},
        {"store", TYPE_ERROR, -1},
        {"LoadFile2", TYPE_ERROR, -1},
        {"@100", TYPE_ADDRESS, 0},
        {"@", TYPE_ERROR, -1},
        {"#5", TYPE_INTEGER, 0},
        {"#-5", TYPE_ERROR, -1},
        {"\"abc", TYPE_STRING, 0},
        {"8585", TYPE_ERROR, -1},
        {"RUN", TYPE_ERROR, -1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.token);
        const int32_t type = DetermineType(r.token, Arguments);
        EXPECT_EQ(type, r.type);
        EXPECT_EQ(DetermineSubType(type, r.token, Arguments), r.sub);
    }
}

TEST(PatternArguments, EveryCommandKeyword)
{
    const char* const keywords[] = {"LoadFile", "PrintProcessTable", "PrintProcessMemory",
                                    "STORE",    "TerminateProcess",  "PrintAllMemory",
                                    "END"};
    for (int32_t i = 0; i < 7; ++i) {
        SCOPED_TRACE(keywords[i]);
        EXPECT_EQ(DetermineType(keywords[i], Arguments), TYPE_COMMAND);
        EXPECT_EQ(DetermineSubType(TYPE_COMMAND, keywords[i], Arguments), i);
    }
    EXPECT_EQ(DetermineSubType(TYPE_COMMAND, "end", Arguments), -1);
    EXPECT_EQ(DetermineSubType(TYPE_COMMAND, "P1", Arguments), -1);
}

TEST(PatternArguments, MoreTokenForms)
{
    EXPECT_EQ(DetermineType("P07", Arguments), TYPE_PROCESS);
    EXPECT_EQ(DetermineType("p0", Arguments), TYPE_ERROR);
    EXPECT_EQ(DetermineType("@4294967295", Arguments), TYPE_ADDRESS);
    EXPECT_EQ(DetermineType("#", Arguments), TYPE_ERROR);
    EXPECT_EQ(DetermineType("#12a", Arguments), TYPE_ERROR);
    EXPECT_EQ(DetermineType("\"", Arguments), TYPE_ERROR);
    EXPECT_EQ(DetermineType("\"\"", Arguments), TYPE_STRING);
    EXPECT_EQ(DetermineType("\"hello\"", Arguments), TYPE_STRING);
    EXPECT_EQ(DetermineType("", Arguments), TYPE_ERROR);
}

TEST(PatternArguments, SubTypeOutsideTheTable)
{
    EXPECT_EQ(DetermineSubType(5, "P1", Arguments), -1);
    EXPECT_EQ(DetermineSubType(6, "STORE", Arguments), -1);
    EXPECT_EQ(DetermineSubType(1000, "STORE", Arguments), -1);
    EXPECT_EQ(DetermineSubType(INT32_MAX, "STORE", Arguments), -1);
    EXPECT_EQ(DetermineSubType(-1, "STORE", Arguments), -1);
    EXPECT_EQ(DetermineSubType(-2, "P1", Arguments), -1);
    EXPECT_EQ(DetermineSubType(INT32_MIN, "P1", Arguments), -1);
}

// The load-file table

TEST(PatternDataTypes, TableLayout)
{
    ASSERT_EQ(DataType_List[DATA_MAGIC], DataType_Magic);
    ASSERT_EQ(DataType_List[DATA_INTEGER], DataType_Integer);
    ASSERT_EQ(DataType_List[DATA_STRING], DataType_String);
    ASSERT_EQ(DataType_List[DATA_INSTRUCTION], DataType_Instruction);
    EXPECT_EQ(DataType_List[4], nullptr);
    EXPECT_STREQ(DataType_Instruction[INSTRUCTION_RUN], "RUN");
    EXPECT_STREQ(DataType_Instruction[INSTRUCTION_HALT], "HALT");
    EXPECT_EQ(DataType_Instruction[2], nullptr);
}

TEST(PatternDataTypes, WorkedExamples)
{
    struct Row {
        const char* token;
        int32_t type;
        int32_t sub;
    };
    const Row rows[] = {
        {"8585", DATA_MAGIC, 0},
        {"85851", DATA_INTEGER, 0},
        {"12", DATA_INTEGER, 0},
        {"#5", DATA_INTEGER, 1},
        {"\"abc", DATA_STRING, 0},
        {"RUN", DATA_INSTRUCTION, INSTRUCTION_RUN},
        {"HALT", DATA_INSTRUCTION, INSTRUCTION_HALT},
        {"P7", DATA_ERROR, -1},
        {"@100", DATA_ERROR, -1},
        {"-5", DATA_ERROR, -1},
        {"Run", DATA_ERROR, -1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.token);
        const int32_t type = DetermineType(r.token, DataType_List);
        EXPECT_EQ(type, r.type);
        EXPECT_EQ(DetermineSubType(type, r.token, DataType_List), r.sub);
    }
}

TEST(PatternDataTypes, MoreTokenForms)
{
    EXPECT_EQ(DetermineType("42", DataType_List), DATA_INTEGER);
    EXPECT_EQ(DetermineType("#42", DataType_List), DATA_INTEGER);
    EXPECT_EQ(DetermineType("#8585", DataType_List), DATA_INTEGER);
    EXPECT_EQ(DetermineSubType(DATA_INTEGER, "#8585", DataType_List), 1);
    EXPECT_EQ(DetermineType("08585", DataType_List), DATA_INTEGER);
    EXPECT_EQ(DetermineType("run", DataType_List), DATA_ERROR);
    EXPECT_EQ(DetermineType("halt", DataType_List), DATA_ERROR);
    EXPECT_EQ(DetermineType("#", DataType_List), DATA_ERROR);
    EXPECT_EQ(DetermineType("\"", DataType_List), DATA_ERROR);
    EXPECT_EQ(DetermineType("\"\"", DataType_List), DATA_STRING);
    EXPECT_EQ(DetermineType("\"8585", DataType_List), DATA_STRING);
}

TEST(PatternDataTypes, SubTypeOutsideTheTable)
{
    EXPECT_EQ(DetermineSubType(4, "RUN", DataType_List), -1);
    EXPECT_EQ(DetermineSubType(5, "RUN", DataType_List), -1);
    EXPECT_EQ(DetermineSubType(1000, "RUN", DataType_List), -1);
    EXPECT_EQ(DetermineSubType(INT32_MAX, "RUN", DataType_List), -1);
    EXPECT_EQ(DetermineSubType(-1, "RUN", DataType_List), -1);
    EXPECT_EQ(DetermineSubType(INT32_MIN, "8585", DataType_List), -1);
}

TEST(PatternDataTypes, SubTypeOfAnotherList)
{
    // The sub-type is looked up only in the list asked for.
    EXPECT_EQ(DetermineSubType(DATA_INSTRUCTION, "12", DataType_List), -1);
    EXPECT_EQ(DetermineSubType(DATA_MAGIC, "RUN", DataType_List), -1);
    EXPECT_EQ(DetermineSubType(DATA_INTEGER, "8585", DataType_List), 0);
}

// The number KP_ClassifyIndexed hands out for tok, which matched pat
// (nullptr: none): ReadFromType's, for a pattern of one character and "%u"
// whose byte the index holds and a number of at most 19 digits; else none.
void expectValue(const std::string& tok, const char* pat, const KP_FirstIndex& index,
                 uint64_t value)
{
    const bool oneAndDigits = pat && pat[0] != '\0' && pat[0] != '%' && pat[1] == '%' &&
                              (pat[2] == 'u' || pat[2] == 'U') && pat[3] == '\0';
    if (!oneAndDigits || index.at[static_cast<unsigned char>(tok[0])].whole ||
        tok.size() - 1 > static_cast<size_t>(KP_U64_DIGITS)) {
        ASSERT_EQ(value, KP_NO_VALUE);
        return;
    }
    uint32_t want = 0;
    if (ReadDecimal(tok.c_str() + 1, UINT32_MAX, &want) == 0)
        ASSERT_EQ(value, want);
    else
        ASSERT_GT(value, uint64_t{UINT32_MAX});
}

// The first-byte index answers as the whole search does: every token of up to
// four characters over an alphabet that meets each shape's edges (directives
// first, in the middle and upper case, a pattern no shape covers, more
// patterns under one byte than an entry holds, and the real tables).
TEST(PatternIndex, AgreesWithTheWholeSearch)
{
    const char* const kShapes[] = {"a%ub", "ab%s", "a", "%U", "a%x", nullptr};
    const char* const kCrowd[] = {"b1", "b2", "b%u", "b%s", "bb", "b", "b1%u", nullptr};
    const char* const kRest[] = {"%s", "\"%S", nullptr};
    const char* const* const kAdversarial[] = {kShapes, kCrowd, kRest, nullptr};
    const char* const* const* const tables[] = {kAdversarial, kTable, kTableWithEmptyList,
                                                Arguments, DataType_List};
    const std::string alphabet = "ab12%\"Px";
    std::vector<std::string> tokens = {"",
                                       "P12",
                                       "STORE",
                                       "PrintAllMemory",
                                       "@100",
                                       "#5",
                                       "#4294967295",
                                       "#4294967296",
                                       "#9999999999999999999",
                                       "#00000000000000000001",
                                       "#18446744073709551616"};
    for (size_t n = 0, from = 0; n < 4; n++) {
        const size_t to = tokens.size();
        for (size_t i = from; i < to; i++) {
            for (char c : alphabet)
                tokens.push_back(tokens[i] + c);
        }
        from = to;
    }
    for (const char* const* const* table : tables) {
        const KP_FirstIndex index = KP_IndexOf(table);
        for (const std::string& tok : tokens) {
            SCOPED_TRACE(tok);
            int32_t sub = -2;
            uint64_t value = 0;
            const int32_t type = KP_ClassifyIndexed(tok.data(), static_cast<int32_t>(tok.size()),
                                                    table, index, &sub, &value);
            ASSERT_EQ(type, DetermineType(tok.c_str(), table));
            ASSERT_EQ(sub, type < 0 ? -1 : DetermineSubType(type, tok.c_str(), table));
            expectValue(tok, type < 0 ? nullptr : table[type][sub], index, value);
        }
    }
}
