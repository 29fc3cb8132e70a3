// The command interpreter and the script runner: argument conversion, the
// echo of a line, the grammar checks of every command in their order, and the
// reading, numbering and stopping of script files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "KelMem.h"
#include "KelParseCmd.h"
#include "test_util.h"

namespace {

const std::string kFrame = "+" + std::string(50, '-') + "\n";
const std::string kTableHead = kFrame + "| Process Table:\n"
                                        "|  PID #SEG SEG1 LEN1 SEG2 LEN2 SEG3 LEN3 SEG4 LEN4\n"
                                        "|  --- ---- ---- ---- ---- ---- ---- ---- ---- ----\n";
const std::string kEmptyTable = kTableHead + kFrame;
const std::string kMemHead = kFrame + "| Memory Contents:\n";
const std::string kEmptyMem = kMemHead + kFrame;

const std::string kErrInvalid = "******* ERROR: Invalid syntax in processor input\n";
const std::string kErrUnknown = "******* ERROR: Unknown error.\n";
const std::string kErrEnd = "******* ERROR: END command reached, parser stopped\n";
const std::string kErrNoProcess = "******* ERROR: Specified process does not exist\n";
const std::string kErrPrivilege = "******* ERROR: Insufficient privilege for PrintAllMemory\n";

// Switches the working folder for the life of the guard (LoadFile names are
// relative to it).
struct CwdGuard {
    std::string saved;
    explicit CwdGuard(const std::string& to)
    {
        char b[4096];
        if (getcwd(b, sizeof b) != nullptr) {
            saved = b;
        }
        EXPECT_EQ(chdir(to.c_str()), 0) << to;
    }
    ~CwdGuard()
    {
        if (!saved.empty()) {
            int rc = chdir(saved.c_str());
            (void)rc;
        }
    }
    CwdGuard(const CwdGuard&) = delete;
    CwdGuard& operator=(const CwdGuard&) = delete;
};

class ManagerTest : public kt_ManagerTest {
  protected:
    std::string out;

    ErrMessage_t Parse(const std::string& line, int32_t n = 1)
    {
        ErrMessage_t rc = ERR_NONE;
        out = kt_Capture([&] { rc = KMM_ParseLine(line.c_str(), kmm, n); });
        return rc;
    }

    int32_t ParseFile(const std::string& path)
    {
        int32_t rc = 0;
        out = kt_Capture([&] { rc = KMM_ParseFile(path.c_str(), kmm); });
        return rc;
    }

    void MakeProcess(int32_t id, int32_t pos, std::vector<int32_t> sizes)
    {
        ASSERT_EQ(
            KMM_AllocateProcessAt(kmm, id, pos, static_cast<int32_t>(sizes.size()), sizes.data()),
            ERR_NONE);
    }
};

std::string Echo(int n, const std::string& tokens)
{
    char num[32];
    std::snprintf(num, sizeof num, "%4d ", n);
    return std::string(num) + tokens + "\n";
}

} // namespace

// ReadFromType

TEST(InterpReadFromType, ProcessAddressAndIntegerSkipTheirLeadingCharacter)
{
    uint32_t v = 77;
    EXPECT_EQ(ReadFromType(TYPE_PROCESS, "P7", &v), 0);
    EXPECT_EQ(v, 7u);
    EXPECT_EQ(ReadFromType(TYPE_PROCESS, "P07", &v), 0);
    EXPECT_EQ(v, 7u);
    EXPECT_EQ(ReadFromType(TYPE_PROCESS, "P12", &v), 0);
    EXPECT_EQ(v, 12u);
    EXPECT_EQ(ReadFromType(TYPE_ADDRESS, "@100", &v), 0);
    EXPECT_EQ(v, 100u);
    EXPECT_EQ(ReadFromType(TYPE_ADDRESS, "@0", &v), 0);
    EXPECT_EQ(v, 0u);
    EXPECT_EQ(ReadFromType(TYPE_INTEGER, "#42", &v), 0);
    EXPECT_EQ(v, 42u);
    EXPECT_EQ(ReadFromType(TYPE_INTEGER, "#00042", &v), 0);
    EXPECT_EQ(v, 42u);
}

TEST(InterpReadFromType, LargestUnsignedValueIsAccepted)
{
    uint32_t v = 0;
    EXPECT_EQ(ReadFromType(TYPE_INTEGER, "#4294967295", &v), 0);
    EXPECT_EQ(v, 4294967295u);
    v = 0;
    EXPECT_EQ(ReadFromType(TYPE_ADDRESS, "@4294967295", &v), 0);
    EXPECT_EQ(v, 4294967295u);
    v = 0;
    EXPECT_EQ(ReadFromType(TYPE_PROCESS, "P4294967295", &v), 0);
    EXPECT_EQ(v, 4294967295u);
    v = 0;
    EXPECT_EQ(ReadFromType(TYPE_INTEGER, "#2147483648", &v), 0);
    EXPECT_EQ(v, 2147483648u);
    // Leading zeros do not make a value larger.
    v = 0;
    EXPECT_EQ(ReadFromType(TYPE_INTEGER, "#0004294967295", &v), 0);
    EXPECT_EQ(v, 4294967295u);
}

TEST(InterpReadFromType, ValueAbove32BitsFailsAndLeavesBufferAlone)
{
    const char* tokens[][2] = {
        {"#", "#4294967296"},
        {"#", "#4294967297"},
        {"#", "#4294967338"},
        {"#", "#10000000000"},
        {"#", "#18446744073709551615"},
        {"#", "#18446744073709551616"},
        {"#", "#99999999999999999999999999999999"},
        {"@", "@4294967296"},
        {"@", "@4294967396"},
        {"P", "P4294967296"},
        {"P", "P4294967305"},
    };
    for (const auto& t : tokens) {
        ArgType_e type = t[0][0] == '#'   ? TYPE_INTEGER
                         : t[0][0] == '@' ? TYPE_ADDRESS
                                          : TYPE_PROCESS;
        uint32_t v = 0xA5A5A5A5u;
        EXPECT_EQ(ReadFromType(type, t[1], &v), -1) << t[1];
        EXPECT_EQ(v, 0xA5A5A5A5u) << t[1];
    }
}

