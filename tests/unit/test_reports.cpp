// Unit tests for the stores (integer and string into a process's data
// segments) and the printed reports: process table, one process's memory,
// all memory, and the one-cell line behind the memory reports.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "KelMem.h"
#include "test_util.h"

namespace {

using Areas = std::vector<std::pair<int32_t, int32_t>>;

const std::string kFrame = "+--------------------------------------------------\n";
const std::string kTableHead = kFrame + "| Process Table:\n" +
                               "|  PID #SEG SEG1 LEN1 SEG2 LEN2 SEG3 LEN3 SEG4 LEN4\n" +
                               "|  --- ---- ---- ---- ---- ---- ---- ---- ---- ----\n";
const std::string kMemHead = kFrame + "| Memory Contents:\n";

Areas ListAreas(const SegList* head)
{
    Areas out;
    for (const SegList* n = head; n != nullptr; n = n->next)
        out.emplace_back(n->seg.pos, n->seg.len);
    return out;
}

void PutInstruction(KelMM* kmm, int32_t addr, InstructionType_e ins)
{
    kmm->mem[addr].instruction.type = DATA_INSTRUCTION;
    kmm->mem[addr].instruction.value = ins;
}

void PutInteger(KelMM* kmm, int32_t addr, uint32_t v)
{
    kmm->mem[addr].integer.type = DATA_INTEGER;
    kmm->mem[addr].integer.value = v;
}

void PutString(KelMM* kmm, int32_t addr, const char* s)
{
    kmm->mem[addr].string.type = DATA_STRING;
    std::strcpy(kmm->mem[addr].string.value, s);
}

using Reports = kt_ManagerTest;

// Process 1 at cell 100 with segments of 3 and 4 cells (RUN, RUN, HALT; 7,
// "abc"), process 2 at cell 0 with one segment of 2 cells (RUN, HALT), as a
// load would leave them; then process 1 stores 42 at 105.
class ReportExample : public Reports {
  protected:
    void SetUp() override
    {
        Reports::SetUp();
        const int32_t p1[] = {3, 4};
        ASSERT_EQ(KMM_AllocateProcessAt(kmm, 1, 100, 2, p1), ERR_NONE);
        PutInstruction(kmm, 100, INSTRUCTION_RUN);
        PutInstruction(kmm, 101, INSTRUCTION_RUN);
        PutInstruction(kmm, 102, INSTRUCTION_HALT);
        PutInteger(kmm, 103, 7);
        PutString(kmm, 104, "abc");
        const int32_t p2[] = {2};
        ASSERT_EQ(KMM_AllocateProcessAt(kmm, 2, 0, 1, p2), ERR_NONE);
        PutInstruction(kmm, 0, INSTRUCTION_RUN);
        PutInstruction(kmm, 1, INSTRUCTION_HALT);
        ASSERT_EQ(KMM_StoreInteger(kmm, 1, 105, 42), ERR_NONE);
    }
};

const std::string kExampleTable = kTableHead +
                                  "|   P1    2  100    3  103    4\n"
                                  "|   P2    1    0    2\n" +
                                  kFrame;

const std::string kExampleP1 = kMemHead +
                               "|  100 RUN\n"
                               "|  101 RUN\n"
                               "|  102 HALT\n"
                               "|  103 7\n"
                               "|  104 abc\n"
                               "|  105 42\n" +
                               kFrame;

const std::string kExampleAll = kMemHead +
                                "|    0 RUN\n"
                                "|    1 HALT\n"
                                "|  100 RUN\n"
                                "|  101 RUN\n"
                                "|  102 HALT\n"
                                "|  103 7\n"
                                "|  104 abc\n"
                                "|  105 42\n" +
                                kFrame;

} // namespace

// worked example

