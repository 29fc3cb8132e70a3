// Unit tests for the manager's creation and release and for reserving and
// giving back segments and processes.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "KelMem.h"
#include "test_util.h"

namespace {

using Areas = std::vector<std::pair<int32_t, int32_t>>;

const int32_t kMaxInt = INT32_MAX;

// Owns a manager for the length of a test, so that it is released even when
// an assertion ends the test early.
struct Mgr {
    KelMM* k;
    explicit Mgr(int32_t size) : k(KMM_Create(size)) {}
    ~Mgr()
    {
        if (k != nullptr) {
            KMM_Free(k);
            std::free(k);
        }
    }
    Mgr(const Mgr&) = delete;
    Mgr& operator=(const Mgr&) = delete;
};

// The areas of a list from the node given (which must be the head) along next.
Areas ListAreas(const SegList* head)
{
    Areas out;
    if (head != nullptr) {
        EXPECT_EQ(head->prev, nullptr) << "list is not held by its head";
    }
    const SegList* prev = nullptr;
    for (const SegList* n = head; n != nullptr; n = n->next) {
        EXPECT_EQ(n->prev, prev);
        out.emplace_back(n->seg.pos, n->seg.len);
        prev = n;
    }
    return out;
}

Areas FreeAreas(const KelMM* kmm)
{
    return ListAreas(kmm->memFree);
}

Areas Segs(const KelMM* kmm, int32_t id)
{
    const Process* p = kmm->processList[id];
    EXPECT_NE(p, nullptr) << "no process in slot " << id;
    if (p == nullptr)
        return {};
    EXPECT_EQ(p->ID, id);
    return ListAreas(p->segments);
}

// Number of cells in [from, to) whose tag is not `tag`.
int32_t CellsNotTagged(const KelMM* kmm, int32_t from, int32_t to, int32_t tag)
{
    int32_t bad = 0;
    for (int32_t i = from; i < to; ++i)
        if (kmm->mem[i].type != tag)
            ++bad;
    return bad;
}

bool AllSlotsEmpty(const KelMM* kmm)
{
    for (const Process* p : kmm->processList)
        if (p != nullptr)
            return false;
    return true;
}

const Areas kWhole = {{0, 1000}};

} // namespace

// create

TEST(ManagerCreate, FreshManagerState)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    EXPECT_TRUE(AllSlotsEmpty(m.k));
    EXPECT_EQ(m.k->memSize, 1000);
    ASSERT_NE(m.k->mem, nullptr);
    ASSERT_NE(m.k->memFree, nullptr);
    EXPECT_EQ(FreeAreas(m.k), kWhole);
    EXPECT_EQ(CellsNotTagged(m.k, 0, 1000, DATA_MAGIC), 0);
    // The cells are filled with zero bytes, values included.
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(m.k->mem);
    size_t nonzero = 0;
    for (size_t i = 0; i < 1000 * sizeof(KelMem); ++i)
        if (bytes[i] != 0)
            ++nonzero;
    EXPECT_EQ(nonzero, 0u);
}

TEST(ManagerCreate, SingleCell)
{
    Mgr m(1);
    ASSERT_NE(m.k, nullptr);
    EXPECT_EQ(m.k->memSize, 1);
    EXPECT_EQ(FreeAreas(m.k), (Areas{{0, 1}}));
}

TEST(ManagerCreate, SizeBelowOneIsRefused)
{
    EXPECT_EQ(KMM_Create(0), nullptr);
    EXPECT_EQ(KMM_Create(-1), nullptr);
    EXPECT_EQ(KMM_Create(INT32_MIN), nullptr);
}

// segment at a position

TEST(SegmentAt, EndingAtTheLastCellIsAccepted)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, 990, 10), ERR_NONE);
    EXPECT_EQ(FreeAreas(m.k), (Areas{{0, 990}}));
    EXPECT_EQ(CellsNotTagged(m.k, 990, 1000, DATA_ERROR), 0);
    EXPECT_EQ(CellsNotTagged(m.k, 0, 990, DATA_MAGIC), 0);
}

