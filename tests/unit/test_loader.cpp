// The program loader: KelMM_Load with real load files in a scratch folder, and
// its line reader GetExplodedLine.

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "KelLoad.h"
#include "KelMem.h"
#include "kelparse.h"
#include "test_util.h"

namespace {

using SegV = std::vector<std::pair<int32_t, int32_t>>;

class LoaderBase : public kt_ManagerTest {
  protected:
    kt_TempDir dir;
    int fileNo = 0;

    void SetUp() override
    {
        ASSERT_FALSE(dir.path.empty());
        kt_ManagerTest::SetUp();
    }

    // Writes a fresh load file and returns its path.
    std::string File(const std::string& content)
    {
        return dir.write("load" + std::to_string(fileNo++) + ".txt", content);
    }

    ErrMessage_t Load(int32_t process, const std::string& content, int32_t addr)
    {
        return KelMM_Load(kmm, process, File(content).c_str(), addr);
    }

    bool Exists(int process) const
    {
        return kmm->processList[process] != nullptr;
    }

    int CountProcesses() const
    {
        int n = 0;
        for (int i = 0; i < 10; ++i)
            n += Exists(i) ? 1 : 0;
        return n;
    }

    // The process's segments from the head of its list.
    SegV Segs(int process) const
    {
        SegV out;
        if (!Exists(process))
            return out;
        for (SegList* s = KMM_SeekSegListHead(kmm->processList[process]->segments); s != nullptr;
             s = s->next)
            out.emplace_back(s->seg.pos, s->seg.len);
        return out;
    }

    SegV FreeAreas() const
    {
        SegV out;
        for (SegList* s = KMM_SeekSegListHead(kmm->memFree); s != nullptr; s = s->next)
            out.emplace_back(s->seg.pos, s->seg.len);
        return out;
    }

    void ExpectInstr(int cell, InstructionType_e v) const
    {
        EXPECT_EQ(kmm->mem[cell].type, DATA_INSTRUCTION) << "cell " << cell;
        EXPECT_EQ(kmm->mem[cell].instruction.value, v) << "cell " << cell;
    }

    void ExpectInt(int cell, uint32_t v) const
    {
        EXPECT_EQ(kmm->mem[cell].type, DATA_INTEGER) << "cell " << cell;
        EXPECT_EQ(kmm->mem[cell].integer.value, v) << "cell " << cell;
    }

    void ExpectStr(int cell, const char* v) const
    {
        EXPECT_EQ(kmm->mem[cell].type, DATA_STRING) << "cell " << cell;
        EXPECT_STREQ(kmm->mem[cell].string.value, v) << "cell " << cell;
    }

    // A cell of a reserved segment that received no value.
    void ExpectEmpty(int cell) const
    {
        EXPECT_EQ(kmm->mem[cell].type, DATA_ERROR) << "cell " << cell;
    }

    // A cell never allocated since the manager was made.
    void ExpectNeverUsed(int cell) const
    {
        EXPECT_EQ(kmm->mem[cell].type, DATA_MAGIC) << "cell " << cell;
    }
};

// One suite name per topic, all on the same fixture.
using LoaderExample = LoaderBase;
using LoaderArguments = LoaderBase;
using LoaderHeader = LoaderBase;
using LoaderAllocation = LoaderBase;
using LoaderValues = LoaderBase;
using LoaderValueErrors = LoaderBase;
using LoaderLongLines = LoaderBase;
using LoaderFileHandling = LoaderBase;
using LoaderPlacer = LoaderBase;

const char kExample[] = "8585\n2\n3 4\nRUN RUN HALT\n#42 \"hello 7 // data\n";
const char kSmallOk[] = "8585\n2\n1 1\nRUN #1\n";

} // namespace

// The example file: five lines, process 1 at cell 100

TEST_F(LoaderExample, FiveLineFile)
{
    ASSERT_EQ(Load(1, kExample, 100), ERR_NONE);
    ASSERT_TRUE(Exists(1));
    EXPECT_EQ(kmm->processList[1]->ID, 1);
    EXPECT_EQ(kmm->processList[1]->segments->prev, nullptr); // kept by its head
    EXPECT_EQ(Segs(1), (SegV{{100, 3}, {103, 4}}));
    EXPECT_EQ(CountProcesses(), 1);

    ExpectInstr(100, INSTRUCTION_RUN);
    ExpectInstr(101, INSTRUCTION_RUN);
    ExpectInstr(102, INSTRUCTION_HALT);
    ExpectInt(103, 42);
    ExpectStr(104, "hello");
    ExpectInt(105, 7);
    ExpectEmpty(106);
    ExpectNeverUsed(99);
    ExpectNeverUsed(107);

    EXPECT_EQ(FreeAreas(), (SegV{{0, 100}, {107, 893}}));
}

TEST_F(LoaderExample, LastLineWithoutLineFeed)
{
    ASSERT_EQ(Load(1, "8585\n2\n3 4\nRUN RUN HALT\n#42 \"hello 7 // data", 100), ERR_NONE);
    ExpectInstr(102, INSTRUCTION_HALT);
    ExpectInt(103, 42);
    ExpectStr(104, "hello");
    ExpectInt(105, 7);
    ExpectEmpty(106);
}

TEST_F(LoaderExample, CarriageReturnLineEnds)
{
    ASSERT_EQ(Load(1, "8585\r\n2\r\n3 4\r\nRUN RUN HALT\r\n#42 \"hello 7 // data\r\n", 100),
              ERR_NONE);
    EXPECT_EQ(Segs(1), (SegV{{100, 3}, {103, 4}}));
    ExpectInstr(102, INSTRUCTION_HALT);
    ExpectStr(104, "hello");
    ExpectInt(105, 7);
}

TEST_F(LoaderExample, TwoProcessesSideBySide)
{
    ASSERT_EQ(Load(1, kExample, 100), ERR_NONE);
    ASSERT_EQ(Load(2, kExample, 107), ERR_NONE); // touches process 1, shares no cell
    EXPECT_EQ(Segs(2), (SegV{{107, 3}, {110, 4}}));
    ExpectInt(105, 7);
    ExpectInstr(107, INSTRUCTION_RUN);
    ExpectInt(110, 42);
}

TEST_F(LoaderExample, EverySlotCanBeLoaded)
{
    for (int p = 0; p < 10; ++p)
        ASSERT_EQ(Load(p, kExample, p * 7), ERR_NONE) << "process " << p;
    EXPECT_EQ(CountProcesses(), 10);
    ExpectInt(9 * 7 + 5, 7);
}

TEST_F(LoaderExample, PrintsNothing)
{
    const std::string ok = File(kExample);
    const std::string bad = File("8585\n2\n3 4\nRUN #1\n");
    std::string out = kt_Capture([&] {
        EXPECT_EQ(KelMM_Load(kmm, 1, ok.c_str(), 100), ERR_NONE);
        EXPECT_EQ(KelMM_Load(kmm, 2, bad.c_str(), 200), ERR_INVALIDINSTRUCTION);
        EXPECT_EQ(KelMM_Load(kmm, 1, ok.c_str(), 300), ERR_PROCESSEXISTS);
    });
    EXPECT_EQ(out, "");
}