TEST_F(ReportExample, StoreResults)
{
    EXPECT_EQ(kmm->mem[105].type, DATA_INTEGER);
    EXPECT_EQ(kmm->mem[105].integer.value, 42u);
    EXPECT_EQ(KMM_StoreInteger(kmm, 1, 100, 1), ERR_INVALIDADDRESS); // first segment
    EXPECT_EQ(KMM_StoreInteger(kmm, 1, 107, 1), ERR_INVALIDADDRESS); // outside every segment
    EXPECT_EQ(KMM_StoreInteger(kmm, 3, 105, 1), ERR_NOPROCESS);
    EXPECT_EQ(KMM_StoreInteger(kmm, 2, 0, 1), ERR_INVALIDADDRESS); // its only segment is its first
    EXPECT_EQ(KMM_StoreInteger(kmm, 2, 1, 1), ERR_INVALIDADDRESS);
    EXPECT_EQ(KMM_StoreString(kmm, 1, 100, "x"), ERR_INVALIDADDRESS);
    EXPECT_EQ(KMM_StoreString(kmm, 1, 107, "x"), ERR_INVALIDADDRESS);
    EXPECT_EQ(KMM_StoreString(kmm, 3, 105, "x"), ERR_NOPROCESS);
    EXPECT_EQ(KMM_StoreString(kmm, 2, 0, "x"), ERR_INVALIDADDRESS);
    // The failed stores wrote nothing.
    EXPECT_EQ(kmm->mem[100].type, DATA_INSTRUCTION);
    EXPECT_EQ(kmm->mem[100].instruction.value, INSTRUCTION_RUN);
    EXPECT_EQ(kmm->mem[107].type, DATA_MAGIC);
    EXPECT_EQ(kmm->mem[0].type, DATA_INSTRUCTION);
    EXPECT_EQ(kmm->mem[0].instruction.value, INSTRUCTION_RUN);
    EXPECT_EQ(kmm->mem[105].integer.value, 42u);
}

TEST_F(ReportExample, ProcessTableForEveryExistingAsker)
{
    for (int32_t p : {0, 1, 2}) {
        SCOPED_TRACE(p);
        ErrMessage_t rc = ERR_UNKNOWN;
        const std::string out = kt_Capture([&] { rc = KMM_PrintProcessTable(kmm, p); });
        EXPECT_EQ(rc, ERR_NONE);
        EXPECT_EQ(out, kExampleTable);
    }
}

TEST_F(ReportExample, ProcessTableRefusedToMissingAsker)
{
    ErrMessage_t rc = ERR_NONE;
    const std::string out = kt_Capture([&] { rc = KMM_PrintProcessTable(kmm, 3); });
    EXPECT_EQ(rc, ERR_NOPROCESS);
    EXPECT_EQ(out, "");
}

TEST_F(ReportExample, ProcessMemory)
{
    ErrMessage_t rc = ERR_UNKNOWN;
    const std::string out = kt_Capture([&] { rc = KMM_PrintProcessMemory(kmm, 1); });
    EXPECT_EQ(rc, ERR_NONE);
    EXPECT_EQ(out, kExampleP1);

    const std::string out2 = kt_Capture([&] { rc = KMM_PrintProcessMemory(kmm, 2); });
    EXPECT_EQ(rc, ERR_NONE);
    EXPECT_EQ(out2, kMemHead + "|    0 RUN\n|    1 HALT\n" + kFrame);
}

TEST_F(ReportExample, AllMemory)
{
    ErrMessage_t rc = ERR_UNKNOWN;
    const std::string out = kt_Capture([&] { rc = KMM_PrintAllMemory(kmm); });
    EXPECT_EQ(rc, ERR_NONE);
    EXPECT_EQ(out, kExampleAll);
}

TEST_F(ReportExample, PrintingChangesNoList)
{
    const SegList* h1 = kmm->processList[1]->segments;
    const SegList* h2 = kmm->processList[2]->segments;
    const SegList* fr = kmm->memFree;
    const Areas free0 = ListAreas(kmm->memFree);
    kt_Capture([&] {
        KMM_PrintProcessTable(kmm, 0);
        KMM_PrintProcessMemory(kmm, 1);
        KMM_PrintAllMemory(kmm);
    });
    EXPECT_EQ(kmm->processList[1]->segments, h1);
    EXPECT_EQ(kmm->processList[2]->segments, h2);
    EXPECT_EQ(kmm->memFree, fr);
    EXPECT_EQ(ListAreas(kmm->processList[1]->segments), (Areas{{100, 3}, {103, 4}}));
    EXPECT_EQ(ListAreas(kmm->processList[2]->segments), (Areas{{0, 2}}));
    EXPECT_EQ(ListAreas(kmm->memFree), free0);
}