TEST(SegmentAt, EndingPastTheLastCellIsRefused)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, 991, 10), ERR_INSUFFICIENTMEM);
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, 0, 1001), ERR_INSUFFICIENTMEM);
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, 1000, 1), ERR_INSUFFICIENTMEM);
    EXPECT_EQ(FreeAreas(m.k), kWhole);
    EXPECT_EQ(CellsNotTagged(m.k, 0, 1000, DATA_MAGIC), 0);
}

TEST(SegmentAt, HugeSizesAreRefusedWithoutOverflow)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, 10, kMaxInt), ERR_INSUFFICIENTMEM);
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, 999, kMaxInt), ERR_INSUFFICIENTMEM);
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, kMaxInt, 1), ERR_INSUFFICIENTMEM);
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, kMaxInt, kMaxInt), ERR_INSUFFICIENTMEM);
    EXPECT_EQ(FreeAreas(m.k), kWhole);
    EXPECT_EQ(CellsNotTagged(m.k, 0, 1000, DATA_MAGIC), 0);
}

TEST(SegmentAt, NegativePositionOrSizeIsUnknown)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, -5, 10), ERR_UNKNOWN);
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, -1, 1), ERR_UNKNOWN);
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, 100, -1), ERR_UNKNOWN);
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, 100, INT32_MIN), ERR_UNKNOWN);
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, INT32_MIN, 5), ERR_UNKNOWN);
    EXPECT_EQ(FreeAreas(m.k), kWhole);
    EXPECT_EQ(CellsNotTagged(m.k, 0, 1000, DATA_MAGIC), 0);
}

TEST(SegmentAt, ZeroSizeCoversNoCell)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, 500, 0), ERR_NONE);
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, 0, 0), ERR_NONE);
    EXPECT_EQ(FreeAreas(m.k), kWhole);
    EXPECT_EQ(CellsNotTagged(m.k, 0, 1000, DATA_MAGIC), 0);
}

TEST(SegmentAt, TouchingSegmentsOfProcessesAreAcceptedOverlapIsNot)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t s10[] = {10};
    const int32_t s5[] = {5};
    ASSERT_EQ(KMM_AllocateProcessAt(m.k, 1, 100, 1, s10), ERR_NONE);
    ASSERT_EQ(KMM_AllocateProcessAt(m.k, 2, 110, 1, s5), ERR_NONE);
    const Areas before = FreeAreas(m.k);
    EXPECT_EQ(before, (Areas{{0, 100}, {115, 885}}));

    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, 105, 10), ERR_INSUFFICIENTMEM);
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, 114, 1), ERR_INSUFFICIENTMEM);
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, 90, 11), ERR_INSUFFICIENTMEM);
    EXPECT_EQ(FreeAreas(m.k), before);

    // Touching from below and from above is fine.
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, 90, 10), ERR_NONE);
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, 115, 5), ERR_NONE);
    EXPECT_EQ(FreeAreas(m.k), (Areas{{0, 90}, {120, 880}}));
}

TEST(SegmentAt, OwnershipDecidesNotTheFreeList)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    ASSERT_EQ(KMM_AllocateSegment(m.k, 10), 0);
    EXPECT_EQ(FreeAreas(m.k), (Areas{{10, 990}}));
    // Cells 0-9 are off the free list but owned by no process.
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, 0, 10), ERR_NONE);
    EXPECT_EQ(FreeAreas(m.k), (Areas{{10, 990}}));
    EXPECT_EQ(CellsNotTagged(m.k, 0, 10, DATA_ERROR), 0);
}

TEST(SegmentAt, WritesOnlyTheTag)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    m.k->mem[5].integer.type = DATA_INTEGER;
    m.k->mem[5].integer.value = 77;
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, 5, 1), ERR_NONE);
    EXPECT_EQ(m.k->mem[5].type, DATA_ERROR);
    EXPECT_EQ(m.k->mem[5].integer.value, 77u);
    EXPECT_EQ(m.k->mem[4].type, DATA_MAGIC);
    EXPECT_EQ(m.k->mem[6].type, DATA_MAGIC);
    EXPECT_EQ(FreeAreas(m.k), (Areas{{0, 5}, {6, 994}}));
}

TEST(SegmentAt, TakingTheWholeMemoryEmptiesTheFreeList)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    EXPECT_EQ(KMM_AllocateSegmentAt(m.k, 0, 1000), ERR_NONE);
    EXPECT_EQ(m.k->memFree, nullptr);
    EXPECT_EQ(CellsNotTagged(m.k, 0, 1000, DATA_ERROR), 0);
}