// Arguments and the occupied slot

TEST_F(LoaderArguments, NullManager)
{
    EXPECT_EQ(KelMM_Load(nullptr, 1, File(kExample).c_str(), 100), ERR_UNKNOWN);
}

TEST_F(LoaderArguments, NullFilename)
{
    EXPECT_EQ(KelMM_Load(kmm, 1, nullptr, 100), ERR_UNKNOWN);
    EXPECT_EQ(CountProcesses(), 0);
    ExpectNeverUsed(100);
}

TEST_F(LoaderArguments, ProcessOutsideSlots)
{
    const std::string ok = File(kExample);
    const int32_t bad[] = {-1, 10, 11, 100, INT32_MAX, INT32_MIN};
    for (int32_t p : bad) {
        EXPECT_EQ(KelMM_Load(kmm, p, ok.c_str(), 100), ERR_UNKNOWN) << "process " << p;
        // Decided before the file is looked at.
        EXPECT_EQ(KelMM_Load(kmm, p, (dir.path + "/missing.txt").c_str(), 100), ERR_UNKNOWN)
            << "process " << p;
    }
    EXPECT_EQ(CountProcesses(), 0);
    ExpectNeverUsed(100);
    EXPECT_EQ(FreeAreas(), (SegV{{0, 1000}}));
}

TEST_F(LoaderArguments, NullFilenameCheckedBeforeOccupiedSlot)
{
    ASSERT_EQ(Load(1, kExample, 100), ERR_NONE);
    EXPECT_EQ(KelMM_Load(kmm, 1, nullptr, 500), ERR_UNKNOWN);
    EXPECT_EQ(Segs(1), (SegV{{100, 3}, {103, 4}}));
}

TEST_F(LoaderArguments, OccupiedSlotDoesNotOpenTheFile)
{
    ASSERT_EQ(Load(1, kExample, 100), ERR_NONE);
    // The file does not exist: only the occupied slot can answer.
    EXPECT_EQ(KelMM_Load(kmm, 1, (dir.path + "/missing.txt").c_str(), 500), ERR_PROCESSEXISTS);
    EXPECT_EQ(KelMM_Load(kmm, 1, dir.path.c_str(), 500), ERR_PROCESSEXISTS);
    EXPECT_EQ(Segs(1), (SegV{{100, 3}, {103, 4}}));
    ExpectInt(103, 42);
}

TEST_F(LoaderArguments, OccupiedSlotKeepsProcessAndCells)
{
    ASSERT_EQ(Load(1, kExample, 100), ERR_NONE);
    EXPECT_EQ(Load(1, "8585\n1\n5\nHALT HALT\n", 500), ERR_PROCESSEXISTS);
    EXPECT_EQ(Load(1, "garbage\n", 500), ERR_PROCESSEXISTS);
    EXPECT_EQ(Segs(1), (SegV{{100, 3}, {103, 4}}));
    ExpectInstr(100, INSTRUCTION_RUN);
    ExpectStr(104, "hello");
    ExpectNeverUsed(500);
    EXPECT_EQ(CountProcesses(), 1);
}

TEST_F(LoaderArguments, SlotFreeAgainAfterTermination)
{
    ASSERT_EQ(Load(1, kExample, 100), ERR_NONE);
    ASSERT_EQ(KMM_TerminateProcess(kmm, 1), ERR_NONE);
    ASSERT_EQ(Load(1, "8585\n1\n2\nHALT\n", 100), ERR_NONE);
    EXPECT_EQ(Segs(1), (SegV{{100, 2}}));
    ExpectInstr(100, INSTRUCTION_HALT);
    ExpectEmpty(101); // held RUN before; the new segment marks it empty
}

// Opening the file and the three header lines

TEST_F(LoaderHeader, MissingFile)
{
    EXPECT_EQ(KelMM_Load(kmm, 1, (dir.path + "/missing.txt").c_str(), 100), ERR_NOFILE);
    EXPECT_EQ(KelMM_Load(kmm, 1, "", 100), ERR_NOFILE);
    EXPECT_FALSE(Exists(1));
}

TEST_F(LoaderHeader, DirectoryIsNoFile)
{
    EXPECT_EQ(KelMM_Load(kmm, 1, dir.path.c_str(), 100), ERR_NOFILE);
    EXPECT_FALSE(Exists(1));
}

TEST_F(LoaderHeader, EmptyFile)
{
    EXPECT_EQ(Load(1, "", 100), ERR_INVALIDFILE);
    EXPECT_FALSE(Exists(1));
}

TEST_F(LoaderHeader, MagicLineWithoutTokens)
{
    EXPECT_EQ(Load(1, "\n8585\n1\n1\nRUN\n", 100), ERR_INVALIDFILE);
    EXPECT_EQ(Load(1, " \t \n8585\n1\n1\nRUN\n", 100), ERR_INVALIDFILE);
    EXPECT_EQ(Load(1, "// magic\n8585\n1\n1\nRUN\n", 100), ERR_INVALIDFILE);
    EXPECT_EQ(Load(1, "   // 8585\n1\n1\nRUN\n", 100), ERR_INVALIDFILE);
    EXPECT_FALSE(Exists(1));
}

TEST_F(LoaderHeader, WrongMagicToken)
{
    const char* bad[] = {"08585", "85851", "858", "#8585", "\"8585", "x 8585", "RUN", "8585x"};
    for (const char* m : bad)
        EXPECT_EQ(Load(1, std::string(m) + "\n1\n1\nRUN\n", 100), ERR_INVALIDFILE) << m;
    EXPECT_FALSE(Exists(1));
    ExpectNeverUsed(100);
}

TEST_F(LoaderHeader, FurtherTokensOnMagicLineIgnored)
{
    ASSERT_EQ(Load(1, "8585 anything else\n1\n1\nRUN\n", 100), ERR_NONE);
    ASSERT_EQ(Load(2, "  8585\tRUN #5 // magic\n1\n1\nHALT\n", 200), ERR_NONE);
    ExpectInstr(100, INSTRUCTION_RUN);
    ExpectInstr(200, INSTRUCTION_HALT);
}

TEST_F(LoaderHeader, OnlyMagicLine)
{
    EXPECT_EQ(Load(1, "8585\n", 100), ERR_INVALIDFILE);
    EXPECT_EQ(Load(1, "8585", 100), ERR_INVALIDFILE);
    EXPECT_FALSE(Exists(1));
}

TEST_F(LoaderHeader, CountLineWithComment)
{
    ASSERT_EQ(Load(1, "8585\n2 // two segments\n3 4\nRUN\n", 100), ERR_NONE);
    EXPECT_EQ(Segs(1), (SegV{{100, 3}, {103, 4}}));
}

TEST_F(LoaderHeader, CountLineRejected)
{
    const char* bad[] = {"2 3", "#2", "0",   "5",  "00", "8585", "RUN",
                         "x",   "-1", "\"2", "2x", "",   "   ",  "// 2"};
    for (const char* c : bad) {
        EXPECT_EQ(Load(1, std::string("8585\n") + c + "\n3 4\nRUN\n", 100), ERR_INVALIDFILE)
            << "count line '" << c << "'";
        EXPECT_FALSE(Exists(1));
    }
    ExpectNeverUsed(100);
}