TEST(InterpReadFromType, StringCopiesTheRestAfterTheQuote)
{
    char buf[64];
    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(ReadFromType(TYPE_STRING, "\"hello", buf), 0);
    EXPECT_STREQ(buf, "hello");

    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(ReadFromType(TYPE_STRING, "\"a", buf), 0);
    EXPECT_STREQ(buf, "a");

    // A closing quote belongs to the value.
    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(ReadFromType(TYPE_STRING, "\"hello\"", buf), 0);
    EXPECT_STREQ(buf, "hello\"");

    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(ReadFromType(TYPE_STRING, "\"\"", buf), 0);
    EXPECT_STREQ(buf, "\"");
}

TEST(InterpReadFromType, StringOfTwentyCharactersFitsTwentyOneDoesNot)
{
    char buf[64];
    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(ReadFromType(TYPE_STRING, "\"abcdefghijklmnopqrst", buf), 0);
    EXPECT_STREQ(buf, "abcdefghijklmnopqrst");
    EXPECT_EQ(buf[20], '\0');

    char buf2[64];
    std::memset(buf2, 'X', sizeof buf2);
    EXPECT_EQ(ReadFromType(TYPE_STRING, "\"abcdefghijklmnopqrstu", buf2), -1);
    for (size_t i = 0; i < sizeof buf2; i++) {
        ASSERT_EQ(buf2[i], 'X') << "byte " << i << " written";
    }

    std::memset(buf2, 'X', sizeof buf2);
    EXPECT_EQ(ReadFromType(TYPE_STRING, ("\"" + std::string(98, 'z')).c_str(), buf2), -1);
    for (size_t i = 0; i < sizeof buf2; i++) {
        ASSERT_EQ(buf2[i], 'X') << "byte " << i << " written";
    }
}

TEST(InterpReadFromType, TypesWithoutValueFailAndWriteNothing)
{
    uint32_t v = 0x5A5A5A5Au;
    EXPECT_EQ(ReadFromType(TYPE_COMMAND, "STORE", &v), -1);
    EXPECT_EQ(v, 0x5A5A5A5Au);
    EXPECT_EQ(ReadFromType(TYPE_ERROR, "x1", &v), -1);
    EXPECT_EQ(v, 0x5A5A5A5Au);
    EXPECT_EQ(ReadFromType(static_cast<ArgType_e>(5), "#1", &v), -1);
    EXPECT_EQ(v, 0x5A5A5A5Au);
    EXPECT_EQ(ReadFromType(static_cast<ArgType_e>(-7), "#1", &v), -1);
    EXPECT_EQ(v, 0x5A5A5A5Au);
    char buf[32];
    std::memset(buf, 'Q', sizeof buf);
    EXPECT_EQ(ReadFromType(TYPE_COMMAND, "LoadFile", buf), -1);
    for (char c : buf) {
        ASSERT_EQ(c, 'Q');
    }
}

// KMM_ParseLine: the echo and the head of the line

using InterpParseLine = ManagerTest;

TEST_F(InterpParseLine, EchoShowsNumberAndTokensWithoutSpacingOrComment)
{
    EXPECT_EQ(Parse("P0   PrintProcessTable   // show it\n", 7), ERR_NONE);
    EXPECT_EQ(out, "   7 P0 PrintProcessTable\n" + kEmptyTable);
}

TEST_F(InterpParseLine, EchoNumberIsRightAlignedInAtLeastFourColumns)
{
    EXPECT_EQ(Parse("P0 END\n", 0), ERR_PARSEEND);
    EXPECT_EQ(out, "   0 P0 END\n");
    EXPECT_EQ(Parse("P0 END\n", 999), ERR_PARSEEND);
    EXPECT_EQ(out, " 999 P0 END\n");
    EXPECT_EQ(Parse("P0 END\n", 1000), ERR_PARSEEND);
    EXPECT_EQ(out, "1000 P0 END\n");
    EXPECT_EQ(Parse("P0 END\n", 12345), ERR_PARSEEND);
    EXPECT_EQ(out, "12345 P0 END\n");
}

TEST_F(InterpParseLine, NoManagerIsUnknownAfterTheEcho)
{
    std::string echo;
    ErrMessage_t r = ERR_NONE;
    echo = kt_Capture([&] { r = KMM_ParseLine("P0 PrintProcessTable\n", nullptr, 3); });
    EXPECT_EQ(r, ERR_UNKNOWN);
    EXPECT_EQ(echo, "   3 P0 PrintProcessTable\n");
}

TEST_F(InterpParseLine, LineWithoutTokensIsUnknownAndSilent)
{
    const char* lines[] = {
        "",     "\n",          " ",    "   \t\n",     "// note\n", "   // comment\n",
        "\r\n", " \t\v\f\r\n", "//\n", "\t//P0 END\n"};
    for (const char* l : lines) {
        EXPECT_EQ(Parse(l, 3), ERR_UNKNOWN) << l;
        EXPECT_EQ(out, "") << l;
    }
}

TEST_F(InterpParseLine, AllSixWhiteSpaceCharactersSeparateTokens)
{
    EXPECT_EQ(Parse("\tP0\v\fEND\r now \n", 1), ERR_PARSEEND);
    EXPECT_EQ(out, "   1 P0 END now\n");
    EXPECT_EQ(Parse("P0\r\nPrintProcessTable\r\n", 2), ERR_NONE);
    EXPECT_EQ(out, "   2 P0 PrintProcessTable\n" + kEmptyTable);
}

TEST_F(InterpParseLine, LineWithoutLineFeedWorks)
{
    EXPECT_EQ(Parse("P0 PrintAllMemory", 4), ERR_NONE);
    EXPECT_EQ(out, "   4 P0 PrintAllMemory\n" + kEmptyMem);
}