// stores

TEST_F(Reports, StoreBoundsOfTheSecondSegment)
{
    const int32_t sizes[] = {3, 4};
    ASSERT_EQ(KMM_AllocateProcessAt(kmm, 1, 100, 2, sizes), ERR_NONE);
    EXPECT_EQ(KMM_StoreInteger(kmm, 1, 103, 1), ERR_NONE); // first cell
    EXPECT_EQ(KMM_StoreInteger(kmm, 1, 106, 2), ERR_NONE); // last cell
    EXPECT_EQ(KMM_StoreInteger(kmm, 1, 107, 3), ERR_INVALIDADDRESS);
    EXPECT_EQ(KMM_StoreInteger(kmm, 1, 102, 3), ERR_INVALIDADDRESS);
    EXPECT_EQ(kmm->mem[106].integer.value, 2u);
    EXPECT_EQ(kmm->mem[107].type, DATA_MAGIC);
    EXPECT_EQ(kmm->mem[102].type, DATA_ERROR);
}

TEST_F(Reports, StoreIntoALaterSegment)
{
    const int32_t sizes[] = {2, 3, 2};
    ASSERT_EQ(KMM_AllocateProcessAt(kmm, 4, 300, 3, sizes), ERR_NONE);
    // Cell 305 is the first cell of the third segment, right after the second.
    EXPECT_EQ(KMM_StoreInteger(kmm, 4, 305, 11), ERR_NONE);
    EXPECT_EQ(KMM_StoreString(kmm, 4, 306, "z"), ERR_NONE);
    EXPECT_EQ(KMM_StoreInteger(kmm, 4, 307, 11), ERR_INVALIDADDRESS);
    EXPECT_EQ(KMM_StoreInteger(kmm, 4, 301, 11), ERR_INVALIDADDRESS);
    EXPECT_EQ(kmm->mem[305].type, DATA_INTEGER);
    EXPECT_EQ(kmm->mem[305].integer.value, 11u);
    EXPECT_EQ(kmm->mem[306].type, DATA_STRING);
    EXPECT_STREQ(kmm->mem[306].string.value, "z");
}

TEST_F(Reports, StoreIntoASegmentPlacedBelowTheFirst)
{
    // First fit can place the second segment below the first one.
    const int32_t block[] = {45};
    ASSERT_EQ(KMM_AllocateProcessAt(kmm, 0, 5, 1, block), ERR_NONE);
    const int32_t sizes[] = {10, 5};
    ASSERT_EQ(KMM_AllocateProcess(kmm, 1, 2, sizes), static_cast<uint32_t>(ERR_NONE));
    ASSERT_EQ(ListAreas(kmm->processList[1]->segments), (Areas{{50, 10}, {0, 5}}));
    EXPECT_EQ(KMM_StoreInteger(kmm, 1, 0, 5), ERR_NONE);
    EXPECT_EQ(KMM_StoreInteger(kmm, 1, 50, 5), ERR_INVALIDADDRESS);
}

TEST_F(Reports, StoreWithNoProcessOrBadArguments)
{
    EXPECT_EQ(KMM_StoreInteger(kmm, 0, 0, 1), ERR_NOPROCESS);
    EXPECT_EQ(KMM_StoreString(kmm, 9, 0, "a"), ERR_NOPROCESS);
    EXPECT_EQ(KMM_StoreInteger(kmm, -1, 0, 1), ERR_UNKNOWN);
    EXPECT_EQ(KMM_StoreInteger(kmm, 10, 0, 1), ERR_UNKNOWN);
    EXPECT_EQ(KMM_StoreString(kmm, -1, 0, "a"), ERR_UNKNOWN);
    EXPECT_EQ(KMM_StoreString(kmm, 10, 0, "a"), ERR_UNKNOWN);
    EXPECT_EQ(KMM_StoreInteger(nullptr, 1, 0, 1), ERR_UNKNOWN);
    EXPECT_EQ(KMM_StoreString(nullptr, 1, 0, "a"), ERR_UNKNOWN);
    EXPECT_EQ(kmm->mem[0].type, DATA_MAGIC);
}