// first-fit segment

TEST(SegmentFirstFit, LowestAreaLongEnough)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    ASSERT_EQ(KMM_AllocateSegmentAt(m.k, 5, 45), ERR_NONE);
    ASSERT_EQ(FreeAreas(m.k), (Areas{{0, 5}, {50, 950}}));
    EXPECT_EQ(KMM_AllocateSegment(m.k, 10), 50);
    EXPECT_EQ(FreeAreas(m.k), (Areas{{0, 5}, {60, 940}}));
    EXPECT_EQ(CellsNotTagged(m.k, 50, 60, DATA_ERROR), 0);
    EXPECT_EQ(m.k->mem[60].type, DATA_MAGIC);
    EXPECT_EQ(KMM_AllocateSegment(m.k, 5), 0);
    EXPECT_EQ(FreeAreas(m.k), (Areas{{60, 940}}));
    EXPECT_EQ(CellsNotTagged(m.k, 0, 5, DATA_ERROR), 0);
}

TEST(SegmentFirstFit, WorkedAreas)
{
    // Free areas (0,5) and (50,100) in a memory of 150 cells.
    Mgr m(150);
    ASSERT_NE(m.k, nullptr);
    ASSERT_EQ(KMM_AllocateSegmentAt(m.k, 5, 45), ERR_NONE);
    ASSERT_EQ(FreeAreas(m.k), (Areas{{0, 5}, {50, 100}}));
    EXPECT_EQ(KMM_AllocateSegment(m.k, 10), 50);
    EXPECT_EQ(FreeAreas(m.k), (Areas{{0, 5}, {60, 90}}));
    EXPECT_EQ(KMM_AllocateSegment(m.k, 5), 0);
    EXPECT_EQ(FreeAreas(m.k), (Areas{{60, 90}}));
}

TEST(SegmentFirstFit, NoAreaLongEnoughGivesMinusOne)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    EXPECT_EQ(KMM_AllocateSegment(m.k, 1001), -1);
    EXPECT_EQ(KMM_AllocateSegment(m.k, kMaxInt), -1);
    EXPECT_EQ(FreeAreas(m.k), kWhole);
    EXPECT_EQ(CellsNotTagged(m.k, 0, 1000, DATA_MAGIC), 0);

    ASSERT_EQ(KMM_AllocateSegmentAt(m.k, 0, 1000), ERR_NONE);
    ASSERT_EQ(m.k->memFree, nullptr);
    EXPECT_EQ(KMM_AllocateSegment(m.k, 1), -1);
    EXPECT_EQ(m.k->memFree, nullptr);
}

TEST(SegmentFirstFit, NegativeSizeGivesMinusOne)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    EXPECT_EQ(KMM_AllocateSegment(m.k, -1), -1);
    EXPECT_EQ(KMM_AllocateSegment(m.k, INT32_MIN), -1);
    EXPECT_EQ(FreeAreas(m.k), kWhole);
    EXPECT_EQ(CellsNotTagged(m.k, 0, 1000, DATA_MAGIC), 0);
}

TEST(SegmentFirstFit, WholeMemory)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    EXPECT_EQ(KMM_AllocateSegment(m.k, 1000), 0);
    EXPECT_EQ(m.k->memFree, nullptr);
    EXPECT_EQ(CellsNotTagged(m.k, 0, 1000, DATA_ERROR), 0);
}

// free segment

TEST(SegmentFree, OnlyAnExactlyOwnedSegmentIsAccepted)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t sizes[] = {3, 2};
    ASSERT_EQ(KMM_AllocateProcessAt(m.k, 4, 100, 2, sizes), ERR_NONE);
    const Areas before = FreeAreas(m.k);
    EXPECT_EQ(KMM_FreeSegment(m.k, 100, 2), ERR_UNKNOWN);
    EXPECT_EQ(KMM_FreeSegment(m.k, 100, 5), ERR_UNKNOWN);
    EXPECT_EQ(KMM_FreeSegment(m.k, 101, 2), ERR_UNKNOWN);
    EXPECT_EQ(KMM_FreeSegment(m.k, 500, 10), ERR_UNKNOWN);
    EXPECT_EQ(FreeAreas(m.k), before);
    EXPECT_EQ(Segs(m.k, 4), (Areas{{100, 3}, {103, 2}}));
}