TEST_F(InterpParseLine, BadHeadIsInvalidInputAndOnlyEchoed)
{
    const char* cases[][2] = {
        {"P0\n", "P0"},
        {"P3\n", "P3"},
        {"STORE P0 @5 #1\n", "STORE P0 @5 #1"},
        {"END\n", "END"},
        {"P0 P1\n", "P0 P1"},
        {"P10 END\n", "P10 END"},
        {"P99 PrintAllMemory\n", "P99 PrintAllMemory"},
        {"p0 END\n", "p0 END"},
        {"P0 end\n", "P0 end"},
        {"P0 End\n", "P0 End"},
        {"P0 Store @5 #1\n", "P0 Store @5 #1"},
        {"P0 loadfile @5 \"x\n", "P0 loadfile @5 \"x"},
        {"P0 LoadFile2 @5 \"x\n", "P0 LoadFile2 @5 \"x"},
        {"P0 PrintAllMemory2\n", "P0 PrintAllMemory2"},
        {"P END\n", "P END"},
        {"P1x END\n", "P1x END"},
        {"P-1 END\n", "P-1 END"},
        {"P+1 END\n", "P+1 END"},
        {"@0 END\n", "@0 END"},
        {"#0 END\n", "#0 END"},
        {"\"P0 END\n", "\"P0 END"},
        {"0 END\n", "0 END"},
        {"P0 @5 END\n", "P0 @5 END"},
        {"P0 END//x\n", "P0 END//x"},
        {"P0 #5\n", "P0 #5"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Parse(c[0], 2), ERR_INVALIDINPUT) << c[0];
        EXPECT_EQ(out, Echo(2, c[1])) << c[0];
    }
}

TEST_F(InterpParseLine, ProcessNumbersZeroToNineWithLeadingZeros)
{
    const char* ok[] = {"P0 END\n",  "P7 END\n",  "P9 END\n",
                        "P07 END\n", "P00 END\n", "P0000000009 END\n"};
    for (const char* l : ok) {
        EXPECT_EQ(Parse(l, 1), ERR_PARSEEND) << l;
        EXPECT_EQ(out, Echo(1, std::string(l, std::strlen(l) - 1))) << l;
    }
}

TEST_F(InterpParseLine, ProcessNumberAbove32BitsIsInvalidInput)
{
    // 4294967296 and 4294967305 would read as 0 and 9 after wrapping.
    EXPECT_EQ(Parse("P4294967296 END\n", 1), ERR_INVALIDINPUT);
    EXPECT_EQ(out, "   1 P4294967296 END\n");
    EXPECT_EQ(Parse("P4294967305 PrintAllMemory\n", 2), ERR_INVALIDINPUT);
    EXPECT_EQ(out, "   2 P4294967305 PrintAllMemory\n");
    EXPECT_EQ(Parse("P4294967295 END\n", 3), ERR_INVALIDINPUT);
    EXPECT_EQ(out, "   3 P4294967295 END\n");
    EXPECT_EQ(Parse("P99999999999999999999 END\n", 4), ERR_INVALIDINPUT);
    EXPECT_EQ(out, "   4 P99999999999999999999 END\n");
}

TEST_F(InterpParseLine, OverlongTokenIsSplitInTheEcho)
{
    std::string a120(120, 'A');
    EXPECT_EQ(Parse("P0 " + a120 + "\n", 5), ERR_INVALIDINPUT);
    EXPECT_EQ(out, "   5 P0 " + std::string(99, 'A') + " " + std::string(21, 'A') + "\n");

    // The continuation of a split token is a token start, so "//" there is a comment.
    std::string line = "P0 PrintProcessTable " + std::string(99, 'x') + "//comment\n";
    EXPECT_EQ(Parse(line, 6), ERR_INVALIDINPUT);
    EXPECT_EQ(out, "   6 P0 PrintProcessTable " + std::string(99, 'x') + "\n");

    // A keyword padded past 99 characters splits into the keyword and the rest.
    EXPECT_EQ(Parse("P0 " + std::string(99, 'E') + "END\n", 7), ERR_INVALIDINPUT);
    EXPECT_EQ(out, "   7 P0 " + std::string(99, 'E') + " END\n");
}

TEST_F(InterpParseLine, HighBytesAreTokenCharacters)
{
    EXPECT_EQ(Parse("P0 \xff\xa0\x80\n", 1), ERR_INVALIDINPUT);
    EXPECT_EQ(out, "   1 P0 \xff\xa0\x80\n");
    EXPECT_EQ(Parse("P0\xa0 END\n", 2), ERR_INVALIDINPUT);
    EXPECT_EQ(out, "   2 P0\xa0 END\n");
}

// END

TEST_F(InterpParseLine, EndIgnoresFurtherTokens)
{
    EXPECT_EQ(Parse("P7 END\n", 1), ERR_PARSEEND);
    EXPECT_EQ(out, "   1 P7 END\n");
    EXPECT_EQ(Parse("P0 END now\n", 2), ERR_PARSEEND);
    EXPECT_EQ(out, "   2 P0 END now\n");
    EXPECT_EQ(Parse("P3 END @1 #2 \"x y STORE\n", 3), ERR_PARSEEND);
    EXPECT_EQ(out, "   3 P3 END @1 #2 \"x y STORE\n");
    EXPECT_EQ(Parse("P0 END // stop\n", 4), ERR_PARSEEND);
    EXPECT_EQ(out, "   4 P0 END\n");
    EXPECT_EQ(Parse("P5 END P4294967296 @99999999999\n", 5), ERR_PARSEEND);
    EXPECT_EQ(out, "   5 P5 END P4294967296 @99999999999\n");
}

// PrintProcessTable

TEST_F(InterpParseLine, PrintProcessTableChecksTokenCountThenAsksTheManager)
{
    EXPECT_EQ(Parse("P0 PrintProcessTable now\n", 1), ERR_INVALIDINPUT);
    EXPECT_EQ(out, "   1 P0 PrintProcessTable now\n");
    EXPECT_EQ(Parse("P0 PrintProcessTable\n", 2), ERR_NONE);
    EXPECT_EQ(out, "   2 P0 PrintProcessTable\n" + kEmptyTable);
    EXPECT_EQ(Parse("P5 PrintProcessTable\n", 3), ERR_NOPROCESS);
    EXPECT_EQ(out, "   3 P5 PrintProcessTable\n");

    MakeProcess(5, 40, {2, 3});
    const std::string table = kTableHead + "|   P5    2   40    2   42    3\n" + kFrame;
    EXPECT_EQ(Parse("P5 PrintProcessTable\n", 4), ERR_NONE);
    EXPECT_EQ(out, "   4 P5 PrintProcessTable\n" + table);
    EXPECT_EQ(Parse("P0 PrintProcessTable\n", 5), ERR_NONE);
    EXPECT_EQ(out, "   5 P0 PrintProcessTable\n" + table);
    EXPECT_EQ(Parse("P5 PrintProcessTable P5\n", 6), ERR_INVALIDINPUT);
    EXPECT_EQ(out, "   6 P5 PrintProcessTable P5\n");
    EXPECT_EQ(Parse("P4 PrintProcessTable\n", 7), ERR_NOPROCESS);
    EXPECT_EQ(out, "   7 P4 PrintProcessTable\n");
}