TEST_F(Reports, TwentyCharacterStringIsStoredWhole)
{
    const int32_t sizes[] = {1, 2};
    ASSERT_EQ(KMM_AllocateProcessAt(kmm, 1, 10, 2, sizes), ERR_NONE);
    const char* twenty = "abcdefghijklmnopqrst";
    ASSERT_EQ(std::strlen(twenty), 20u);
    EXPECT_EQ(KMM_StoreString(kmm, 1, 11, twenty), ERR_NONE);
    EXPECT_EQ(kmm->mem[11].type, DATA_STRING);
    EXPECT_STREQ(kmm->mem[11].string.value, twenty);
    EXPECT_EQ(kmm->mem[11].string.value[20], '\0');
    const std::string out = kt_Capture([&] { KMM_PrintMem(kmm, 11); });
    EXPECT_EQ(out, "|   11 abcdefghijklmnopqrst\n");
}

TEST_F(Reports, LongerStringIsRefusedAndWritesNothing)
{
    const int32_t sizes[] = {1, 2};
    ASSERT_EQ(KMM_AllocateProcessAt(kmm, 1, 10, 2, sizes), ERR_NONE);
    ASSERT_EQ(KMM_StoreInteger(kmm, 1, 11, 123), ERR_NONE);
    EXPECT_EQ(KMM_StoreString(kmm, 1, 11, "abcdefghijklmnopqrstu"), ERR_UNKNOWN);
    EXPECT_EQ(kmm->mem[11].type, DATA_INTEGER);
    EXPECT_EQ(kmm->mem[11].integer.value, 123u);
    EXPECT_EQ(KMM_StoreString(kmm, 1, 12, "abcdefghijklmnopqrstuvwxyz0123456789"), ERR_UNKNOWN);
    EXPECT_EQ(kmm->mem[12].type, DATA_ERROR);
}

TEST_F(Reports, StoreReplacesWhateverTheCellHeld)
{
    const int32_t sizes[] = {1, 1};
    ASSERT_EQ(KMM_AllocateProcessAt(kmm, 1, 10, 2, sizes), ERR_NONE);
    auto cell = [&] { return kt_Capture([&] { KMM_PrintProcessMemory(kmm, 1); }); };

    ASSERT_EQ(KMM_StoreInteger(kmm, 1, 11, 5), ERR_NONE);
    EXPECT_EQ(cell(), kMemHead + "|   11 5\n" + kFrame);
    ASSERT_EQ(KMM_StoreString(kmm, 1, 11, "a longer string"), ERR_NONE);
    EXPECT_EQ(cell(), kMemHead + "|   11 a longer string\n" + kFrame);
    ASSERT_EQ(KMM_StoreString(kmm, 1, 11, "ab"), ERR_NONE);
    EXPECT_EQ(cell(), kMemHead + "|   11 ab\n" + kFrame);
    ASSERT_EQ(KMM_StoreInteger(kmm, 1, 11, 6), ERR_NONE);
    EXPECT_EQ(kmm->mem[11].type, DATA_INTEGER);
    EXPECT_EQ(cell(), kMemHead + "|   11 6\n" + kFrame);
    ASSERT_EQ(KMM_StoreInteger(kmm, 1, 11, 7), ERR_NONE);
    EXPECT_EQ(cell(), kMemHead + "|   11 7\n" + kFrame);
}

TEST_F(Reports, EmptyStringIsStored)
{
    const int32_t sizes[] = {1, 1};
    ASSERT_EQ(KMM_AllocateProcessAt(kmm, 1, 10, 2, sizes), ERR_NONE);
    EXPECT_EQ(KMM_StoreString(kmm, 1, 11, ""), ERR_NONE);
    EXPECT_EQ(kmm->mem[11].type, DATA_STRING);
    EXPECT_EQ(kt_Capture([&] { KMM_PrintMem(kmm, 11); }), "|   11 \n");
}