TEST(SegmentFree, GivesTheAreaBackButLeavesOwnerAndCells)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t sizes[] = {3, 2};
    ASSERT_EQ(KMM_AllocateProcessAt(m.k, 4, 100, 2, sizes), ERR_NONE);
    m.k->mem[103].integer.type = DATA_INTEGER;
    m.k->mem[103].integer.value = 9;
    EXPECT_EQ(KMM_FreeSegment(m.k, 103, 2), ERR_NONE);
    EXPECT_EQ(FreeAreas(m.k), (Areas{{0, 100}, {103, 897}}));
    EXPECT_EQ(Segs(m.k, 4), (Areas{{100, 3}, {103, 2}}));
    EXPECT_EQ(m.k->mem[103].type, DATA_INTEGER);
    EXPECT_EQ(m.k->mem[103].integer.value, 9u);
    EXPECT_EQ(m.k->mem[104].type, DATA_ERROR);
}

TEST(SegmentFree, AreaAlreadyFreeIsRefusedSilently)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t sizes[] = {3};
    ASSERT_EQ(KMM_AllocateProcessAt(m.k, 0, 100, 1, sizes), ERR_NONE);
    ASSERT_EQ(KMM_FreeSegment(m.k, 100, 3), ERR_NONE);
    ASSERT_EQ(FreeAreas(m.k), kWhole);
    EXPECT_EQ(KMM_FreeSegment(m.k, 100, 3), ERR_NONE);
    EXPECT_EQ(FreeAreas(m.k), kWhole);
}

TEST(SegmentFree, EmptyFreeListBecomesTheArea)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t sizes[] = {400, 600};
    ASSERT_EQ(KMM_AllocateProcessAt(m.k, 2, 0, 2, sizes), ERR_NONE);
    ASSERT_EQ(m.k->memFree, nullptr);
    EXPECT_EQ(KMM_FreeSegment(m.k, 400, 600), ERR_NONE);
    EXPECT_EQ(FreeAreas(m.k), (Areas{{400, 600}}));
    EXPECT_EQ(KMM_FreeSegment(m.k, 0, 400), ERR_NONE);
    EXPECT_EQ(FreeAreas(m.k), kWhole);
}

// process at a position

TEST(ProcessAt, SegmentsLieBackToBack)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t sizes[] = {3, 2};
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 1, 100, 2, sizes), ERR_NONE);
    EXPECT_EQ(Segs(m.k, 1), (Areas{{100, 3}, {103, 2}}));
    EXPECT_EQ(FreeAreas(m.k), (Areas{{0, 100}, {105, 895}}));
    EXPECT_EQ(CellsNotTagged(m.k, 100, 105, DATA_ERROR), 0);
    EXPECT_EQ(m.k->mem[99].type, DATA_MAGIC);
    EXPECT_EQ(m.k->mem[105].type, DATA_MAGIC);
    for (int32_t i = 0; i < 10; ++i) {
        if (i != 1) {
            EXPECT_EQ(m.k->processList[i], nullptr);
        }
    }
}

TEST(ProcessAt, FourSegmentsInReservationOrder)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t sizes[] = {10, 1, 20, 5};
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 9, 0, 4, sizes), ERR_NONE);
    EXPECT_EQ(Segs(m.k, 9), (Areas{{0, 10}, {10, 1}, {11, 20}, {31, 5}}));
    EXPECT_EQ(FreeAreas(m.k), (Areas{{36, 964}}));
}

TEST(ProcessAt, IdOutsideTheTableIsUnknown)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t sizes[] = {5};
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, -1, 100, 1, sizes), ERR_UNKNOWN);
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 10, 100, 1, sizes), ERR_UNKNOWN);
    EXPECT_TRUE(AllSlotsEmpty(m.k));
    EXPECT_EQ(FreeAreas(m.k), kWhole);
    EXPECT_EQ(CellsNotTagged(m.k, 0, 1000, DATA_MAGIC), 0);
}