TEST_F(LoaderHeader, CountTooLargeForThirtyTwoBits)
{
    // Would wrap to 1, 0 and 2 if converted modulo 2^32.
    const char* bad[] = {"4294967297", "4294967296", "4294967298", "99999999999999999999"};
    for (const char* c : bad) {
        EXPECT_EQ(Load(1, std::string("8585\n") + c + "\n3 4\nRUN\n", 100), ERR_INVALIDFILE) << c;
        EXPECT_FALSE(Exists(1));
    }
}

TEST_F(LoaderHeader, CountFromOneToFour)
{
    ASSERT_EQ(Load(1, "8585\n1\n3\nRUN\n", 100), ERR_NONE);
    ASSERT_EQ(Load(2, "8585\n01\n3\nRUN\n", 200), ERR_NONE);
    ASSERT_EQ(Load(3, "8585\n3\n1 2 3\n", 300), ERR_NONE);
    ASSERT_EQ(Load(4, "8585\n4\n1 2 3 4\n", 400), ERR_NONE);
    EXPECT_EQ(Segs(1), (SegV{{100, 3}}));
    EXPECT_EQ(Segs(2), (SegV{{200, 3}}));
    EXPECT_EQ(Segs(3), (SegV{{300, 1}, {301, 2}, {303, 3}}));
    EXPECT_EQ(Segs(4), (SegV{{400, 1}, {401, 2}, {403, 3}, {406, 4}}));
}

TEST_F(LoaderHeader, CountLineMissing)
{
    EXPECT_EQ(Load(1, "8585\n\n3\nRUN\n", 100), ERR_INVALIDFILE);
    EXPECT_FALSE(Exists(1));
}

TEST_F(LoaderHeader, SizesLineWithoutTokens)
{
    EXPECT_EQ(Load(1, "8585\n2\n", 100), ERR_INVALIDFILE);
    EXPECT_EQ(Load(1, "8585\n2", 100), ERR_INVALIDFILE);
    EXPECT_EQ(Load(1, "8585\n2\n\n3 4\n", 100), ERR_INVALIDFILE);
    EXPECT_EQ(Load(1, "8585\n2\n// 3 4\n", 100), ERR_INVALIDFILE);
    EXPECT_FALSE(Exists(1));
}

TEST_F(LoaderHeader, SizesCountMismatch)
{
    EXPECT_EQ(Load(1, "8585\n2\n3\nRUN\n", 100), ERR_INVALIDINSTRUCTION);
    EXPECT_EQ(Load(1, "8585\n2\n3 4 5\nRUN\n", 100), ERR_INVALIDINSTRUCTION);
    EXPECT_EQ(Load(1, "8585\n2\n3 // 4\nRUN\n", 100), ERR_INVALIDINSTRUCTION);
    EXPECT_EQ(Load(1, "8585\n4\n1 1 1 1 1\n", 100), ERR_INVALIDINSTRUCTION);
    EXPECT_FALSE(Exists(1));
    ExpectNeverUsed(100);
}

TEST_F(LoaderHeader, SizesCountCheckedBeforeTokenType)
{
    EXPECT_EQ(Load(1, "8585\n2\nx\nRUN\n", 100), ERR_INVALIDINSTRUCTION);
    EXPECT_EQ(Load(1, "8585\n1\nx y\nRUN\n", 100), ERR_INVALIDINSTRUCTION);
    EXPECT_EQ(Load(1, "8585\n2\n#3 #4 #5\nRUN\n", 100), ERR_INVALIDINSTRUCTION);
    EXPECT_FALSE(Exists(1));
}

TEST_F(LoaderHeader, SizeTokenNotPlainDigits)
{
    const char* bad[] = {"3 x",  "3 #4",  "#3 4",  "3 8585", "8585 3",
                         "-3 4", "3 \"4", "RUN 4", "3 4x"};
    for (const char* s : bad) {
        EXPECT_EQ(Load(1, std::string("8585\n2\n") + s + "\nRUN\n", 100), ERR_INVALIDFILE)
            << "sizes '" << s << "'";
        EXPECT_FALSE(Exists(1));
    }
    ExpectNeverUsed(100);
}

TEST_F(LoaderHeader, SizeForms)
{
    ASSERT_EQ(Load(1, "8585\n2\n03 0004\n", 100), ERR_NONE);
    EXPECT_EQ(Segs(1), (SegV{{100, 3}, {103, 4}}));
    ASSERT_EQ(Load(2, "8585\n1\n0\n", 200), ERR_NONE);
    EXPECT_EQ(Segs(2), (SegV{{200, 0}}));
    ASSERT_EQ(Load(3, "8585\n2\n0 0\n", 300), ERR_NONE);
    EXPECT_EQ(Segs(3), (SegV{{300, 0}, {300, 0}}));
}

// Reserving the process

TEST_F(LoaderAllocation, AreaTakenByAnotherProcess)
{
    ASSERT_EQ(Load(0, "8585\n1\n10\n", 100), ERR_NONE);
    EXPECT_EQ(Load(1, "8585\n1\n3\nRUN\n", 105), ERR_INSUFFICIENTMEM);
    EXPECT_EQ(Load(1, "8585\n2\n3 5\nRUN\n", 95), ERR_INSUFFICIENTMEM); // second segment meets P0
    EXPECT_FALSE(Exists(1));
    EXPECT_EQ(Segs(0), (SegV{{100, 10}}));
    EXPECT_EQ(FreeAreas(), (SegV{{0, 100}, {110, 890}}));
    // Touching areas are fine.
    ASSERT_EQ(Load(1, "8585\n1\n3\nRUN\n", 110), ERR_NONE);
    ASSERT_EQ(Load(2, "8585\n1\n3\nRUN\n", 97), ERR_NONE);
}

TEST_F(LoaderAllocation, PastTheEndOfMemory)
{
    EXPECT_EQ(Load(1, "8585\n2\n3 10\nRUN\n", 995), ERR_INSUFFICIENTMEM);
    EXPECT_FALSE(Exists(1));
    EXPECT_EQ(FreeAreas(), (SegV{{0, 1000}}));
    EXPECT_EQ(Load(1, "8585\n2\n1 1\n", 999), ERR_INSUFFICIENTMEM);
    EXPECT_FALSE(Exists(1));
    ASSERT_EQ(Load(1, "8585\n2\n1 1\nRUN #9\n", 998), ERR_NONE); // ends at the last cell
    ExpectInstr(998, INSTRUCTION_RUN);
    ExpectInt(999, 9);
}