// one cell

TEST_F(Reports, IntegersPrintAsSignedDecimal)
{
    const int32_t sizes[] = {1, 4};
    ASSERT_EQ(KMM_AllocateProcessAt(kmm, 1, 0, 2, sizes), ERR_NONE);
    ASSERT_EQ(KMM_StoreInteger(kmm, 1, 1, 4294967295u), ERR_NONE);
    ASSERT_EQ(KMM_StoreInteger(kmm, 1, 2, 2147483648u), ERR_NONE);
    ASSERT_EQ(KMM_StoreInteger(kmm, 1, 3, 2147483647u), ERR_NONE);
    ASSERT_EQ(KMM_StoreInteger(kmm, 1, 4, 0u), ERR_NONE);
    EXPECT_EQ(kmm->mem[1].integer.value, 4294967295u);
    EXPECT_EQ(kt_Capture([&] { KMM_PrintMem(kmm, 1); }), "|    1 -1\n");
    EXPECT_EQ(kt_Capture([&] { KMM_PrintMem(kmm, 2); }), "|    2 -2147483648\n");
    EXPECT_EQ(kt_Capture([&] { KMM_PrintMem(kmm, 3); }), "|    3 2147483647\n");
    EXPECT_EQ(kt_Capture([&] { KMM_PrintMem(kmm, 4); }), "|    4 0\n");
}

TEST_F(Reports, CellLineForEachKind)
{
    const int32_t sizes[] = {3, 2};
    ASSERT_EQ(KMM_AllocateProcessAt(kmm, 1, 995, 2, sizes), ERR_NONE);
    PutInstruction(kmm, 995, INSTRUCTION_RUN);
    PutInstruction(kmm, 996, INSTRUCTION_HALT);
    PutString(kmm, 998, "hello world");
    PutInteger(kmm, 999, 31);
    EXPECT_EQ(kt_Capture([&] { KMM_PrintMem(kmm, 995); }), "|  995 RUN\n");
    EXPECT_EQ(kt_Capture([&] { KMM_PrintMem(kmm, 996); }), "|  996 HALT\n");
    EXPECT_EQ(kt_Capture([&] { KMM_PrintMem(kmm, 997); }), ""); // empty cell
    EXPECT_EQ(kt_Capture([&] { KMM_PrintMem(kmm, 998); }), "|  998 hello world\n");
    EXPECT_EQ(kt_Capture([&] { KMM_PrintMem(kmm, 999); }), "|  999 31\n");
}

TEST_F(Reports, NeverAllocatedCellAsksForAReport)
{
    const std::string out = kt_Capture([&] { KMM_PrintMem(kmm, 5); });
    const std::string prefix = "|    5 Unknown mem type 0, ";
    ASSERT_GT(out.size(), prefix.size());
    EXPECT_EQ(out.substr(0, prefix.size()), prefix);
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(out.find('\n'), out.size() - 1) << "more than one line: " << out;
}

TEST_F(Reports, UnknownTagIsNamedInTheLine)
{
    kmm->mem[7].type = static_cast<DataType_e>(9);
    const std::string out = kt_Capture([&] { KMM_PrintMem(kmm, 7); });
    const std::string prefix = "|    7 Unknown mem type 9, ";
    EXPECT_EQ(out.substr(0, prefix.size()), prefix);
    EXPECT_EQ(out.find('\n'), out.size() - 1);
}

TEST(ReportsNull, NullManagerIsRefusedAndPrintsNothing)
{
    ErrMessage_t a = ERR_NONE;
    ErrMessage_t b = ERR_NONE;
    ErrMessage_t c = ERR_NONE;
    const std::string out = kt_Capture([&] {
        KMM_PrintMem(nullptr, 0);
        a = KMM_PrintProcessTable(nullptr, 0);
        b = KMM_PrintProcessMemory(nullptr, 0);
        c = KMM_PrintAllMemory(nullptr);
    });
    EXPECT_EQ(out, "");
    EXPECT_EQ(a, ERR_UNKNOWN);
    EXPECT_EQ(b, ERR_UNKNOWN);
    EXPECT_EQ(c, ERR_UNKNOWN);
}