// PrintProcessMemory

TEST_F(InterpParseLine, PrintProcessMemoryChecksTokenCountThenAsksTheManager)
{
    EXPECT_EQ(Parse("P0 PrintProcessMemory\n", 1), ERR_NOPROCESS);
    EXPECT_EQ(out, "   1 P0 PrintProcessMemory\n");

    MakeProcess(2, 10, {1, 3});
    EXPECT_EQ(Parse("P2 PrintProcessMemory x\n", 2), ERR_INVALIDINPUT);
    EXPECT_EQ(out, "   2 P2 PrintProcessMemory x\n");
    EXPECT_EQ(Parse("P2 PrintProcessMemory\n", 3), ERR_NONE);
    EXPECT_EQ(out, "   3 P2 PrintProcessMemory\n" + kEmptyMem);

    EXPECT_EQ(Parse("P2 STORE @12 #42\n", 4), ERR_NONE);
    EXPECT_EQ(out, "   4 P2 STORE @12 #42\n");
    EXPECT_EQ(Parse("P2 PrintProcessMemory\n", 5), ERR_NONE);
    EXPECT_EQ(out, "   5 P2 PrintProcessMemory\n" + kMemHead + "|   12 42\n" + kFrame);
}

// STORE

TEST_F(InterpParseLine, StoreIntegerReachesTheCell)
{
    MakeProcess(0, 0, {3, 5}); // data segment: cells 3 to 7
    EXPECT_EQ(Parse("P0 STORE @5 #42\n", 1), ERR_NONE);
    EXPECT_EQ(out, "   1 P0 STORE @5 #42\n");
    EXPECT_EQ(kmm->mem[5].type, DATA_INTEGER);
    EXPECT_EQ(kmm->mem[5].integer.value, 42u);

    EXPECT_EQ(Parse("P0 STORE @6 42\n", 2), ERR_INVALIDINPUT);
    EXPECT_EQ(out, "   2 P0 STORE @6 42\n");
    EXPECT_EQ(kmm->mem[6].type, DATA_ERROR);

    EXPECT_EQ(Parse("P0 STORE @3 #4294967295\n", 3), ERR_NONE);
    EXPECT_EQ(kmm->mem[3].type, DATA_INTEGER);
    EXPECT_EQ(kmm->mem[3].integer.value, 4294967295u);

    EXPECT_EQ(Parse("P0 STORE @7 #0\n", 4), ERR_NONE);
    EXPECT_EQ(kmm->mem[7].type, DATA_INTEGER);
    EXPECT_EQ(kmm->mem[7].integer.value, 0u);
}

TEST_F(InterpParseLine, StoreStringHandsOnTheTextAfterTheQuote)
{
    MakeProcess(0, 0, {3, 5});
    EXPECT_EQ(Parse("P0 STORE @5 \"hello\n", 1), ERR_NONE);
    EXPECT_EQ(out, "   1 P0 STORE @5 \"hello\n");
    EXPECT_EQ(kmm->mem[5].type, DATA_STRING);
    EXPECT_STREQ(kmm->mem[5].string.value, "hello");

    EXPECT_EQ(Parse("P0 STORE @6 \"hello\"\n", 2), ERR_NONE);
    EXPECT_EQ(kmm->mem[6].type, DATA_STRING);
    EXPECT_STREQ(kmm->mem[6].string.value, "hello\"");

    EXPECT_EQ(Parse("P0 STORE @7 \"abcdefghijklmnopqrst\n", 3), ERR_NONE);
    EXPECT_EQ(kmm->mem[7].type, DATA_STRING);
    EXPECT_STREQ(kmm->mem[7].string.value, "abcdefghijklmnopqrst");

    EXPECT_EQ(Parse("P0 STORE @7 \"ABCDEFGHIJKLMNOPQRSTU\n", 4), ERR_INVALIDINPUT);
    EXPECT_EQ(out, "   4 P0 STORE @7 \"ABCDEFGHIJKLMNOPQRSTU\n");
    EXPECT_STREQ(kmm->mem[7].string.value, "abcdefghijklmnopqrst");

    // A store replaces whatever the cell held.
    EXPECT_EQ(Parse("P0 STORE @5 #9\n", 5), ERR_NONE);
    EXPECT_EQ(kmm->mem[5].type, DATA_INTEGER);
    EXPECT_EQ(kmm->mem[5].integer.value, 9u);
    EXPECT_EQ(Parse("P0 STORE @5 \"x\n", 6), ERR_NONE);
    EXPECT_EQ(kmm->mem[5].type, DATA_STRING);
    EXPECT_STREQ(kmm->mem[5].string.value, "x");
}