TEST_F(LoaderAllocation, HugeSizes)
{
    const char* bad[] = {"2147483647", "2147483648", "4294967295",
                         "4294967296", "4294967297", "99999999999999999999"};
    for (const char* s : bad) {
        EXPECT_EQ(Load(1, std::string("8585\n1\n") + s + "\nRUN\n", 0), ERR_INSUFFICIENTMEM) << s;
        EXPECT_FALSE(Exists(1));
        EXPECT_EQ(Load(1, std::string("8585\n2\n") + s + " 3\nRUN\n", 0), ERR_INSUFFICIENTMEM) << s;
        EXPECT_FALSE(Exists(1));
    }
    EXPECT_EQ(FreeAreas(), (SegV{{0, 1000}}));
}

TEST_F(LoaderAllocation, SegmentEndBeyondThirtyTwoBits)
{
    // The second segment would start at 995 and reach far past any 32-bit position.
    EXPECT_EQ(Load(1, "8585\n2\n5 2147483647\nRUN\n", 990), ERR_INSUFFICIENTMEM);
    EXPECT_FALSE(Exists(1));
}

TEST_F(LoaderAllocation, HeaderCheckedBeforeReservation)
{
    ASSERT_EQ(Load(0, "8585\n1\n10\n", 100), ERR_NONE);
    EXPECT_EQ(Load(1, "8585\n2\n3 x\n", 100), ERR_INVALIDFILE);
    EXPECT_EQ(Load(1, "8585\n2\n3\n", 100), ERR_INVALIDINSTRUCTION);
    EXPECT_EQ(Load(1, "8585\n7\n3\n", 100), ERR_INVALIDFILE);
}

TEST_F(LoaderAllocation, ReservationBeforeValues)
{
    ASSERT_EQ(Load(0, "8585\n1\n10\n", 100), ERR_NONE);
    EXPECT_EQ(Load(1, "8585\n1\n3\n#1 bogus\n", 100), ERR_INSUFFICIENTMEM);
    EXPECT_FALSE(Exists(1));
}

TEST_F(LoaderAllocation, SameSlotLoadsAfterFailure)
{
    EXPECT_EQ(Load(1, "8585\n1\n5000\n", 0), ERR_INSUFFICIENTMEM);
    ASSERT_EQ(Load(1, kExample, 100), ERR_NONE);
    EXPECT_EQ(Segs(1), (SegV{{100, 3}, {103, 4}}));
}

// Value lines that load

TEST_F(LoaderValues, FileEndsAfterSizesLine)
{
    ASSERT_EQ(Load(1, "8585\n2\n3 4\n", 100), ERR_NONE);
    EXPECT_EQ(Segs(1), (SegV{{100, 3}, {103, 4}}));
    for (int c = 100; c < 107; ++c)
        ExpectEmpty(c);
    ExpectNeverUsed(107);
}

TEST_F(LoaderValues, EmptyLineEndsTheValues)
{
    ASSERT_EQ(Load(1, "8585\n2\n1 2\nRUN\n\n#5\n", 100), ERR_NONE);
    ExpectInstr(100, INSTRUCTION_RUN);
    ExpectEmpty(101);
    ExpectEmpty(102);
}

TEST_F(LoaderValues, WhiteSpaceOrCommentLineEndsTheValues)
{
    ASSERT_EQ(Load(1, "8585\n2\n1 2\nRUN\n \t \n#5\n", 100), ERR_NONE);
    ExpectEmpty(101);
    ASSERT_EQ(Load(2, "8585\n2\n1 2\nRUN\n// more\n#5\n", 200), ERR_NONE);
    ExpectInstr(200, INSTRUCTION_RUN);
    ExpectEmpty(201);
    // Even values that would be rejected are never read.
    ASSERT_EQ(Load(3, "8585\n1\n1\n\nbogus\n", 300), ERR_NONE);
    ExpectEmpty(300);
}

TEST_F(LoaderValues, CommentAfterValuesDoesNotEndTheValues)
{
    ASSERT_EQ(Load(1, "8585\n2\n2 1\nRUN // HALT #3\nHALT\n#4\n", 100), ERR_NONE);
    ExpectInstr(100, INSTRUCTION_RUN);
    ExpectInstr(101, INSTRUCTION_HALT);
    ExpectInt(102, 4);
}

TEST_F(LoaderValues, ValuesSpreadOverLines)
{
    ASSERT_EQ(Load(1, "8585\n2\n2 3\nRUN\nHALT #1\n\"two\n3\n", 100), ERR_NONE);
    ExpectInstr(100, INSTRUCTION_RUN);
    ExpectInstr(101, INSTRUCTION_HALT);
    ExpectInt(102, 1);
    ExpectStr(103, "two");
    ExpectInt(104, 3);
}

TEST_F(LoaderValues, IntegerForms)
{
    ASSERT_EQ(
        Load(1, "8585\n2\n0 8\n#8585 123 #0123 0 #0 2147483648 4294967295 #4294967295\n", 100),
        ERR_NONE);
    ExpectInt(100, 8585);
    ExpectInt(101, 123);
    ExpectInt(102, 123);
    ExpectInt(103, 0);
    ExpectInt(104, 0);
    ExpectInt(105, 2147483648u);
    ExpectInt(106, 0xFFFFFFFFu);
    ExpectInt(107, 0xFFFFFFFFu);
}

TEST_F(LoaderValues, StringForms)
{
    ASSERT_EQ(Load(1, "8585\n2\n0 6\n\"hello \"a\"b\" \"\" \"%s \"8585 \"RUN\n", 100), ERR_NONE);
    ExpectStr(100, "hello");
    ExpectStr(101, "a\"b\"");
    ExpectStr(102, "\"");
    ExpectStr(103, "%s");
    ExpectStr(104, "8585");
    ExpectStr(105, "RUN");
}

TEST_F(LoaderValues, StringOfNineteenCharactersAfterTheQuote)
{
    const std::string s19 = "abcdefghijklmnopqrs";
    ASSERT_EQ(s19.size(), 19u);
    ASSERT_EQ(Load(1, "8585\n2\n0 2\n\"" + s19 + " #1\n", 100), ERR_NONE);
    ExpectStr(100, s19.c_str());
    ExpectInt(101, 1);
}

TEST_F(LoaderValues, InstructionsFillSegmentZeroFirst)
{
    ASSERT_EQ(Load(1, "8585\n1\n4\nHALT RUN HALT\n", 100), ERR_NONE);
    ExpectInstr(100, INSTRUCTION_HALT);
    ExpectInstr(101, INSTRUCTION_RUN);
    ExpectInstr(102, INSTRUCTION_HALT);
    ExpectEmpty(103);
}

TEST_F(LoaderValues, FourSegmentsOnlyFirstTwoFilled)
{
    ASSERT_EQ(Load(1, "8585\n4\n1 2 3 4\nHALT #1 \"x\n", 100), ERR_NONE);
    EXPECT_EQ(Segs(1), (SegV{{100, 1}, {101, 2}, {103, 3}, {106, 4}}));
    ExpectInstr(100, INSTRUCTION_HALT);
    ExpectInt(101, 1);
    ExpectStr(102, "x");
    for (int c = 103; c < 110; ++c)
        ExpectEmpty(c);
}

TEST_F(LoaderValues, ZeroSizedFirstSegment)
{
    ASSERT_EQ(Load(1, "8585\n2\n0 2\n#5 \"x\n", 100), ERR_NONE);
    EXPECT_EQ(Segs(1), (SegV{{100, 0}, {100, 2}}));
    ExpectInt(100, 5);
    ExpectStr(101, "x");
}