TEST(ProcessAt, OccupiedSlotIsRefused)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t sizes[] = {5};
    ASSERT_EQ(KMM_AllocateProcessAt(m.k, 3, 100, 1, sizes), ERR_NONE);
    const SegList* segs = m.k->processList[3]->segments;
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 3, 500, 1, sizes), ERR_PROCESSEXISTS);
    EXPECT_EQ(m.k->processList[3]->segments, segs);
    EXPECT_EQ(Segs(m.k, 3), (Areas{{100, 5}}));
    EXPECT_EQ(FreeAreas(m.k), (Areas{{0, 100}, {105, 895}}));
    EXPECT_EQ(m.k->mem[500].type, DATA_MAGIC);
}

TEST(ProcessAt, LaterSegmentPastTheEndUndoesEverything)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t sizes[] = {5, 10};
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 1, 990, 2, sizes), ERR_INSUFFICIENTMEM);
    EXPECT_EQ(m.k->processList[1], nullptr);
    EXPECT_EQ(FreeAreas(m.k), kWhole);
}

TEST(ProcessAt, LaterSegmentMeetingAnotherProcessUndoesEverything)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t other[] = {10};
    ASSERT_EQ(KMM_AllocateProcessAt(m.k, 1, 200, 1, other), ERR_NONE);
    const int32_t sizes[] = {5, 10};
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 2, 190, 2, sizes), ERR_INSUFFICIENTMEM);
    EXPECT_EQ(m.k->processList[2], nullptr);
    EXPECT_EQ(FreeAreas(m.k), (Areas{{0, 200}, {210, 790}}));
    EXPECT_EQ(Segs(m.k, 1), (Areas{{200, 10}}));
    // The slot can be used again afterwards.
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 2, 190, 1, sizes), ERR_NONE);
    EXPECT_EQ(Segs(m.k, 2), (Areas{{190, 5}}));
}

TEST(ProcessAt, FirstSegmentOverlappingIsRefused)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t s10[] = {10};
    ASSERT_EQ(KMM_AllocateProcessAt(m.k, 1, 100, 1, s10), ERR_NONE);
    const int32_t s5[] = {5};
    ASSERT_EQ(KMM_AllocateProcessAt(m.k, 2, 110, 1, s5), ERR_NONE);
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 3, 105, 1, s10), ERR_INSUFFICIENTMEM);
    EXPECT_EQ(m.k->processList[3], nullptr);
    EXPECT_EQ(FreeAreas(m.k), (Areas{{0, 100}, {115, 885}}));
}

TEST(ProcessAt, FailureWithEmptyFreeListGivesSegmentsBack)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t first[] = {600};
    ASSERT_EQ(KMM_AllocateProcessAt(m.k, 0, 0, 1, first), ERR_NONE);
    // The first segment takes the last free area; the second runs past the end.
    const int32_t sizes[] = {400, 1};
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 1, 600, 2, sizes), ERR_INSUFFICIENTMEM);
    EXPECT_EQ(m.k->processList[1], nullptr);
    EXPECT_EQ(FreeAreas(m.k), (Areas{{600, 400}}));
}

TEST(ProcessAt, HugeSizesAreRefusedWithoutOverflow)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t one[] = {kMaxInt};
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 1, 10, 1, one), ERR_INSUFFICIENTMEM);
    const int32_t two[] = {500, kMaxInt};
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 1, 10, 2, two), ERR_INSUFFICIENTMEM);
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 1, kMaxInt, 1, two), ERR_INSUFFICIENTMEM);
    EXPECT_EQ(m.k->processList[1], nullptr);
    EXPECT_EQ(FreeAreas(m.k), kWhole);
}

TEST(ProcessAt, NegativePositionOrSizeIsUnknown)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t ok[] = {5};
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 1, -5, 1, ok), ERR_UNKNOWN);
    const int32_t neg[] = {-1};
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 1, 100, 1, neg), ERR_UNKNOWN);
    const int32_t laterNeg[] = {5, -3};
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 1, 100, 2, laterNeg), ERR_UNKNOWN);
    EXPECT_EQ(m.k->processList[1], nullptr);
    EXPECT_EQ(FreeAreas(m.k), kWhole);
}

TEST(ProcessAt, OccupiedSlotIsReportedBeforeBadArguments)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t ok[] = {5};
    ASSERT_EQ(KMM_AllocateProcessAt(m.k, 1, 0, 1, ok), ERR_NONE);
    const int32_t neg[] = {-1};
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 1, -5, 1, ok), ERR_PROCESSEXISTS);
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 1, 100, 1, neg), ERR_PROCESSEXISTS);
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 1, 100, 0, nullptr), ERR_PROCESSEXISTS);
}