TEST_F(InterpParseLine, StoreAddressRangeIsCheckedBeforeTheOperation)
{
    MakeProcess(0, 0, {3, 5});
    EXPECT_EQ(Parse("P0 STORE @1000 #1\n", 1), ERR_INVALIDINPUT);
    EXPECT_EQ(out, "   1 P0 STORE @1000 #1\n");
    EXPECT_EQ(Parse("P0 STORE @999 #1\n", 2), ERR_INVALIDADDRESS);
    EXPECT_EQ(out, "   2 P0 STORE @999 #1\n");
    EXPECT_EQ(Parse("P0 STORE @4294967295 #1\n", 3), ERR_INVALIDINPUT);
    EXPECT_EQ(out, "   3 P0 STORE @4294967295 #1\n");
    // Would wrap to cell 5, which accepts stores.
    EXPECT_EQ(Parse("P0 STORE @4294967301 #1\n", 4), ERR_INVALIDINPUT);
    EXPECT_EQ(kmm->mem[5].type, DATA_ERROR);
    EXPECT_EQ(Parse("P0 STORE @99999999999999999999 #1\n", 5), ERR_INVALIDINPUT);

    // The first segment never accepts a store, nor does the cell after the last.
    EXPECT_EQ(Parse("P0 STORE @1 #1\n", 6), ERR_INVALIDADDRESS);
    EXPECT_EQ(kmm->mem[1].type, DATA_ERROR);
    EXPECT_EQ(Parse("P0 STORE @8 #1\n", 7), ERR_INVALIDADDRESS);
    EXPECT_EQ(Parse("P0 STORE @0 \"x\n", 8), ERR_INVALIDADDRESS);
    EXPECT_EQ(out, "   8 P0 STORE @0 \"x\n");
}

TEST_F(InterpParseLine, StoreIntegerAbove32BitsIsInvalidInput)
{
    MakeProcess(0, 0, {3, 5});
    EXPECT_EQ(Parse("P0 STORE @4 #4294967296\n", 1), ERR_INVALIDINPUT);
    EXPECT_EQ(out, "   1 P0 STORE @4 #4294967296\n");
    EXPECT_EQ(kmm->mem[4].type, DATA_ERROR);
    EXPECT_EQ(Parse("P0 STORE @4 #4294967338\n", 2), ERR_INVALIDINPUT);
    EXPECT_EQ(kmm->mem[4].type, DATA_ERROR);
    EXPECT_EQ(Parse("P0 STORE @4 #99999999999999999999\n", 3), ERR_INVALIDINPUT);
    EXPECT_EQ(kmm->mem[4].type, DATA_ERROR);
    // Decided before the process is looked at.
    EXPECT_EQ(Parse("P6 STORE @4 #4294967296\n", 4), ERR_INVALIDINPUT);
}