TEST_F(LoaderValues, ValueAtZeroSizedSegmentTakesNextCell)
{
    // The value arrives at segment 1 (size 0) and lands in the first cell of segment 2.
    ASSERT_EQ(Load(1, "8585\n3\n1 0 3\nRUN #1\n", 100), ERR_NONE);
    EXPECT_EQ(Segs(1), (SegV{{100, 1}, {101, 0}, {101, 3}}));
    ExpectInstr(100, INSTRUCTION_RUN);
    ExpectInt(101, 1);
    ExpectEmpty(102);
}

TEST_F(LoaderValues, TwoZeroSizedSegmentsMoveOnlyOnce)
{
    // The first value leaves segment 0 (size 0) for segment 1 (size 0), and no further.
    ASSERT_EQ(Load(1, "8585\n3\n0 0 2\n#5\n", 100), ERR_NONE);
    ExpectInt(100, 5);
    ExpectEmpty(101);
}

// Value lines that are rejected

TEST_F(LoaderValueErrors, IntegerInSegmentZero)
{
    EXPECT_EQ(Load(1, "8585\n2\n3 4\nRUN HALT #1\n", 100), ERR_INVALIDINSTRUCTION);
    EXPECT_FALSE(Exists(1));
    EXPECT_EQ(FreeAreas(), (SegV{{0, 1000}}));
    // Cells of an ended process keep what they held; the rejected value was not written.
    ExpectInstr(100, INSTRUCTION_RUN);
    ExpectInstr(101, INSTRUCTION_HALT);
    ExpectEmpty(102);
}

TEST_F(LoaderValueErrors, InstructionInSegmentOne)
{
    EXPECT_EQ(Load(1, "8585\n2\n1 2\nRUN #1 HALT\n", 100), ERR_INVALIDDATA);
    EXPECT_FALSE(Exists(1));
    ExpectInt(101, 1);
    ExpectEmpty(102);
}

TEST_F(LoaderValueErrors, BadTokensInSegmentZero)
{
    const char* bad[] = {"\"", "run", "-5", "@5", "8585", "#5", "5", "\"abc", "P1", "#", "Run"};
    for (const char* v : bad) {
        EXPECT_EQ(Load(1, std::string("8585\n2\n1 1\n") + v + "\n", 100), ERR_INVALIDINSTRUCTION)
            << v;
        EXPECT_FALSE(Exists(1)) << v;
    }
}

TEST_F(LoaderValueErrors, BadTokensInSegmentOne)
{
    const char* bad[] = {"\"", "run", "-5", "@5", "8585", "RUN", "HALT", "#", "P1", "12a", "#-1"};
    for (const char* v : bad) {
        EXPECT_EQ(Load(1, std::string("8585\n2\n1 1\nRUN ") + v + "\n", 100), ERR_INVALIDDATA) << v;
        EXPECT_FALSE(Exists(1)) << v;
    }
}

TEST_F(LoaderValueErrors, ZeroSizedFirstSegmentRejectsInstruction)
{
    EXPECT_EQ(Load(1, "8585\n2\n0 2\nRUN\n", 100), ERR_INVALIDDATA);
    EXPECT_FALSE(Exists(1));
}

TEST_F(LoaderValueErrors, IntegerTooLargeForThirtyTwoBits)
{
    const char* bad[] = {"4294967296", "#4294967296", "99999999999999999999",
                         "#99999999999999999999", "#18446744073709551616"};
    for (const char* v : bad) {
        EXPECT_EQ(Load(1, std::string("8585\n2\n1 2\nRUN #7 ") + v + "\n", 100), ERR_INVALIDDATA)
            << v;
        EXPECT_FALSE(Exists(1)) << v;
    }
}

TEST_F(LoaderValueErrors, StringOfTwentyCharactersAfterTheQuote)
{
    // 21 characters with the quote: rejected, and the process goes like any rejected load.
    const std::string s20 = "abcdefghijklmnopqrst";
    EXPECT_EQ(Load(1, "8585\n2\n1 3\nRUN #1 \"" + s20 + " #2\n", 100), ERR_INVALIDDATA);
    EXPECT_FALSE(Exists(1));
    EXPECT_EQ(FreeAreas(), (SegV{{0, 1000}}));
    ExpectInt(101, 1);
    // The slot can be loaded again.
    ASSERT_EQ(Load(1, kExample, 100), ERR_NONE);
    ExpectStr(104, "hello");
}

TEST_F(LoaderValueErrors, PastTheLastSegment)
{
    EXPECT_EQ(Load(1, "8585\n2\n2 1\nRUN RUN #1 #2\n", 100), ERR_DATAOVERFLOW);
    EXPECT_FALSE(Exists(1));
    ExpectNeverUsed(103);
    EXPECT_EQ(Load(1, "8585\n1\n1\nRUN HALT\n", 100), ERR_DATAOVERFLOW);
    EXPECT_FALSE(Exists(1));
    EXPECT_EQ(Load(1, "8585\n2\n1 1\nRUN\n#1\n#2\n", 100), ERR_DATAOVERFLOW);
    EXPECT_FALSE(Exists(1));
}

TEST_F(LoaderValueErrors, IntoSegmentTwoOrThree)
{
    EXPECT_EQ(Load(1, "8585\n3\n2 1 5\nRUN RUN #1 #2\n", 100), ERR_DATAOVERFLOW);
    EXPECT_FALSE(Exists(1));
    EXPECT_EQ(Load(1, "8585\n4\n1 1 0 4\nRUN #1 #2\n", 100), ERR_DATAOVERFLOW);
    EXPECT_FALSE(Exists(1));
    EXPECT_EQ(Load(1, "8585\n3\n1 1 1\nRUN #1 \"s\n", 100), ERR_DATAOVERFLOW);
    EXPECT_FALSE(Exists(1));
    EXPECT_EQ(Load(1, "8585\n3\n1 1 1\nRUN #1 HALT\n", 100), ERR_DATAOVERFLOW);
    EXPECT_FALSE(Exists(1));
}

TEST_F(LoaderValueErrors, SegmentCheckedBeforeTokenType)
{
    EXPECT_EQ(Load(1, "8585\n2\n1 1\nRUN #1 bogus\n", 100), ERR_DATAOVERFLOW);
    EXPECT_EQ(Load(1, "8585\n3\n1 1 1\nRUN #1 bogus\n", 100), ERR_DATAOVERFLOW);
    EXPECT_EQ(Load(1, "8585\n3\n1 1 1\nRUN #1 \"abcdefghijklmnopqrstuvwxyz\n", 100),
              ERR_DATAOVERFLOW);
    // A long string in segment 0 is first of all not an instruction.
    EXPECT_EQ(Load(1, "8585\n2\n1 1\n\"abcdefghijklmnopqrstuvwxyz\n", 100), ERR_INVALIDINSTRUCTION);
    EXPECT_FALSE(Exists(1));
}