TEST(ProcessAt, NoSegmentsOrNoSizesIsUnknown)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t sizes[] = {5};
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 1, 100, 0, sizes), ERR_UNKNOWN);
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 1, 100, -1, sizes), ERR_UNKNOWN);
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 1, 100, 1, nullptr), ERR_UNKNOWN);
    EXPECT_EQ(m.k->processList[1], nullptr);
    EXPECT_EQ(FreeAreas(m.k), kWhole);
    EXPECT_EQ(CellsNotTagged(m.k, 0, 1000, DATA_MAGIC), 0);
}

TEST(ProcessAt, ZeroSizeSegmentCoversNoCell)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t sizes[] = {5, 0, 5};
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 1, 100, 3, sizes), ERR_NONE);
    EXPECT_EQ(Segs(m.k, 1), (Areas{{100, 5}, {105, 0}, {105, 5}}));
    EXPECT_EQ(FreeAreas(m.k), (Areas{{0, 100}, {110, 890}}));

    const int32_t zero[] = {0};
    EXPECT_EQ(KMM_AllocateProcessAt(m.k, 2, 500, 1, zero), ERR_NONE);
    EXPECT_EQ(Segs(m.k, 2), (Areas{{500, 0}}));
    EXPECT_EQ(FreeAreas(m.k), (Areas{{0, 100}, {110, 890}}));
    EXPECT_EQ(m.k->mem[500].type, DATA_MAGIC);

    EXPECT_EQ(KMM_TerminateProcess(m.k, 2), ERR_NONE);
    EXPECT_EQ(FreeAreas(m.k), (Areas{{0, 100}, {110, 890}}));
    EXPECT_EQ(KMM_TerminateProcess(m.k, 1), ERR_NONE);
    EXPECT_EQ(FreeAreas(m.k), kWhole);
}

TEST(ProcessAt, ReservedCellsAreEmptiedWhateverTheyHeld)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t sizes[] = {3, 2};
    ASSERT_EQ(KMM_AllocateProcessAt(m.k, 1, 100, 2, sizes), ERR_NONE);
    m.k->mem[100].instruction.type = DATA_INSTRUCTION;
    m.k->mem[100].instruction.value = INSTRUCTION_HALT;
    m.k->mem[103].integer.type = DATA_INTEGER;
    m.k->mem[103].integer.value = 5;
    std::strcpy(m.k->mem[104].string.value, "abc");
    m.k->mem[104].string.type = DATA_STRING;
    ASSERT_EQ(KMM_TerminateProcess(m.k, 1), ERR_NONE);
    // The ended process's cells keep their values.
    EXPECT_EQ(m.k->mem[100].type, DATA_INSTRUCTION);
    EXPECT_EQ(m.k->mem[103].type, DATA_INTEGER);
    EXPECT_EQ(m.k->mem[104].type, DATA_STRING);

    const int32_t again[] = {5};
    ASSERT_EQ(KMM_AllocateProcessAt(m.k, 2, 100, 1, again), ERR_NONE);
    EXPECT_EQ(CellsNotTagged(m.k, 100, 105, DATA_ERROR), 0);
}

// first-fit process

TEST(ProcessFirstFit, SegmentsGoToTheLowestAreaLongEnough)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t block[] = {45};
    ASSERT_EQ(KMM_AllocateProcessAt(m.k, 0, 5, 1, block), ERR_NONE);
    ASSERT_EQ(FreeAreas(m.k), (Areas{{0, 5}, {50, 950}}));
    const int32_t sizes[] = {10, 5};
    EXPECT_EQ(KMM_AllocateProcess(m.k, 1, 2, sizes), static_cast<uint32_t>(ERR_NONE));
    EXPECT_EQ(Segs(m.k, 1), (Areas{{50, 10}, {0, 5}}));
    EXPECT_EQ(FreeAreas(m.k), (Areas{{60, 940}}));
    EXPECT_EQ(CellsNotTagged(m.k, 50, 60, DATA_ERROR), 0);
    EXPECT_EQ(CellsNotTagged(m.k, 0, 5, DATA_ERROR), 0);
}