// process table

TEST_F(Reports, EmptyTableForProcessZero)
{
    ErrMessage_t rc = ERR_UNKNOWN;
    const std::string out = kt_Capture([&] { rc = KMM_PrintProcessTable(kmm, 0); });
    EXPECT_EQ(rc, ERR_NONE);
    EXPECT_EQ(out, kTableHead + kFrame);
}

// A refused report returns its code and prints nothing.
static void ExpectRefused(ErrMessage_t (*report)(KelMM*, int32_t), KelMM* kmm, int32_t process,
                          ErrMessage_t code)
{
    ErrMessage_t rc = ERR_NONE;
    const std::string out = kt_Capture([&] { rc = report(kmm, process); });
    EXPECT_EQ(rc, code) << "process " << process;
    EXPECT_EQ(out, "") << "process " << process;
}

TEST_F(Reports, TableRefusedToMissingOrInvalidProcess)
{
    ExpectRefused(KMM_PrintProcessTable, kmm, 5, ERR_NOPROCESS);
    ExpectRefused(KMM_PrintProcessTable, kmm, -1, ERR_UNKNOWN);
    ExpectRefused(KMM_PrintProcessTable, kmm, 10, ERR_UNKNOWN);
}

TEST_F(Reports, TableShowsAtMostFourSegmentsInSlotOrder)
{
    const int32_t five[] = {1, 2, 3, 4, 5};
    ASSERT_EQ(KMM_AllocateProcessAt(kmm, 9, 300, 5, five), ERR_NONE);
    const int32_t one[] = {10};
    ASSERT_EQ(KMM_AllocateProcessAt(kmm, 0, 990, 1, one), ERR_NONE);
    const int32_t four[] = {1, 1, 1, 1};
    ASSERT_EQ(KMM_AllocateProcessAt(kmm, 5, 7, 4, four), ERR_NONE);
    ErrMessage_t rc = ERR_UNKNOWN;
    const std::string out = kt_Capture([&] { rc = KMM_PrintProcessTable(kmm, 5); });
    EXPECT_EQ(rc, ERR_NONE);
    EXPECT_EQ(out, kTableHead +
                       "|   P0    1  990   10\n"
                       "|   P5    4    7    1    8    1    9    1   10    1\n"
                       "|   P9    4  300    1  301    2  303    3  306    4\n" +
                       kFrame);
}

// process memory

TEST_F(Reports, ProcessMemoryRefusals)
{
    ExpectRefused(KMM_PrintProcessMemory, kmm, 0, ERR_NOPROCESS);
    ExpectRefused(KMM_PrintProcessMemory, kmm, -1, ERR_UNKNOWN);
    ExpectRefused(KMM_PrintProcessMemory, kmm, 10, ERR_UNKNOWN);
}

TEST_F(Reports, ProcessWithOnlyEmptyCellsPrintsFrameAndTitle)
{
    const int32_t sizes[] = {3, 4};
    ASSERT_EQ(KMM_AllocateProcessAt(kmm, 2, 50, 2, sizes), ERR_NONE);
    ErrMessage_t rc = ERR_UNKNOWN;
    std::string out = kt_Capture([&] { rc = KMM_PrintProcessMemory(kmm, 2); });
    EXPECT_EQ(rc, ERR_NONE);
    EXPECT_EQ(out, kMemHead + kFrame);
    out = kt_Capture([&] { rc = KMM_PrintAllMemory(kmm); });
    EXPECT_EQ(rc, ERR_NONE);
    EXPECT_EQ(out, kMemHead + kFrame);
}