TEST_F(LoaderValueErrors, FirstBadValueStopsTheLoad)
{
    // A later line holds another kind of fault; the first one decides.
    EXPECT_EQ(Load(1, "8585\n2\n1 1\nRUN x\n#1 #2 #3\n", 100), ERR_INVALIDDATA);
    EXPECT_EQ(Load(1, "8585\n2\n1 1\nx\nRUN\n", 100), ERR_INVALIDINSTRUCTION);
    EXPECT_FALSE(Exists(1));
}

TEST_F(LoaderValueErrors, ValueAfterTrailingZeroSegment)
{
    EXPECT_EQ(Load(1, "8585\n2\n1 0\nRUN #5\n", 100), ERR_DATAOVERFLOW);
    EXPECT_FALSE(Exists(1));
    ExpectNeverUsed(101); // outside every segment of the process: not written
    EXPECT_EQ(Load(1, "8585\n3\n1 0 0\nRUN #5\n", 100), ERR_DATAOVERFLOW);
    EXPECT_FALSE(Exists(1));
    ExpectNeverUsed(101);
}

TEST_F(LoaderValueErrors, ValueAfterTrailingZeroSegmentAtEndOfMemory)
{
    // Cell 1000 does not exist; the sanitizer build would see a write there.
    EXPECT_EQ(Load(1, "8585\n2\n1 0\nRUN #5\n", 999), ERR_DATAOVERFLOW);
    EXPECT_FALSE(Exists(1));
    ExpectInstr(999, INSTRUCTION_RUN);
}

TEST_F(LoaderValueErrors, ValueForOnlyZeroSizedSegments)
{
    EXPECT_EQ(Load(1, "8585\n1\n0\nRUN\n", 100), ERR_DATAOVERFLOW);
    EXPECT_FALSE(Exists(1));
    EXPECT_EQ(Load(1, "8585\n2\n0 0\n#5\n", 100), ERR_DATAOVERFLOW);
    EXPECT_FALSE(Exists(1));
    EXPECT_EQ(Load(1, "8585\n1\n0\nRUN\n", 999), ERR_DATAOVERFLOW);
    EXPECT_FALSE(Exists(1));
    ExpectNeverUsed(100);
}

TEST_F(LoaderValueErrors, SlotLoadsAgainAfterTerminatedLoad)
{
    EXPECT_EQ(Load(1, "8585\n2\n3 4\nRUN HALT #1\n", 100), ERR_INVALIDINSTRUCTION);
    ASSERT_EQ(Load(1, "8585\n2\n3 4\nHALT\n", 100), ERR_NONE);
    ExpectInstr(100, INSTRUCTION_HALT);
    ExpectEmpty(101); // held HALT from the failed load
}

// Long lines: read whole, tokens still cut at 99 characters

TEST_F(LoaderLongLines, TokenAcrossCharacter159IsNotSplit)
{
    const std::string line = std::string(157, ' ') + "#1234";
    ASSERT_EQ(Load(1, "8585\n2\n0 2\n" + line + "\n", 100), ERR_NONE);
    ExpectInt(100, 1234);
    ExpectEmpty(101);
}

TEST_F(LoaderLongLines, LineOf170CharactersEndingInNumber)
{
    // 170 characters; the last token spans characters 151 to 170.
    const std::string line = "#7" + std::string(148, ' ') + "#0000000000000001234";
    ASSERT_EQ(line.size(), 170u);
    ASSERT_EQ(Load(1, "8585\n2\n0 3\n" + line + "\n", 100), ERR_NONE);
    ExpectInt(100, 7);
    ExpectInt(101, 1234);
    ExpectEmpty(102);
}

TEST_F(LoaderLongLines, NumberAtCharacters157To161StoredOnce)
{
    // A 170-character line; read in 159-character pieces it would give 12 and 34.
    const std::string line = "#5" + std::string(154, ' ') + "#1234" + std::string(9, ' ');
    ASSERT_EQ(line.size(), 170u);
    ASSERT_EQ(line.substr(156, 3), "#12");
    ASSERT_EQ(Load(1, "8585\n2\n0 3\n" + line + "\n", 100), ERR_NONE);
    ExpectInt(100, 5);
    ExpectInt(101, 1234);
    ExpectEmpty(102);
}

TEST_F(LoaderLongLines, LineOf159CharactersDoesNotEndTheValues)
{
    const std::string line = "#1" + std::string(157, ' ');
    ASSERT_EQ(line.size(), 159u);
    ASSERT_EQ(Load(1, "8585\n2\n0 3\n" + line + "\n#2\n#3\n", 100), ERR_NONE);
    ExpectInt(100, 1);
    ExpectInt(101, 2);
    ExpectInt(102, 3);
}

// Lines are read whole up to 1 MiB (1,048,576 characters before the line
// feed); a longer line is refused, so a file without line feeds cannot take
// memory without end.
TEST_F(LoaderLongLines, LineOfOneMebibyteIsRead)
{
    const std::string line = "#9" + std::string(1048576 - 2, ' ');
    ASSERT_EQ(Load(1, "8585\n2\n0 2\n" + line + "\n#8\n", 100), ERR_NONE);
    ExpectInt(100, 9);
    ExpectInt(101, 8);
}

TEST_F(LoaderLongLines, LongerHeaderLineIsInvalidFormat)
{
    EXPECT_EQ(Load(1, "8585" + std::string(1048576, ' ') + "\n1\n1\nRUN\n", 100), ERR_INVALIDFILE);
    EXPECT_FALSE(Exists(1));
}

TEST_F(LoaderLongLines, LongerCountOrSizesLineIsInvalidFormat)
{
    const std::string pad(1048576, ' ');
    EXPECT_EQ(Load(1, "8585\n1" + pad + "\n1\nRUN\n", 100), ERR_INVALIDFILE);
    EXPECT_EQ(Load(1, "8585\n1\n1" + pad + "\nRUN\n", 100), ERR_INVALIDFILE);
    EXPECT_FALSE(Exists(1));
}

TEST_F(LoaderLongLines, LongerValueLineEndsTheLoad)
{
    const std::string line = "#9" + std::string(1048576, ' ');
    EXPECT_EQ(Load(1, "8585\n2\n0 2\n" + line + "\n", 100), ERR_INVALIDFILE);
    EXPECT_FALSE(Exists(1));
    EXPECT_EQ(FreeAreas(), (SegV{{0, 1000}}));
}

TEST_F(LoaderLongLines, EndlessDeviceIsRefused)
{
    // NUL bytes and never a line feed.
    EXPECT_EQ(KelMM_Load(kmm, 1, "/dev/zero", 0), ERR_INVALIDFILE);
    EXPECT_FALSE(Exists(1));
}

TEST_F(LoaderLongLines, ManyValuesOnOneLine)
{
    std::string line;
    for (int i = 0; i < 80; ++i)
        line += "#" + std::to_string(i) + " ";
    ASSERT_GT(line.size(), 300u);
    ASSERT_EQ(Load(1, "8585\n2\n0 80\n" + line + "\n", 100), ERR_NONE);
    for (int i = 0; i < 80; ++i)
        ExpectInt(100 + i, static_cast<uint32_t>(i));
}