TEST(ProcessFirstFit, FreshManager)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t sizes[] = {10, 20};
    EXPECT_EQ(KMM_AllocateProcess(m.k, 3, 2, sizes), static_cast<uint32_t>(ERR_NONE));
    EXPECT_EQ(Segs(m.k, 3), (Areas{{0, 10}, {10, 20}}));
    EXPECT_EQ(FreeAreas(m.k), (Areas{{30, 970}}));
    EXPECT_EQ(KMM_TerminateProcess(m.k, 3), ERR_NONE);
    EXPECT_EQ(FreeAreas(m.k), kWhole);
}

TEST(ProcessFirstFit, BadIdOrOccupiedSlotIsUnknown)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t sizes[] = {10};
    const uint32_t unknown = static_cast<uint32_t>(ERR_UNKNOWN);
    EXPECT_EQ(unknown, 0xFFFFFFFFu);
    EXPECT_EQ(KMM_AllocateProcess(m.k, -1, 1, sizes), unknown);
    EXPECT_EQ(KMM_AllocateProcess(m.k, 10, 1, sizes), unknown);
    ASSERT_EQ(KMM_AllocateProcess(m.k, 2, 1, sizes), static_cast<uint32_t>(ERR_NONE));
    EXPECT_EQ(KMM_AllocateProcess(m.k, 2, 1, sizes), unknown);
    EXPECT_EQ(Segs(m.k, 2), (Areas{{0, 10}}));
    EXPECT_EQ(FreeAreas(m.k), (Areas{{10, 990}}));
}

TEST(ProcessFirstFit, FailureGivesEverythingBack)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t sizes[] = {10, 2000};
    EXPECT_EQ(KMM_AllocateProcess(m.k, 1, 2, sizes), static_cast<uint32_t>(ERR_INSUFFICIENTMEM));
    EXPECT_EQ(m.k->processList[1], nullptr);
    EXPECT_EQ(FreeAreas(m.k), kWhole);
}

TEST(ProcessFirstFit, FailureWithEmptyFreeListGivesSegmentsBack)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t sizes[] = {1000, 1};
    EXPECT_EQ(KMM_AllocateProcess(m.k, 1, 2, sizes), static_cast<uint32_t>(ERR_INSUFFICIENTMEM));
    EXPECT_EQ(m.k->processList[1], nullptr);
    EXPECT_EQ(FreeAreas(m.k), kWhole);
}

TEST(ProcessFirstFit, NegativeSizeCreatesNothing)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t sizes[] = {10, -5};
    EXPECT_NE(KMM_AllocateProcess(m.k, 1, 2, sizes), static_cast<uint32_t>(ERR_NONE));
    EXPECT_EQ(m.k->processList[1], nullptr);
    EXPECT_EQ(FreeAreas(m.k), kWhole);
}

// terminate

TEST(ProcessTerminate, EmptySlotAndTwice)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    EXPECT_EQ(KMM_TerminateProcess(m.k, 0), ERR_NOPROCESS);
    const int32_t sizes[] = {3, 2};
    ASSERT_EQ(KMM_AllocateProcessAt(m.k, 6, 100, 2, sizes), ERR_NONE);
    EXPECT_EQ(KMM_TerminateProcess(m.k, 6), ERR_NONE);
    EXPECT_EQ(m.k->processList[6], nullptr);
    EXPECT_EQ(FreeAreas(m.k), kWhole);
    EXPECT_EQ(KMM_TerminateProcess(m.k, 6), ERR_NOPROCESS);
}

TEST(ProcessTerminate, IdOutsideTheTableIsUnknown)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    EXPECT_EQ(KMM_TerminateProcess(m.k, -1), ERR_UNKNOWN);
    EXPECT_EQ(KMM_TerminateProcess(m.k, 10), ERR_UNKNOWN);
    EXPECT_EQ(KMM_TerminateProcess(m.k, INT32_MAX), ERR_UNKNOWN);
    EXPECT_EQ(KMM_TerminateProcess(m.k, INT32_MIN), ERR_UNKNOWN);
}