TEST_F(InterpParseLine, StoreGrammarFailures)
{
    MakeProcess(0, 0, {3, 5});
    const char* cases[][2] = {
        {"P0 STORE\n", "P0 STORE"},
        {"P0 STORE @5\n", "P0 STORE @5"},
        {"P0 STORE @5 #1 #2\n", "P0 STORE @5 #1 #2"},
        {"P0 STORE @5 \"a \"b\n", "P0 STORE @5 \"a \"b"},
        {"P0 STORE #5 #1\n", "P0 STORE #5 #1"},
        {"P0 STORE 5 #1\n", "P0 STORE 5 #1"},
        {"P0 STORE @ #1\n", "P0 STORE @ #1"},
        {"P0 STORE @x5 #1\n", "P0 STORE @x5 #1"},
        {"P0 STORE \"x #1\n", "P0 STORE \"x #1"},
        {"P0 STORE @5 @6\n", "P0 STORE @5 @6"},
        {"P0 STORE @5 #\n", "P0 STORE @5 #"},
        {"P0 STORE @5 #-1\n", "P0 STORE @5 #-1"},
        {"P0 STORE @5 #1x\n", "P0 STORE @5 #1x"},
        {"P0 STORE @5 \"\n", "P0 STORE @5 \""},
        {"P0 STORE @5 P1\n", "P0 STORE @5 P1"},
        {"P0 STORE @5 STORE\n", "P0 STORE @5 STORE"},
        {"P0 STORE @5 hello\n", "P0 STORE @5 hello"},
        {"P0 STORE @5 #1//x\n", "P0 STORE @5 #1//x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Parse(c[0], 9), ERR_INVALIDINPUT) << c[0];
        EXPECT_EQ(out, Echo(9, c[1])) << c[0];
    }
    for (int a = 3; a < 8; a++) {
        EXPECT_EQ(kmm->mem[a].type, DATA_ERROR) << a;
    }
    // A comment after the value is not a token.
    EXPECT_EQ(Parse("P0 STORE @5 #1 // the value\n", 10), ERR_NONE);
    EXPECT_EQ(out, "  10 P0 STORE @5 #1\n");
}

TEST_F(InterpParseLine, StoreChecksComeBeforeTheProcessLookup)
{
    EXPECT_EQ(Parse("P3 STORE @5 #1\n", 1), ERR_NOPROCESS);
    EXPECT_EQ(out, "   1 P3 STORE @5 #1\n");
    EXPECT_EQ(Parse("P3 STORE @5 \"x\n", 2), ERR_NOPROCESS);
    EXPECT_EQ(Parse("P3 STORE @999 \"abcdefghijklmnopqrst\n", 3), ERR_NOPROCESS);
    EXPECT_EQ(Parse("P3 STORE @1000 #1\n", 4), ERR_INVALIDINPUT);
    EXPECT_EQ(Parse("P3 STORE @5 abc\n", 5), ERR_INVALIDINPUT);
    EXPECT_EQ(Parse("P3 STORE @5 \"abcdefghijklmnopqrstu\n", 6), ERR_INVALIDINPUT);
    EXPECT_EQ(Parse("P3 STORE #5 #1\n", 7), ERR_INVALIDINPUT);
    EXPECT_EQ(Parse("P3 STORE @5\n", 8), ERR_INVALIDINPUT);
}

// TerminateProcess

TEST_F(InterpParseLine, TerminateProcess)
{
    EXPECT_EQ(Parse("P2 TerminateProcess\n", 1), ERR_NOPROCESS);
    EXPECT_EQ(out, "   1 P2 TerminateProcess\n");

    MakeProcess(2, 0, {2, 2});
    EXPECT_EQ(Parse("P2 TerminateProcess now\n", 2), ERR_INVALIDINPUT);
    EXPECT_EQ(out, "   2 P2 TerminateProcess now\n");
    EXPECT_NE(kmm->processList[2], nullptr);

    EXPECT_EQ(Parse("P2 TerminateProcess\n", 3), ERR_NONE);
    EXPECT_EQ(out, "   3 P2 TerminateProcess\n");
    EXPECT_EQ(kmm->processList[2], nullptr);

    EXPECT_EQ(Parse("P2 TerminateProcess\n", 4), ERR_NOPROCESS);
    EXPECT_EQ(out, "   4 P2 TerminateProcess\n");
}

// PrintAllMemory

TEST_F(InterpParseLine, PrintAllMemoryCountsTokensThenPrivilege)
{
    EXPECT_EQ(Parse("P1 PrintAllMemory\n", 1), ERR_NOPRIVILEGE);
    EXPECT_EQ(out, "   1 P1 PrintAllMemory\n");
    EXPECT_EQ(Parse("P9 PrintAllMemory\n", 2), ERR_NOPRIVILEGE);
    EXPECT_EQ(Parse("P1 PrintAllMemory now\n", 3), ERR_INVALIDINPUT);
    EXPECT_EQ(out, "   3 P1 PrintAllMemory now\n");
    EXPECT_EQ(Parse("P0 PrintAllMemory now\n", 4), ERR_INVALIDINPUT);
    EXPECT_EQ(out, "   4 P0 PrintAllMemory now\n");
    EXPECT_EQ(Parse("P0 PrintAllMemory\n", 5), ERR_NONE);
    EXPECT_EQ(out, "   5 P0 PrintAllMemory\n" + kEmptyMem);
    EXPECT_EQ(Parse("P00 PrintAllMemory\n", 6), ERR_NONE);
    EXPECT_EQ(out, "   6 P00 PrintAllMemory\n" + kEmptyMem);

    // Process 1 existing does not give it the privilege.
    MakeProcess(1, 20, {1, 2});
    EXPECT_EQ(Parse("P1 STORE @21 \"hi\n", 7), ERR_NONE);
    EXPECT_EQ(Parse("P1 PrintAllMemory\n", 8), ERR_NOPRIVILEGE);
    EXPECT_EQ(out, "   8 P1 PrintAllMemory\n");
    EXPECT_EQ(Parse("P0 PrintAllMemory\n", 9), ERR_NONE);
    EXPECT_EQ(out, "   9 P0 PrintAllMemory\n" + kMemHead + "|   21 hi\n" + kFrame);
}

// LoadFile

namespace {
const char kProg[] = "8585\n2\n3 4\nRUN RUN HALT\n#7 \"abc\n";
}

TEST_F(InterpParseLine, LoadFileLoadsTheNamedFile)
{
    kt_TempDir dir;
    dir.write("prog.txt", kProg);
    CwdGuard cwd(dir.path);

    EXPECT_EQ(Parse("P1 LoadFile @100 \"prog.txt\n", 1), ERR_NONE);
    EXPECT_EQ(out, "   1 P1 LoadFile @100 \"prog.txt\n");
    ASSERT_NE(kmm->processList[1], nullptr);
    EXPECT_EQ(kmm->mem[100].type, DATA_INSTRUCTION);
    EXPECT_EQ(kmm->mem[100].instruction.value, INSTRUCTION_RUN);
    EXPECT_EQ(kmm->mem[102].instruction.value, INSTRUCTION_HALT);
    EXPECT_EQ(kmm->mem[103].type, DATA_INTEGER);
    EXPECT_EQ(kmm->mem[103].integer.value, 7u);
    EXPECT_EQ(kmm->mem[104].type, DATA_STRING);
    EXPECT_STREQ(kmm->mem[104].string.value, "abc");

    EXPECT_EQ(Parse("P1 PrintProcessMemory\n", 2), ERR_NONE);
    EXPECT_EQ(out, "   2 P1 PrintProcessMemory\n" + kMemHead +
                       "|  100 RUN\n|  101 RUN\n|  102 HALT\n|  103 7\n|  104 abc\n" + kFrame);
}

TEST_F(InterpParseLine, LoadFileGrammarFailures)
{
    kt_TempDir dir;
    dir.write("prog.txt", kProg);
    dir.write("abcdefghijklmnopq.txt", kProg); // 21 characters
    CwdGuard cwd(dir.path);

    const char* cases[][2] = {
        {"P1 LoadFile\n", "P1 LoadFile"},
        {"P1 LoadFile @100\n", "P1 LoadFile @100"},
        {"P1 LoadFile @100 \"prog.txt extra\n", "P1 LoadFile @100 \"prog.txt extra"},
        {"P1 LoadFile \"prog.txt @100\n", "P1 LoadFile \"prog.txt @100"},
        {"P1 LoadFile #100 \"prog.txt\n", "P1 LoadFile #100 \"prog.txt"},
        {"P1 LoadFile 100 \"prog.txt\n", "P1 LoadFile 100 \"prog.txt"},
        {"P1 LoadFile @100 prog.txt\n", "P1 LoadFile @100 prog.txt"},
        {"P1 LoadFile @100 \"\n", "P1 LoadFile @100 \""},
        {"P1 LoadFile @100 #5\n", "P1 LoadFile @100 #5"},
        {"P1 LoadFile @1000 \"prog.txt\n", "P1 LoadFile @1000 \"prog.txt"},
        {"P1 LoadFile @4294967295 \"prog.txt\n", "P1 LoadFile @4294967295 \"prog.txt"},
        // Would wrap to 100 and load.
        {"P1 LoadFile @4294967396 \"prog.txt\n", "P1 LoadFile @4294967396 \"prog.txt"},
        {"P1 LoadFile @100 \"abcdefghijklmnopq.txt\n", "P1 LoadFile @100 \"abcdefghijklmnopq.txt"},
        {"P1 LoadFile @1000 \"abcdefghijklmnopq.txt\n",
         "P1 LoadFile @1000 \"abcdefghijklmnopq.txt"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Parse(c[0], 3), ERR_INVALIDINPUT) << c[0];
        EXPECT_EQ(out, Echo(3, c[1])) << c[0];
        EXPECT_EQ(kmm->processList[1], nullptr) << c[0];
    }
}

TEST_F(InterpParseLine, LoadFileNameOfTwentyCharactersIsAccepted)
{
    kt_TempDir dir;
    dir.write("abcdefghijklmnop.txt", kProg); // 20 characters
    CwdGuard cwd(dir.path);
    EXPECT_EQ(Parse("P4 LoadFile @0 \"abcdefghijklmnop.txt\n", 1), ERR_NONE);
    EXPECT_EQ(out, "   1 P4 LoadFile @0 \"abcdefghijklmnop.txt\n");
    EXPECT_NE(kmm->processList[4], nullptr);
}

TEST_F(InterpParseLine, LoadFilePassesOnTheLoaderResult)
{
    kt_TempDir dir;
    dir.write("prog.txt", kProg);
    CwdGuard cwd(dir.path);

    EXPECT_EQ(Parse("P1 LoadFile @999 \"nosuch.txt\n", 1), ERR_NOFILE);
    EXPECT_EQ(out, "   1 P1 LoadFile @999 \"nosuch.txt\n");
    // A closing quote is part of the name.
    EXPECT_EQ(Parse("P1 LoadFile @0 \"prog.txt\"\n", 2), ERR_NOFILE);
    // 999 passes the interpreter; seven cells from 999 do not fit.
    EXPECT_EQ(Parse("P1 LoadFile @999 \"prog.txt\n", 3), ERR_INSUFFICIENTMEM);
    EXPECT_EQ(out, "   3 P1 LoadFile @999 \"prog.txt\n");
    EXPECT_EQ(kmm->processList[1], nullptr);

    EXPECT_EQ(Parse("P1 LoadFile @993 \"prog.txt\n", 4), ERR_NONE);
    EXPECT_NE(kmm->processList[1], nullptr);
    // With process 1 loaded: the interpreter's checks still come first.
    EXPECT_EQ(Parse("P1 LoadFile @1000 \"prog.txt\n", 5), ERR_INVALIDINPUT);
    EXPECT_EQ(Parse("P1 LoadFile @0 \"abcdefghijklmnopqrstu\n", 6), ERR_INVALIDINPUT);
    EXPECT_EQ(Parse("P1 LoadFile @0 \"nosuch.txt\n", 7), ERR_PROCESSEXISTS);
    EXPECT_EQ(out, "   7 P1 LoadFile @0 \"nosuch.txt\n");
}

// KMM_ParseFile

using InterpParseFile = ManagerTest;

TEST_F(InterpParseFile, EmptyLinesDoNotTakeANumber)
{
    kt_TempDir dir;
    std::string f = dir.write("s.txt", "P0 PrintProcessTable\n\nP0 PrintProcessTable\n");
    EXPECT_EQ(ParseFile(f), 0);
    EXPECT_EQ(out, "   1 P0 PrintProcessTable\n" + kEmptyTable + "   2 P0 PrintProcessTable\n" +
                       kEmptyTable);
}

TEST_F(InterpParseFile, ErrorLinesFollowTheEchoAndTheFileGoesOn)
{
    kt_TempDir dir;
    std::string f = dir.write("s.txt", "P9 TerminateProcess\n"
                                       "   \n"
                                       "P1 PrintAllMemory\n"
                                       "P0\n"
                                       "// note\n"
                                       "\n"
                                       "P0 PrintProcessMemory\n"
                                       "X\n"
                                       "P0 PrintAllMemory\n");
    EXPECT_EQ(ParseFile(f), 0);
    EXPECT_EQ(out, "   1 P9 TerminateProcess\n" + kErrNoProcess + kErrUnknown +
                       "   3 P1 PrintAllMemory\n" + kErrPrivilege + "   4 P0\n" + kErrInvalid +
                       kErrUnknown + "   6 P0 PrintProcessMemory\n" + kErrNoProcess + "   7 X\n" +
                       kErrInvalid + "   8 P0 PrintAllMemory\n" + kEmptyMem);
}

TEST_F(InterpParseFile, EndStopsTheFileWithMinusOne)
{
    kt_TempDir dir;
    std::string f = dir.write("s.txt", "P0 PrintAllMemory\nP0 END\nP0 PrintProcessTable\nP0 END\n");
    EXPECT_EQ(ParseFile(f), -1);
    EXPECT_EQ(out, "   1 P0 PrintAllMemory\n" + kEmptyMem + "   2 P0 END\n" + kErrEnd);
}

TEST_F(InterpParseFile, LastLineWithoutLineFeed)
{
    kt_TempDir dir;
    EXPECT_EQ(ParseFile(dir.write("a.txt", "P0 PrintAllMemory")), 0);
    EXPECT_EQ(out, "   1 P0 PrintAllMemory\n" + kEmptyMem);

    EXPECT_EQ(ParseFile(dir.write("b.txt", "P0 PrintAllMemory\nP0 END")), -1);
    EXPECT_EQ(out, "   1 P0 PrintAllMemory\n" + kEmptyMem + "   2 P0 END\n" + kErrEnd);

    // A last line of one character is not handed over.
    EXPECT_EQ(ParseFile(dir.write("c.txt", "P0 PrintAllMemory\nX")), 0);
    EXPECT_EQ(out, "   1 P0 PrintAllMemory\n" + kEmptyMem);

    EXPECT_EQ(ParseFile(dir.write("d.txt", "P0 PrintAllMemory\nP0")), 0);
    EXPECT_EQ(out, "   1 P0 PrintAllMemory\n" + kEmptyMem + "   2 P0\n" + kErrInvalid);
}

TEST_F(InterpParseFile, EmptyAndMissingFiles)
{
    kt_TempDir dir;
    EXPECT_EQ(ParseFile(dir.write("empty.txt", "")), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(ParseFile(dir.write("lf.txt", "\n\n\n")), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(ParseFile(dir.path + "/nosuch.txt"), -1);
    EXPECT_EQ(out, "");
}

TEST_F(InterpParseFile, DirectoryEndsAtOnceWithMinusOne)
{
    kt_TempDir dir;
    dir.write("inside.txt", "P0 PrintAllMemory\n");
    EXPECT_EQ(ParseFile(dir.path), -1);
    EXPECT_EQ(out, "");
}

TEST_F(InterpParseFile, LongLinesAreReadInPiecesOf159)
{
    kt_TempDir dir;
    // 158 characters: one piece. 159: one piece, then the line feed alone is
    // skipped. 160: a second piece of one character and the line feed.
    std::string l158 = "P0 PrintProcessTable //" + std::string(135, 'c');
    std::string l159 = "P0 PrintProcessTable //" + std::string(136, 'c');
    std::string l160 = l159 + "Z";
    ASSERT_EQ(l158.size(), 158u);
    ASSERT_EQ(l159.size(), 159u);
    // 200: 159 characters and then 41 with the line feed.
    std::string l200 =
        "P0 PrintAllMemory" + std::string(142, ' ') + "P0 PrintProcessTable" + std::string(21, ' ');
    ASSERT_EQ(l200.size(), 200u);
    std::string f =
        dir.write("s.txt", l158 + "\n" + l159 + "\n" + l160 + "\n" + l200 + "\n" + "P0 END\n");
    EXPECT_EQ(ParseFile(f), -1);
    EXPECT_EQ(out, "   1 P0 PrintProcessTable\n" + kEmptyTable + "   2 P0 PrintProcessTable\n" +
                       kEmptyTable + "   3 P0 PrintProcessTable\n" + kEmptyTable + "   4 Z\n" +
                       kErrInvalid + "   5 P0 PrintAllMemory\n" + kEmptyMem +
                       "   6 P0 PrintProcessTable\n" + kEmptyTable + "   7 P0 END\n" + kErrEnd);
}

TEST_F(InterpParseFile, TokenCutAtTheEndOfAPieceBecomesTwoLines)
{
    kt_TempDir dir;
    std::string l200 = std::string(151, ' ') + "P0 Print" + "ProcessTable" + std::string(29, ' ');
    ASSERT_EQ(l200.size(), 200u);
    std::string f = dir.write("s.txt", l200 + "\n");
    EXPECT_EQ(ParseFile(f), 0);
    EXPECT_EQ(out, "   1 P0 Print\n" + kErrInvalid + "   2 ProcessTable\n" + kErrInvalid);
}

TEST_F(InterpParseFile, CrLfAndWhiteSpace)
{
    kt_TempDir dir;
    std::string f = dir.write("s.txt", "P0\tPrintProcessTable\r\n"
                                       "\r\n"
                                       "\v\f P0 \r PrintAllMemory\t\r\n"
                                       "\n"
                                       "P0\vEND\fnow\r\n"
                                       "P0 PrintAllMemory\r\n");
    EXPECT_EQ(ParseFile(f), -1);
    EXPECT_EQ(out, "   1 P0 PrintProcessTable\n" + kEmptyTable + kErrUnknown +
                       "   3 P0 PrintAllMemory\n" + kEmptyMem + "   4 P0 END now\n" + kErrEnd);
}

TEST_F(InterpParseFile, EveryFileStartsAtLineOneAndSharesTheManager)
{
    kt_TempDir dir;
    dir.write("prog.txt", "8585\n2\n2 2\nRUN HALT\n");
    std::string a = dir.write("a.txt", "P1 LoadFile @200 \"prog.txt\nP1 STORE @202 #77\n");
    std::string b = dir.write("b.txt", "P1 LoadFile @300 \"prog.txt\nP1 PrintProcessMemory\n");
    CwdGuard cwd(dir.path);

    EXPECT_EQ(ParseFile(a), 0);
    EXPECT_EQ(out, "   1 P1 LoadFile @200 \"prog.txt\n   2 P1 STORE @202 #77\n");
    EXPECT_EQ(ParseFile(b), 0);
    EXPECT_EQ(out, "   1 P1 LoadFile @300 \"prog.txt\n"
                   "******* ERROR: Process already loaded\n"
                   "   2 P1 PrintProcessMemory\n" +
                       kMemHead + "|  200 RUN\n|  201 HALT\n|  202 77\n" + kFrame);
}

// The grammar is the pattern table: against a table whose process, keyword,
// address, integer and string patterns are spelled otherwise, the changed
// lines run and the stock ones break the grammar, and the other way round.
TEST_F(InterpParseLine, GrammarIsThePatternTable)
{
    const char* const process[] = {"Q%u", nullptr};
    const char* const command[] = {"Load", "Table", "Memory", "Put", "Kill", "All", "Stop", nullptr};
    const char* const address[] = {"A%u", nullptr};
    const char* const integer[] = {"=%u", nullptr};
    const char* const string[] = {"'%s", nullptr};
    const char* const* const table[] = {process, command, address, integer, string, nullptr};
    auto run = [&](const char* line, const char* const* const* t) {
        ErrMessage_t rc = ERR_NONE;
        out = kt_Capture([&] { rc = kmm_ParseLineWith(line, kmm, 1, t); });
        return rc;
    };
    EXPECT_EQ(run("Q0 Table\n", table), ERR_NONE);
    EXPECT_EQ(out.substr(0, 14), "   1 Q0 Table\n");
    EXPECT_EQ(run("P0 PrintProcessTable\n", table), ERR_INVALIDINPUT);
    EXPECT_EQ(run("Q0 Table\n", Arguments), ERR_INVALIDINPUT);
    EXPECT_EQ(run("Q3 Put A5 =7\n", table), ERR_NOPROCESS);
    EXPECT_EQ(run("Q3 Put A5 'x\n", table), ERR_NOPROCESS);
    EXPECT_EQ(run("Q3 Put A5 #7\n", table), ERR_INVALIDINPUT);
    EXPECT_EQ(run("Q3 Put @5 =7\n", table), ERR_INVALIDINPUT);
    EXPECT_EQ(run("Q3 STORE A5 =7\n", table), ERR_INVALIDINPUT);
    EXPECT_EQ(run("Q3 Kill\n", table), ERR_NOPROCESS);
    EXPECT_EQ(run("Q1 All\n", table), ERR_NOPRIVILEGE);
    EXPECT_EQ(run("Q0 Stop now\n", table), ERR_PARSEEND);
    EXPECT_EQ(run("Q0 Load A5 'missing.txt\n", table), ERR_NOFILE);
    EXPECT_EQ(run("Q0 Load A5000 'missing.txt\n", table), ERR_INVALIDINPUT);
    EXPECT_EQ(run("Q0 Load A5 \"missing.txt\n", table), ERR_INVALIDINPUT);
}