TEST_F(LoaderLongLines, LongHeaderLines)
{
    const std::string pad(300, ' ');
    ASSERT_EQ(Load(1, "8585" + pad + "junk\n2" + pad + "\n3" + pad + "4" + pad + "\nRUN\n", 100),
              ERR_NONE);
    EXPECT_EQ(Segs(1), (SegV{{100, 3}, {103, 4}}));
    ExpectInstr(100, INSTRUCTION_RUN);
}

TEST_F(LoaderLongLines, TokenCutAtNinetyNineCharacters)
{
    // 99 zeros and a 5 are two tokens: 0 and 5.
    const std::string digits = std::string(99, '0') + "5";
    ASSERT_EQ(Load(1, "8585\n2\n0 3\n" + digits + "\n", 100), ERR_NONE);
    ExpectInt(100, 0);
    ExpectInt(101, 5);
    ExpectEmpty(102);
}

TEST_F(LoaderLongLines, LongStringTokenCutThenRejected)
{
    // A 120-character string token becomes a 99-character string: too long.
    const std::string token = "\"" + std::string(119, 'a');
    EXPECT_EQ(Load(1, "8585\n2\n0 3\n" + token + "\n", 100), ERR_INVALIDDATA);
    EXPECT_FALSE(Exists(1));
}

// The file is closed on every path

namespace {

int OpenDescriptors()
{
    int n = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++n;
    return n;
}

// Lowers the soft limit on open files for the lifetime of the object.
struct FileLimit {
    rlimit saved{};
    bool changed = false;
    explicit FileLimit(rlim_t soft)
    {
        if (getrlimit(RLIMIT_NOFILE, &saved) != 0)
            return;
        rlimit lowered = saved;
        if (saved.rlim_cur != RLIM_INFINITY && saved.rlim_cur <= soft)
            return;
        lowered.rlim_cur = soft;
        changed = (setrlimit(RLIMIT_NOFILE, &lowered) == 0);
    }
    ~FileLimit()
    {
        if (changed)
            setrlimit(RLIMIT_NOFILE, &saved);
    }
    FileLimit(const FileLimit&) = delete;
    FileLimit& operator=(const FileLimit&) = delete;
};

} // namespace