TEST(ProcessTerminate, ProcessCoveringAllMemoryRestoresTheFreeList)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t all[] = {1000};
    ASSERT_EQ(KMM_AllocateProcessAt(m.k, 0, 0, 1, all), ERR_NONE);
    ASSERT_EQ(m.k->memFree, nullptr);
    EXPECT_EQ(KMM_TerminateProcess(m.k, 0), ERR_NONE);
    EXPECT_EQ(FreeAreas(m.k), kWhole);

    const int32_t halves[] = {500, 500};
    ASSERT_EQ(KMM_AllocateProcessAt(m.k, 0, 0, 2, halves), ERR_NONE);
    ASSERT_EQ(m.k->memFree, nullptr);
    EXPECT_EQ(KMM_TerminateProcess(m.k, 0), ERR_NONE);
    EXPECT_EQ(FreeAreas(m.k), kWhole);
}

TEST(ProcessTerminate, OtherProcessesAndFreeAreasStay)
{
    Mgr m(1000);
    ASSERT_NE(m.k, nullptr);
    const int32_t a[] = {10, 10};
    const int32_t b[] = {30};
    ASSERT_EQ(KMM_AllocateProcessAt(m.k, 1, 100, 2, a), ERR_NONE);
    ASSERT_EQ(KMM_AllocateProcessAt(m.k, 2, 300, 1, b), ERR_NONE);
    EXPECT_EQ(KMM_TerminateProcess(m.k, 1), ERR_NONE);
    EXPECT_EQ(FreeAreas(m.k), (Areas{{0, 300}, {330, 670}}));
    EXPECT_EQ(Segs(m.k, 2), (Areas{{300, 30}}));
}

// release

TEST(ManagerFree, ReleasesEverythingAndClearsTheRecord)
{
    KelMM* kmm = KMM_Create(1000);
    ASSERT_NE(kmm, nullptr);
    const int32_t a[] = {10, 10, 5};
    const int32_t b[] = {30};
    ASSERT_EQ(KMM_AllocateProcessAt(kmm, 1, 100, 3, a), ERR_NONE);
    ASSERT_EQ(KMM_AllocateProcessAt(kmm, 7, 300, 1, b), ERR_NONE);
    EXPECT_EQ(KMM_Free(kmm), ERR_NONE);
    EXPECT_EQ(kmm->mem, nullptr);
    EXPECT_EQ(kmm->memFree, nullptr);
    EXPECT_EQ(kmm->memSize, 0);
    EXPECT_TRUE(AllSlotsEmpty(kmm));
    std::free(kmm);
}

TEST(ManagerFree, EmptyFreeList)
{
    KelMM* kmm = KMM_Create(1000);
    ASSERT_NE(kmm, nullptr);
    ASSERT_EQ(KMM_AllocateSegmentAt(kmm, 0, 1000), ERR_NONE);
    ASSERT_EQ(kmm->memFree, nullptr);
    EXPECT_EQ(KMM_Free(kmm), ERR_NONE);
    EXPECT_EQ(kmm->mem, nullptr);
    std::free(kmm);
}

TEST(ManagerFree, FreshManager)
{
    KelMM* kmm = KMM_Create(1);
    ASSERT_NE(kmm, nullptr);
    EXPECT_EQ(KMM_Free(kmm), ERR_NONE);
    EXPECT_EQ(kmm->memFree, nullptr);
    EXPECT_EQ(kmm->memSize, 0);
    std::free(kmm);
}

// null manager

TEST(ManagerNull, EveryOperationRefusesANullManager)
{
    const int32_t sizes[] = {5};
    EXPECT_EQ(KMM_AllocateSegmentAt(nullptr, 0, 5), ERR_UNKNOWN);
    EXPECT_EQ(KMM_AllocateSegment(nullptr, 5), -1);
    EXPECT_EQ(KMM_FreeSegment(nullptr, 0, 5), ERR_UNKNOWN);
    EXPECT_EQ(KMM_AllocateProcessAt(nullptr, 1, 0, 1, sizes), ERR_UNKNOWN);
    EXPECT_EQ(KMM_AllocateProcess(nullptr, 1, 1, sizes), static_cast<uint32_t>(ERR_UNKNOWN));
    EXPECT_EQ(KMM_TerminateProcess(nullptr, 1), ERR_UNKNOWN);
    EXPECT_EQ(KMM_Free(nullptr), ERR_UNKNOWN);
}