TEST_F(Reports, ProcessMemoryFollowsListOrderAllMemoryFollowsAddresses)
{
    const int32_t block[] = {45};
    ASSERT_EQ(KMM_AllocateProcessAt(kmm, 0, 5, 1, block), ERR_NONE);
    PutInteger(kmm, 20, 20);
    const int32_t sizes[] = {10, 5};
    ASSERT_EQ(KMM_AllocateProcess(kmm, 1, 2, sizes), static_cast<uint32_t>(ERR_NONE));
    ASSERT_EQ(ListAreas(kmm->processList[1]->segments), (Areas{{50, 10}, {0, 5}}));
    PutInstruction(kmm, 50, INSTRUCTION_HALT);
    PutInteger(kmm, 59, 59);
    PutInteger(kmm, 0, 1);
    PutString(kmm, 4, "four");

    std::string out = kt_Capture([&] { KMM_PrintProcessMemory(kmm, 1); });
    EXPECT_EQ(out, kMemHead +
                       "|   50 HALT\n"
                       "|   59 59\n"
                       "|    0 1\n"
                       "|    4 four\n" +
                       kFrame);

    const SegList* head1 = kmm->processList[1]->segments;
    out = kt_Capture([&] { KMM_PrintAllMemory(kmm); });
    EXPECT_EQ(out, kMemHead +
                       "|    0 1\n"
                       "|    4 four\n"
                       "|   20 20\n"
                       "|   50 HALT\n"
                       "|   59 59\n" +
                       kFrame);
    // Only a copy was sorted.
    EXPECT_EQ(kmm->processList[1]->segments, head1);
    EXPECT_EQ(ListAreas(kmm->processList[1]->segments), (Areas{{50, 10}, {0, 5}}));
    EXPECT_EQ(ListAreas(kmm->processList[0]->segments), (Areas{{5, 45}}));
}

TEST_F(Reports, CellsOfAnEndedProcessAreNotShown)
{
    const int32_t sizes[] = {2, 2};
    ASSERT_EQ(KMM_AllocateProcessAt(kmm, 3, 10, 2, sizes), ERR_NONE);
    PutInstruction(kmm, 10, INSTRUCTION_RUN);
    ASSERT_EQ(KMM_StoreInteger(kmm, 3, 12, 8), ERR_NONE);
    ASSERT_EQ(KMM_TerminateProcess(kmm, 3), ERR_NONE);
    EXPECT_EQ(kmm->mem[12].type, DATA_INTEGER); // the value stays in the cell
    ErrMessage_t rc = ERR_UNKNOWN;
    const std::string out = kt_Capture([&] { rc = KMM_PrintAllMemory(kmm); });
    EXPECT_EQ(rc, ERR_NONE);
    EXPECT_EQ(out, kMemHead + kFrame);
    EXPECT_EQ(KMM_StoreInteger(kmm, 3, 12, 9), ERR_NOPROCESS);
}

// all memory

TEST_F(Reports, AllMemoryWithNoProcess)
{
    ErrMessage_t rc = ERR_UNKNOWN;
    const std::string out = kt_Capture([&] { rc = KMM_PrintAllMemory(kmm); });
    EXPECT_EQ(rc, ERR_NONE);
    EXPECT_EQ(out, kMemHead + kFrame);
}

TEST_F(Reports, AllMemoryInterleavesProcessesByAddress)
{
    const int32_t a[] = {1, 1};
    const int32_t b[] = {1, 1};
    const int32_t c[] = {2};
    ASSERT_EQ(KMM_AllocateProcessAt(kmm, 7, 500, 2, a), ERR_NONE);
    ASSERT_EQ(KMM_AllocateProcessAt(kmm, 2, 600, 2, b), ERR_NONE);
    ASSERT_EQ(KMM_AllocateProcessAt(kmm, 4, 502, 1, c), ERR_NONE);
    PutInteger(kmm, 500, 1);
    PutInteger(kmm, 501, 2);
    PutInteger(kmm, 502, 3);
    PutInteger(kmm, 503, 4);
    PutInteger(kmm, 600, 5);
    PutInteger(kmm, 601, 6);
    const std::string out = kt_Capture([&] { KMM_PrintAllMemory(kmm); });
    EXPECT_EQ(out, kMemHead +
                       "|  500 1\n"
                       "|  501 2\n"
                       "|  502 3\n"
                       "|  503 4\n"
                       "|  600 5\n"
                       "|  601 6\n" +
                       kFrame);
}