TEST_F(LoaderFileHandling, ManyLoadsLeaveNoFileOpen)
{
    struct Case {
        std::string path;
        int32_t addr;
        ErrMessage_t expected;
    };
    const std::vector<Case> cases = {
        {File(kSmallOk), 100, ERR_NONE},
        {File(""), 100, ERR_INVALIDFILE},
        {File("8586\n2\n1 1\n"), 100, ERR_INVALIDFILE},
        {File("8585\n9\n1 1\n"), 100, ERR_INVALIDFILE},
        {File("8585\n2\n\n"), 100, ERR_INVALIDFILE},
        {File("8585\n2\n1\n"), 100, ERR_INVALIDINSTRUCTION},
        {File("8585\n2\n1 x\n"), 100, ERR_INVALIDFILE},
        {File("8585\n2\n1 5000\n"), 100, ERR_INSUFFICIENTMEM},
        {File("8585\n2\n1 1\n#1\n"), 100, ERR_INVALIDINSTRUCTION},
        {File("8585\n2\n1 1\nRUN HALT\n"), 100, ERR_INVALIDDATA},
        {File("8585\n2\n1 1\nRUN #1 #2\n"), 100, ERR_DATAOVERFLOW},
        {File("8585\n2\n1 1\nRUN \"abcdefghijklmnopqrstu\n"), 100, ERR_INVALIDDATA},
        {File("8585\n2\n1 1\nRUN 4294967296\n"), 100, ERR_INVALIDDATA},
        {File("8585\n2\n1 0\nRUN #5\n"), 999, ERR_DATAOVERFLOW},
        {dir.path, 100, ERR_NOFILE},
    };
    const std::string probe = File(kSmallOk);

    const int before = OpenDescriptors();
    ASSERT_GT(before, 0);
    {
        FileLimit limit(static_cast<rlim_t>(before < 48 ? 64 : before + 16));
        bool allGood = true;
        for (int i = 0; i < 5000 && allGood; ++i) {
            const Case& c = cases[static_cast<size_t>(i) % cases.size()];
            const ErrMessage_t got = KelMM_Load(kmm, 3, c.path.c_str(), c.addr);
            if (got != c.expected) {
                ADD_FAILURE() << "iteration " << i << " on " << c.path << ": got " << got
                              << ", expected " << c.expected;
                allGood = false;
            }
            if (got == ERR_NONE) {
                EXPECT_EQ(KMM_TerminateProcess(kmm, 3), ERR_NONE);
            }
            if (Exists(3)) {
                ADD_FAILURE() << "iteration " << i << ": process left behind";
                allGood = false;
            }
        }
        // Files can still be opened under the low limit.
        std::FILE* f = std::fopen(probe.c_str(), "r");
        EXPECT_NE(f, nullptr);
        if (f != nullptr)
            std::fclose(f);
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

// GetExplodedLine

namespace {

class LineReader : public ::testing::Test {
  protected:
    kt_TempDir dir;
    std::FILE* fp = nullptr;
    char buf[160];

    void Open(const std::string& content)
    {
        const std::string path = dir.write("lines.txt", content);
        fp = std::fopen(path.c_str(), "r");
        ASSERT_NE(fp, nullptr);
    }

    void TearDown() override
    {
        if (fp != nullptr)
            std::fclose(fp);
    }

    // Reads one line; tokens into out (empty for a null result); returns *n.
    int32_t Next(std::vector<std::string>& out, char* b, int32_t len)
    {
        out.clear();
        int32_t n = -99;
        char** list = GetExplodedLine(b, len, fp, &n);
        if (list != nullptr) {
            for (char** p = list; *p != nullptr; ++p)
                out.emplace_back(*p);
            FreeStrList(list);
        }
        return n;
    }

    int32_t Next(std::vector<std::string>& out)
    {
        return Next(out, buf, static_cast<int32_t>(sizeof buf));
    }
};

using V = std::vector<std::string>;

} // namespace

TEST_F(LineReader, MissingBufferOrStreamGivesNull)
{
    Open("RUN\n");
    int32_t n = 5;
    EXPECT_EQ(GetExplodedLine(nullptr, 8, fp, &n), nullptr);
    EXPECT_EQ(n, -1);
    n = 5;
    EXPECT_EQ(GetExplodedLine(buf, 0, fp, &n), nullptr);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(GetExplodedLine(buf, 8, nullptr, nullptr), nullptr);
    // Nothing was read: the line is still there.
    std::vector<std::string> out;
    EXPECT_EQ(Next(out, buf, 8), 1);
    EXPECT_EQ(out, std::vector<std::string>{"RUN"});
}

TEST_F(LineReader, TokensAndCount)
{
    Open("a b c\n  d\t\n");
    V t;
    EXPECT_EQ(Next(t), 3);
    EXPECT_EQ(t, V({"a", "b", "c"}));
    const std::string b(buf);
    EXPECT_TRUE(b == "a b c\n" || b == "a b c") << b;
    EXPECT_EQ(Next(t), 1);
    EXPECT_EQ(t, V({"d"}));
}

TEST_F(LineReader, EndOfFileGivesNullAndMinusOne)
{
    Open("x\n");
    V t;
    EXPECT_EQ(Next(t), 1);
    std::memset(buf, 'Z', sizeof buf);
    int32_t n = 5;
    EXPECT_EQ(GetExplodedLine(buf, sizeof buf, fp, &n), nullptr);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(buf[0], '\0');
    n = 5;
    EXPECT_EQ(GetExplodedLine(buf, sizeof buf, fp, &n), nullptr);
    EXPECT_EQ(n, -1);
}

TEST_F(LineReader, EmptyFile)
{
    Open("");
    std::memset(buf, 'Z', sizeof buf);
    int32_t n = 5;
    EXPECT_EQ(GetExplodedLine(buf, sizeof buf, fp, &n), nullptr);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(buf[0], '\0');
}

TEST_F(LineReader, BlankAndCommentLinesGiveNull)
{
    Open("\n   \t\n// only a comment\n  // another\nlast // one\n");
    V t;
    EXPECT_EQ(Next(t), -1);
    EXPECT_TRUE(t.empty());
    EXPECT_EQ(Next(t), -1);
    EXPECT_EQ(Next(t), -1);
    EXPECT_EQ(Next(t), -1);
    // The reader moves on line by line; a null result does not stop it.
    EXPECT_EQ(Next(t), 1);
    EXPECT_EQ(t, V({"last"}));
    EXPECT_EQ(Next(t), -1);
}

TEST_F(LineReader, CountPointerMayBeNull)
{
    Open("a b\n\n");
    char** list = GetExplodedLine(buf, sizeof buf, fp, nullptr);
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list[0], "a");
    EXPECT_STREQ(list[1], "b");
    EXPECT_EQ(list[2], nullptr);
    FreeStrList(list);
    EXPECT_EQ(GetExplodedLine(buf, sizeof buf, fp, nullptr), nullptr);
    EXPECT_EQ(GetExplodedLine(buf, sizeof buf, fp, nullptr), nullptr);
}

TEST_F(LineReader, EndOfFileIndicatorAlreadySet)
{
    Open("abc\n");
    while (std::fgetc(fp) != EOF) {
    }
    ASSERT_NE(std::feof(fp), 0);
    std::memset(buf, 'Z', sizeof buf);
    int32_t n = 5;
    EXPECT_EQ(GetExplodedLine(buf, sizeof buf, fp, &n), nullptr);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(buf[0], '\0');
}

TEST_F(LineReader, LastLineWithoutLineFeed)
{
    Open("a\nx y");
    V t;
    EXPECT_EQ(Next(t), 1);
    EXPECT_EQ(Next(t), 2);
    EXPECT_EQ(t, V({"x", "y"}));
    EXPECT_EQ(std::string(buf), "x y");
    EXPECT_EQ(Next(t), -1);
}

TEST_F(LineReader, SmallBufferGetsPrefixTokensGetWholeLine)
{
    Open("abcdefghijkl mn\nx\n");
    char small[8];
    V t;
    EXPECT_EQ(Next(t, small, 8), 2);
    EXPECT_EQ(t, V({"abcdefghijkl", "mn"}));
    EXPECT_STREQ(small, "abcdefg");
    // The next call reads the next line, not the rest of this one.
    EXPECT_EQ(Next(t, small, 8), 1);
    EXPECT_EQ(t, V({"x"}));
}

TEST_F(LineReader, LineLongerThanTheBuffer)
{
    std::string line;
    for (int i = 0; i < 60; ++i)
        line += "w" + std::to_string(i) + " ";
    ASSERT_GT(line.size(), 200u);
    Open(line + "\nnext\n");
    V t;
    EXPECT_EQ(Next(t), 60);
    ASSERT_EQ(t.size(), 60u);
    for (int i = 0; i < 60; ++i)
        EXPECT_EQ(t[static_cast<size_t>(i)], "w" + std::to_string(i));
    EXPECT_EQ(std::string(buf), line.substr(0, 159));
    EXPECT_EQ(Next(t), 1);
    EXPECT_EQ(t, V({"next"}));
}

TEST_F(LineReader, LineOfExactly159Characters)
{
    const std::string line = "a" + std::string(157, ' ') + "b";
    ASSERT_EQ(line.size(), 159u);
    Open(line + "\nc\n");
    V t;
    EXPECT_EQ(Next(t), 2);
    EXPECT_EQ(t, V({"a", "b"}));
    EXPECT_EQ(std::string(buf), line);
    EXPECT_EQ(Next(t), 1);
    EXPECT_EQ(t, V({"c"}));
}

TEST_F(LineReader, TokensLongerThan99AreCut)
{
    const std::string run(250, 'q');
    Open(run + "\n");
    V t;
    EXPECT_EQ(Next(t), 3);
    EXPECT_EQ(t, V({std::string(99, 'q'), std::string(99, 'q'), std::string(52, 'q')}));
}

// A placer decides where a load goes once the sizes are read: the segments
// follow back to back from its answer, and -1 refuses the load for want of
// room. A load whose header breaks off never asks.
namespace {
struct Asked {
    int32_t answer = 0;
    int calls = 0;
    int32_t process = -1, addr = -1, nSegs = 0;
    std::vector<int32_t> sizes;
};
int32_t placeAt(void* ctx, const KelMM*, int32_t process, int32_t addr, int32_t nSegs,
                const int32_t* sizes)
{
    auto* a = static_cast<Asked*>(ctx);
    a->calls++;
    a->process = process;
    a->addr = addr;
    a->nSegs = nSegs;
    a->sizes.assign(sizes, sizes + nSegs);
    return a->answer;
}
} // namespace

TEST_F(LoaderPlacer, TheCallerDecidesWhereTheLoadGoes)
{
    Asked asked;
    asked.answer = 500;
    const KelPlacer placer = {&placeAt, &asked};
    kmm->placer = &placer;
    EXPECT_EQ(Load(1, kExample, 100), ERR_NONE);
    EXPECT_EQ(asked.calls, 1);
    EXPECT_EQ(asked.process, 1);
    EXPECT_EQ(asked.addr, 100);
    EXPECT_EQ(asked.sizes, (std::vector<int32_t>{3, 4}));
    EXPECT_EQ(Segs(1), (SegV{{500, 3}, {503, 4}}));
    EXPECT_EQ(kmm->mem[503].integer.value, 42u);

    asked.answer = -1;
    const SegV freeBefore = FreeAreas();
    EXPECT_EQ(Load(2, kSmallOk, 0), ERR_INSUFFICIENTMEM);
    EXPECT_EQ(asked.calls, 2);
    EXPECT_FALSE(Exists(2));
    EXPECT_EQ(FreeAreas(), freeBefore);

    EXPECT_EQ(Load(3, "8585\n2\n3\n", 0), ERR_INVALIDINSTRUCTION);
    EXPECT_EQ(asked.calls, 2);
    kmm->placer = nullptr;
}
