// Unit tests for the segment lists: area arithmetic (intersect, subtract),
// removal and addition of areas, sort, merge, copy, append, free, first fit
// and the diagnostic print.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "KelMem.h"
#include "test_util.h"

namespace {

using Areas = std::vector<std::pair<int32_t, int32_t>>;

const int32_t kMaxInt = INT32_MAX;

// Builds a list from separately created nodes, linked by hand so that setting
// up does not depend on the list operations under test. Returns the head;
// the nodes in order go to *nodes when it is given.
SegList* Build(const Areas& areas, std::vector<SegList*>* nodes = nullptr)
{
    SegList* head = nullptr;
    SegList* last = nullptr;
    for (const auto& a : areas) {
        SegList* n = KMM_CreateSegList(a.first, a.second, nullptr, nullptr);
        EXPECT_NE(n, nullptr);
        if (n == nullptr)
            break;
        if (last != nullptr) {
            last->next = n;
            n->prev = last;
        } else {
            head = n;
        }
        last = n;
        if (nodes != nullptr)
            nodes->push_back(n);
    }
    return head;
}

// The areas of the list holding `any`, from its head along next. Walks by
// hand and checks on the way that every prev link mirrors its next link.
Areas Read(const SegList* any)
{
    Areas out;
    const SegList* n = any;
    while (n != nullptr && n->prev != nullptr)
        n = n->prev;
    const SegList* prev = nullptr;
    while (n != nullptr) {
        EXPECT_EQ(n->prev, prev) << "broken prev link at {" << n->seg.pos << "," << n->seg.len
                                 << "}";
        out.emplace_back(n->seg.pos, n->seg.len);
        prev = n;
        n = n->next;
    }
    return out;
}

// The nodes of the list holding `any`, from its head.
std::vector<const SegList*> Nodes(const SegList* any)
{
    std::vector<const SegList*> out;
    const SegList* n = any;
    while (n != nullptr && n->prev != nullptr)
        n = n->prev;
    for (; n != nullptr; n = n->next)
        out.push_back(n);
    return out;
}

void Release(SegList* any)
{
    if (any != nullptr)
        KMM_FreeSegList(any);
}

int32_t Intersects(int32_t p1, int32_t l1, int32_t p2, int32_t l2)
{
    KelSegment a{p1, l1};
    KelSegment b{p2, l2};
    return KMM_AreaIntersectsSeg(&a, &b);
}

// Subtracts b from a; returns the result and the remainders it reports.
int32_t Subtract(KelSegment a, KelSegment b, Areas* rest)
{
    KelSegment out[2] = {{-77, -77}, {-77, -77}};
    int32_t r = KMM_SubtractSegs(&a, &b, out);
    rest->clear();
    for (int32_t i = 0; i < r && i < 2; ++i)
        rest->emplace_back(out[i].pos, out[i].len);
    if (r == -1 || r == 0) {
        // Nothing may be written when there is no remainder.
        EXPECT_EQ(out[0].pos, -77);
        EXPECT_EQ(out[0].len, -77);
        EXPECT_EQ(out[1].pos, -77);
        EXPECT_EQ(out[1].len, -77);
    }
    return r;
}

const Areas kThree = {{0, 100}, {200, 100}, {400, 100}};

} // namespace

// intersect

TEST(SegIntersect, OverlappingAreasIntersect)
{
    EXPECT_EQ(Intersects(0, 100, 20, 30), 1);
    EXPECT_EQ(Intersects(20, 30, 0, 100), 1);
    EXPECT_EQ(Intersects(0, 100, 50, 80), 1);
    EXPECT_EQ(Intersects(10, 100, 0, 30), 1);
    EXPECT_EQ(Intersects(10, 100, 10, 100), 1);
    EXPECT_EQ(Intersects(10, 100, 109, 5), 1); // one shared cell at the top
    EXPECT_EQ(Intersects(10, 100, 0, 11), 1);  // one shared cell at the bottom
}

TEST(SegIntersect, TouchingAreasDoNotIntersectInEitherOrder)
{
    EXPECT_EQ(Intersects(0, 10, 10, 5), 0);
    EXPECT_EQ(Intersects(10, 5, 0, 10), 0);
}

TEST(SegIntersect, DisjointAreasDoNotIntersect)
{
    EXPECT_EQ(Intersects(10, 100, 110, 5), 0);
    EXPECT_EQ(Intersects(110, 5, 10, 100), 0);
    EXPECT_EQ(Intersects(0, 5, 500, 5), 0);
}

TEST(SegIntersect, EmptyAreaAsFirstMeetsNodeContainingItsCell)
{
    EXPECT_EQ(Intersects(0, 0, 0, 10), 1);  // at the first cell
    EXPECT_EQ(Intersects(5, 0, 0, 10), 1);  // strictly inside
    EXPECT_EQ(Intersects(9, 0, 0, 10), 1);  // at the last cell
    EXPECT_EQ(Intersects(10, 0, 0, 10), 0); // just past the end
    EXPECT_EQ(Intersects(20, 0, 10, 5), 0); // outside
}

TEST(SegIntersect, EmptyAreaAsSecondMeetsOnlyStrictlyInside)
{
    EXPECT_EQ(Intersects(0, 10, 5, 0), 1);
    EXPECT_EQ(Intersects(0, 10, 9, 0), 1);
    EXPECT_EQ(Intersects(0, 10, 0, 0), 0); // at the first cell: not strictly inside
    EXPECT_EQ(Intersects(0, 10, 10, 0), 0);
}

TEST(SegIntersect, TwoEmptyAreasNeverIntersect)
{
    EXPECT_EQ(Intersects(5, 0, 5, 0), 0);
    EXPECT_EQ(Intersects(5, 0, 6, 0), 0);
    EXPECT_EQ(Intersects(6, 0, 5, 0), 0);
}

// subtract

TEST(SegSubtract, MiddleCutLeavesLowerThenUpperRemainder)
{
    Areas rest;
    EXPECT_EQ(Subtract({0, 100}, {20, 30}, &rest), 2);
    EXPECT_EQ(rest, (Areas{{0, 20}, {50, 50}}));
}

TEST(SegSubtract, UpperPartCut)
{
    Areas rest;
    EXPECT_EQ(Subtract({0, 100}, {50, 80}, &rest), 1);
    EXPECT_EQ(rest, (Areas{{0, 50}}));
    EXPECT_EQ(Subtract({10, 100}, {100, 10}, &rest), 1); // ends exactly at the top
    EXPECT_EQ(rest, (Areas{{10, 90}}));
}

TEST(SegSubtract, LowerPartCut)
{
    Areas rest;
    EXPECT_EQ(Subtract({10, 100}, {0, 30}, &rest), 1);
    EXPECT_EQ(rest, (Areas{{30, 80}}));
    EXPECT_EQ(Subtract({10, 100}, {10, 20}, &rest), 1); // starts exactly at the bottom
    EXPECT_EQ(rest, (Areas{{30, 80}}));
}

TEST(SegSubtract, WhollyCoveredLeavesNothing)
{
    Areas rest;
    EXPECT_EQ(Subtract({10, 100}, {0, 200}, &rest), 0);
    EXPECT_EQ(Subtract({10, 100}, {10, 100}, &rest), 0);
}

TEST(SegSubtract, NoIntersectionGivesMinusOne)
{
    Areas rest;
    EXPECT_EQ(Subtract({10, 100}, {110, 5}, &rest), -1);
    EXPECT_EQ(Subtract({10, 100}, {0, 10}, &rest), -1);
}

TEST(SegSubtract, EmptyAreaInsideSplitsIntoTouchingRemainders)
{
    Areas rest;
    EXPECT_EQ(Subtract({0, 1000}, {500, 0}, &rest), 2);
    EXPECT_EQ(rest, (Areas{{0, 500}, {500, 500}}));
    EXPECT_EQ(Subtract({0, 1000}, {0, 0}, &rest), -1);
}

// create / compare / seek

TEST(SegListCreate, HoldsExactlyTheGivenValuesAndLeavesNeighboursAlone)
{
    SegList* a = KMM_CreateSegList(1, 1, nullptr, nullptr);
    SegList* b = KMM_CreateSegList(2, 2, nullptr, nullptr);
    SegList* n = KMM_CreateSegList(7, 9, a, b);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->seg.pos, 7);
    EXPECT_EQ(n->seg.len, 9);
    EXPECT_EQ(n->prev, a);
    EXPECT_EQ(n->next, b);
    EXPECT_EQ(a->next, nullptr);
    EXPECT_EQ(b->prev, nullptr);
    n->prev = nullptr;
    n->next = nullptr;
    EXPECT_EQ(KMM_FreeSegList(n), 0);
    EXPECT_EQ(KMM_FreeSegList(a), 0);
    EXPECT_EQ(KMM_FreeSegList(b), 0);
}

TEST(SegListCompare, ByPositionOnly)
{
    std::vector<SegList*> n;
    SegList* head = Build({{5, 1}, {3, 100}, {5, 99}}, &n);
    EXPECT_EQ(KMM_CompSegList(n[0], n[1]), 1);
    EXPECT_EQ(KMM_CompSegList(n[1], n[0]), -1);
    EXPECT_EQ(KMM_CompSegList(n[0], n[2]), 0);
    Release(head);
}

TEST(SegListSeek, HeadAndEndFromAnyNode)
{
    std::vector<SegList*> n;
    SegList* head = Build({{1, 1}, {2, 2}, {3, 3}}, &n);
    for (SegList* x : n) {
        EXPECT_EQ(KMM_SeekSegListHead(x), n[0]);
        EXPECT_EQ(KMM_SeekSegListEnd(x), n[2]);
    }
    EXPECT_EQ(KMM_SeekSegListHead(nullptr), nullptr);
    EXPECT_EQ(KMM_SeekSegListEnd(nullptr), nullptr);
    Release(head);
}

// removal

TEST(SegListRemove, CutInsideSplitsAndKeepsHead)
{
    std::vector<SegList*> n;
    SegList* head = Build({{0, 1000}}, &n);
    SegList* r = KMM_RemoveAreaFromSegList(head, 100, 20);
    EXPECT_EQ(r, n[0]);
    EXPECT_EQ(Read(r), (Areas{{0, 100}, {120, 880}}));
    Release(r);
}

TEST(SegListRemove, SpanningSeveralNodesTrimsBothEndsAndFreesMiddle)
{
    std::vector<SegList*> n;
    SegList* head = Build(kThree, &n);
    SegList* r = KMM_RemoveAreaFromSegList(head, 50, 400);
    EXPECT_EQ(r, n[0]);
    EXPECT_EQ(Read(r), (Areas{{0, 50}, {450, 50}}));
    Release(r);
}

TEST(SegListRemove, SplitRemainderIsSortedIntoPlace)
{
    std::vector<SegList*> n;
    SegList* head = Build(kThree, &n);
    SegList* r = KMM_RemoveAreaFromSegList(head, 250, 10);
    EXPECT_EQ(r, n[0]);
    EXPECT_EQ(r->prev, nullptr);
    EXPECT_EQ(Read(r), (Areas{{0, 100}, {200, 50}, {260, 40}, {400, 100}}));
    Release(r);
}

TEST(SegListRemove, FreeingTheHeadReturnsADifferentNode)
{
    std::vector<SegList*> n;
    SegList* head = Build(kThree, &n);
    SegList* r = KMM_RemoveAreaFromSegList(head, 0, 100);
    ASSERT_NE(r, nullptr);
    EXPECT_NE(r, n[0]);
    EXPECT_EQ(r, n[1]);
    EXPECT_EQ(r->prev, nullptr);
    EXPECT_EQ(Read(r), (Areas{{200, 100}, {400, 100}}));
    Release(r);
}

TEST(SegListRemove, FreeingTheLastNodeReturnsTheHeadOfTheRest)
{
    std::vector<SegList*> n;
    SegList* head = Build(kThree, &n);
    SegList* r = KMM_RemoveAreaFromSegList(head, 400, 100);
    EXPECT_EQ(r, n[0]);
    EXPECT_EQ(Read(r), (Areas{{0, 100}, {200, 100}}));
    EXPECT_EQ(n[1]->next, nullptr);
    Release(r);
}

TEST(SegListRemove, AreaCoveringEveryNodeGivesNull)
{
    SegList* head = Build(kThree);
    EXPECT_EQ(KMM_RemoveAreaFromSegList(head, 0, 1000), nullptr);
    // Every node has been freed; the leak checker would report any survivor.
}

TEST(SegListRemove, WholeAreaOfOneNodeListGivesNull)
{
    SegList* head = Build({{10, 20}});
    EXPECT_EQ(KMM_RemoveAreaFromSegList(head, 10, 20), nullptr);
}

TEST(SegListRemove, NullListGivesNull)
{
    EXPECT_EQ(KMM_RemoveAreaFromSegList(nullptr, 0, 10), nullptr);
}

TEST(SegListRemove, AreaInGapOrOutsideLeavesListAsItWas)
{
    std::vector<SegList*> n;
    SegList* head = Build({{0, 100}, {200, 100}}, &n);
    SegList* r = KMM_RemoveAreaFromSegList(head, 100, 100); // exactly the gap
    EXPECT_EQ(r, n[0]);
    EXPECT_EQ(Read(r), (Areas{{0, 100}, {200, 100}}));
    r = KMM_RemoveAreaFromSegList(r, 5000, 10);
    EXPECT_EQ(r, n[0]);
    EXPECT_EQ(Read(r), (Areas{{0, 100}, {200, 100}}));
    Release(r);
}

TEST(SegListRemove, ResultIsSortedEvenWhenNothingIsTakenOut)
{
    std::vector<SegList*> n;
    SegList* head = Build({{200, 100}, {0, 100}}, &n);
    SegList* r = KMM_RemoveAreaFromSegList(head, 1000, 5);
    EXPECT_EQ(r, n[0]); // sorting exchanges areas, the head node stays
    EXPECT_EQ(Read(r), (Areas{{0, 100}, {200, 100}}));
    Release(r);
}

TEST(SegListRemove, WorksFromANonHeadNode)
{
    std::vector<SegList*> n;
    SegList* head = Build(kThree, &n);
    (void)head;
    SegList* r = KMM_RemoveAreaFromSegList(n[2], 250, 10);
    EXPECT_EQ(r, n[0]);
    EXPECT_EQ(Read(r), (Areas{{0, 100}, {200, 50}, {260, 40}, {400, 100}}));
    Release(r);
}

TEST(SegListRemove, CellsOutsideEveryNodeAreIgnored)
{
    std::vector<SegList*> n;
    SegList* head = Build({{100, 50}}, &n);
    SegList* r = KMM_RemoveAreaFromSegList(head, 0, 120); // starts well before the node
    EXPECT_EQ(r, n[0]);
    EXPECT_EQ(Read(r), (Areas{{120, 30}}));
    Release(r);
}

TEST(SegListRemove, EmptyAreaStrictlyInsideSplitsIntoTouchingNodes)
{
    std::vector<SegList*> n;
    SegList* head = Build({{0, 1000}}, &n);
    SegList* r = KMM_RemoveAreaFromSegList(head, 500, 0);
    EXPECT_EQ(r, n[0]);
    EXPECT_EQ(Read(r), (Areas{{0, 500}, {500, 500}}));
    Release(r);
}

TEST(SegListRemove, EmptyAreaAtFirstCellOrOutsideChangesNothing)
{
    SegList* head = Build({{0, 1000}});
    SegList* r = KMM_RemoveAreaFromSegList(head, 0, 0);
    EXPECT_EQ(r, head);
    EXPECT_EQ(Read(r), (Areas{{0, 1000}}));
    r = KMM_RemoveAreaFromSegList(r, 1000, 0);
    EXPECT_EQ(r, head);
    EXPECT_EQ(Read(r), (Areas{{0, 1000}}));
    r = KMM_RemoveAreaFromSegList(r, 2000, 0);
    EXPECT_EQ(Read(r), (Areas{{0, 1000}}));
    Release(r);
}

TEST(SegListRemove, EmptyNodeIsFreedWhenTheAreaContainsItsCell)
{
    SegList* head = Build({{0, 10}, {15, 0}, {20, 10}});
    SegList* r = KMM_RemoveAreaFromSegList(head, 12, 5);
    EXPECT_EQ(Read(r), (Areas{{0, 10}, {20, 10}}));
    Release(r);

    head = Build({{0, 10}, {15, 0}, {20, 10}});
    r = KMM_RemoveAreaFromSegList(head, 15, 5); // the cell is the area's start
    EXPECT_EQ(Read(r), (Areas{{0, 10}, {20, 10}}));
    Release(r);
}

TEST(SegListRemove, EmptyNodeAtTheAreasEndSurvives)
{
    SegList* head = Build({{0, 10}, {15, 0}, {20, 10}});
    SegList* r = KMM_RemoveAreaFromSegList(head, 10, 5);
    EXPECT_EQ(Read(r), (Areas{{0, 10}, {15, 0}, {20, 10}}));
    Release(r);
}

TEST(SegListRemove, NegativeLengthIsRefused)
{
    std::vector<SegList*> n;
    SegList* head = Build({{0, 100}, {200, 100}}, &n);
    SegList* r = KMM_RemoveAreaFromSegList(n[1], 50, -10);
    EXPECT_EQ(r, n[0]);
    EXPECT_EQ(Read(r), (Areas{{0, 100}, {200, 100}}));
    (void)head;
    Release(r);
}

TEST(SegListRemove, AreaEndingPastInt32MaxIsRefused)
{
    SegList* head = Build({{kMaxInt - 100, 100}});
    SegList* r = KMM_RemoveAreaFromSegList(head, kMaxInt - 50, 100);
    EXPECT_EQ(r, head);
    EXPECT_EQ(Read(r), (Areas{{kMaxInt - 100, 100}}));
    Release(r);
}

TEST(SegListRemove, AreaEndingExactlyAtInt32MaxIsAccepted)
{
    SegList* head = Build({{kMaxInt - 100, 100}});
    SegList* r = KMM_RemoveAreaFromSegList(head, kMaxInt - 50, 50);
    EXPECT_EQ(r, head);
    EXPECT_EQ(Read(r), (Areas{{kMaxInt - 100, 50}}));
    Release(r);
}

// addition

TEST(SegListAdd, TouchingAreaJoinsItsNeighbour)
{
    SegList* head = Build({{0, 10}});
    SegList* r = KMM_AddAreaToSegList(head, 10, 5);
    EXPECT_EQ(r, head);
    EXPECT_EQ(Read(r), (Areas{{0, 15}}));
    Release(r);
}

TEST(SegListAdd, FillingTheGapJoinsAllThree)
{
    std::vector<SegList*> n;
    SegList* head = Build(kThree, &n);
    SegList* r = KMM_AddAreaToSegList(head, 100, 100);
    EXPECT_EQ(r, n[0]);
    EXPECT_EQ(Read(r), (Areas{{0, 300}, {400, 100}}));
    Release(r);
}

TEST(SegListAdd, AreaTouchingTheLastNodeJoinsIt)
{
    SegList* head = Build(kThree);
    SegList* r = KMM_AddAreaToSegList(head, 500, 10);
    EXPECT_EQ(r, head);
    EXPECT_EQ(Read(r), (Areas{{0, 100}, {200, 100}, {400, 110}}));
    Release(r);
}

TEST(SegListAdd, SeparateAreaIsAppendedInOrder)
{
    SegList* head = Build(kThree);
    SegList* r = KMM_AddAreaToSegList(head, 600, 10);
    EXPECT_EQ(r, head);
    EXPECT_EQ(Read(r), (Areas{{0, 100}, {200, 100}, {400, 100}, {600, 10}}));
    Release(r);
}

TEST(SegListAdd, OverlappingAreaIsRefused)
{
    SegList* head = Build(kThree);
    SegList* r = KMM_AddAreaToSegList(head, 90, 20);
    EXPECT_EQ(r, head);
    EXPECT_EQ(Read(r), kThree);
    r = KMM_AddAreaToSegList(r, 99, 1); // a single shared cell is enough
    EXPECT_EQ(r, head);
    EXPECT_EQ(Read(r), kThree);
    r = KMM_AddAreaToSegList(r, 150, 300); // overlaps the middle node entirely
    EXPECT_EQ(r, head);
    EXPECT_EQ(Read(r), kThree);
    Release(r);
}

TEST(SegListAdd, EmptyListStaysEmpty)
{
    EXPECT_EQ(KMM_AddAreaToSegList(nullptr, 0, 10), nullptr);
}

TEST(SegListAdd, AreaBelowTheHeadLandsInTheSameHeadNode)
{
    std::vector<SegList*> n;
    SegList* head = Build({{50, 10}, {100, 10}}, &n);
    SegList* r = KMM_AddAreaToSegList(n[1], 0, 10);
    EXPECT_EQ(r, n[0]);
    EXPECT_EQ(Read(r), (Areas{{0, 10}, {50, 10}, {100, 10}}));
    (void)head;
    Release(r);
}

TEST(SegListAdd, EmptyAreaInsideANodeIsRefused)
{
    SegList* head = Build({{0, 100}, {200, 100}});
    SegList* r = KMM_AddAreaToSegList(head, 50, 0);
    EXPECT_EQ(Read(r), (Areas{{0, 100}, {200, 100}}));
    r = KMM_AddAreaToSegList(r, 200, 0); // at a node's first cell
    EXPECT_EQ(r, head);
    EXPECT_EQ(Read(r), (Areas{{0, 100}, {200, 100}}));
    Release(r);
}

TEST(SegListAdd, EmptyAreaWhereANodeEndsIsAbsorbed)
{
    SegList* head = Build({{0, 100}, {200, 100}});
    SegList* r = KMM_AddAreaToSegList(head, 100, 0);
    EXPECT_EQ(r, head);
    EXPECT_EQ(Read(r), (Areas{{0, 100}, {200, 100}}));
    r = KMM_AddAreaToSegList(r, 300, 0);
    EXPECT_EQ(Read(r), (Areas{{0, 100}, {200, 100}}));
    Release(r);
}

TEST(SegListAdd, EmptyAreaInAGapStaysAsEmptyNode)
{
    SegList* head = Build({{0, 100}, {200, 100}});
    SegList* r = KMM_AddAreaToSegList(head, 150, 0);
    EXPECT_EQ(r, head);
    EXPECT_EQ(Read(r), (Areas{{0, 100}, {150, 0}, {200, 100}}));
    Release(r);
}

TEST(SegListAdd, NegativeLengthIsRefused)
{
    std::vector<SegList*> n;
    SegList* head = Build({{0, 100}, {200, 100}}, &n);
    SegList* r = KMM_AddAreaToSegList(n[1], 150, -10);
    EXPECT_EQ(r, head);
    EXPECT_EQ(Read(r), (Areas{{0, 100}, {200, 100}}));
    Release(r);
}

TEST(SegListAdd, AreaEndingPastInt32MaxIsRefused)
{
    SegList* head = Build({{0, 100}});
    SegList* r = KMM_AddAreaToSegList(head, kMaxInt - 50, 100);
    EXPECT_EQ(r, head);
    EXPECT_EQ(Read(r), (Areas{{0, 100}}));
    Release(r);
}

TEST(SegListAdd, AreaEndingExactlyAtInt32MaxIsAccepted)
{
    SegList* head = Build({{0, 100}});
    SegList* r = KMM_AddAreaToSegList(head, kMaxInt - 100, 100);
    EXPECT_EQ(r, head);
    EXPECT_EQ(Read(r), (Areas{{0, 100}, {kMaxInt - 100, 100}}));
    Release(r);
}

// free-list walk-through

TEST(SegListFreeListWalk, SplitThenGiveBackRestoresOneArea)
{
    // 1. A fresh 1000-cell free list.
    std::vector<SegList*> n;
    SegList* list = Build({{0, 1000}}, &n);
    ASSERT_NE(list, nullptr);

    // 2. Reserving {100,20} splits the one node; the upper part is a new node.
    list = KMM_RemoveAreaFromSegList(list, 100, 20);
    ASSERT_EQ(list, n[0]);
    EXPECT_EQ(Read(list), (Areas{{0, 100}, {120, 880}}));
    ASSERT_NE(list->next, nullptr);
    EXPECT_EQ(list->next->next, nullptr);

    // 3. Giving {100,20} back joins everything into the head node again.
    list = KMM_AddAreaToSegList(list, 100, 20);
    ASSERT_EQ(list, n[0]);
    EXPECT_EQ(Read(list), (Areas{{0, 1000}}));
    EXPECT_EQ(list->next, nullptr);
    EXPECT_EQ(list->prev, nullptr);
    Release(list);
}

TEST(SegListFreeListWalk, ThreeAreaRemovalsAndAdditions)
{
    struct Step {
        bool add;
        int32_t pos, len;
        Areas expect;
    };
    const std::vector<Step> steps = {
        {false, 50, 400, {{0, 50}, {450, 50}}},
        {false, 250, 10, {{0, 100}, {200, 50}, {260, 40}, {400, 100}}},
        {false, 0, 100, {{200, 100}, {400, 100}}},
        {false, 400, 100, {{0, 100}, {200, 100}}},
        {false, 0, 1000, {}},
        {true, 100, 100, {{0, 300}, {400, 100}}},
        {true, 500, 10, {{0, 100}, {200, 100}, {400, 110}}},
        {true, 600, 10, {{0, 100}, {200, 100}, {400, 100}, {600, 10}}},
        {true, 90, 20, kThree},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE((s.add ? "add {" : "remove {") + std::to_string(s.pos) + "," +
                     std::to_string(s.len) + "}");
        SegList* head = Build(kThree);
        SegList* r = s.add ? KMM_AddAreaToSegList(head, s.pos, s.len)
                           : KMM_RemoveAreaFromSegList(head, s.pos, s.len);
        if (s.expect.empty()) {
            EXPECT_EQ(r, nullptr);
        } else {
            ASSERT_NE(r, nullptr);
            EXPECT_EQ(r->prev, nullptr);
            EXPECT_EQ(Read(r), s.expect);
        }
        Release(r);
    }
}

// sort

TEST(SegListSort, ExchangesAreasAndKeepsNodesInPlace)
{
    std::vector<SegList*> n;
    SegList* head = Build({{30, 1}, {10, 2}, {20, 3}}, &n);
    SegList* r = KMM_SortSegList(head);
    EXPECT_EQ(r, n[0]);
    EXPECT_EQ(Read(r), (Areas{{10, 2}, {20, 3}, {30, 1}}));
    const std::vector<const SegList*> after = Nodes(r);
    ASSERT_EQ(after.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(after[i], n[i]) << "node " << i << " was relinked";
    Release(r);
}

TEST(SegListSort, EqualPositionsKeepTheirOrder)
{
    std::vector<SegList*> n;
    SegList* head = Build({{5, 1}, {5, 2}, {1, 3}}, &n);
    SegList* r = KMM_SortSegList(head);
    EXPECT_EQ(r, n[0]);
    EXPECT_EQ(Read(r), (Areas{{1, 3}, {5, 1}, {5, 2}}));
    Release(r);
}

TEST(SegListSort, ReverseOrderFromTheLastNode)
{
    std::vector<SegList*> n;
    SegList* head = Build({{50, 5}, {40, 4}, {30, 3}, {20, 2}, {10, 1}}, &n);
    SegList* r = KMM_SortSegList(n[4]);
    EXPECT_EQ(r, head);
    EXPECT_EQ(Read(r), (Areas{{10, 1}, {20, 2}, {30, 3}, {40, 4}, {50, 5}}));
    Release(r);
}

TEST(SegListSort, NullAndSingleNode)
{
    EXPECT_EQ(KMM_SortSegList(nullptr), nullptr);
    SegList* one = Build({{7, 7}});
    EXPECT_EQ(KMM_SortSegList(one), one);
    EXPECT_EQ(Read(one), (Areas{{7, 7}}));
    Release(one);
}

// merge

TEST(SegListMerge, RunsOfTouchingAreasCollapseIntoTheirFirstNode)
{
    std::vector<SegList*> n;
    SegList* head = Build({{0, 10}, {10, 5}, {15, 5}, {30, 1}, {31, 1}, {40, 5}}, &n);
    SegList* r = KMM_MergeSegList(head);
    EXPECT_EQ(r, n[0]);
    EXPECT_EQ(Read(r), (Areas{{0, 20}, {30, 2}, {40, 5}}));
    const std::vector<const SegList*> after = Nodes(r);
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[0], n[0]);
    EXPECT_EQ(after[1], n[3]);
    EXPECT_EQ(after[2], n[5]);
    Release(r);
}

TEST(SegListMerge, OnlyExactTouchingInListOrderJoins)
{
    SegList* a = Build({{10, 5}, {0, 10}});
    EXPECT_EQ(KMM_MergeSegList(a), a);
    EXPECT_EQ(Read(a), (Areas{{10, 5}, {0, 10}}));
    Release(a);

    SegList* b = Build({{0, 10}, {5, 10}});
    EXPECT_EQ(KMM_MergeSegList(b), b);
    EXPECT_EQ(Read(b), (Areas{{0, 10}, {5, 10}}));
    Release(b);
}

TEST(SegListMerge, FromANonHeadNodeAndNull)
{
    std::vector<SegList*> n;
    SegList* head = Build({{0, 10}, {10, 10}, {20, 10}}, &n);
    SegList* r = KMM_MergeSegList(n[2]);
    EXPECT_EQ(r, head);
    EXPECT_EQ(Read(r), (Areas{{0, 30}}));
    Release(r);
    EXPECT_EQ(KMM_MergeSegList(nullptr), nullptr);
}

// copy

TEST(SegListCopy, ReturnsNextToLastNodeOfAnEqualList)
{
    std::vector<SegList*> n;
    SegList* orig = Build({{1, 1}, {2, 2}, {3, 3}}, &n);
    SegList* c = KMM_CopySegList(orig);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->seg.pos, 2);
    EXPECT_EQ(c->seg.len, 2);
    SegList* ch = KMM_SeekSegListHead(c);
    EXPECT_EQ(Read(ch), (Areas{{1, 1}, {2, 2}, {3, 3}}));
    for (const SegList* x : Nodes(ch))
        for (const SegList* o : n)
            EXPECT_NE(x, o) << "copy shares a node with the original";
    EXPECT_EQ(Read(orig), (Areas{{1, 1}, {2, 2}, {3, 3}}));
    Release(ch);
    Release(orig);
}

TEST(SegListCopy, FromAnyNodeCopiesTheWholeList)
{
    std::vector<SegList*> n;
    SegList* orig = Build({{1, 1}, {2, 2}, {3, 3}, {4, 4}}, &n);
    for (SegList* from : n) {
        SegList* c = KMM_CopySegList(from);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->seg.pos, 3); // next-to-last
        EXPECT_EQ(Read(c), (Areas{{1, 1}, {2, 2}, {3, 3}, {4, 4}}));
        Release(c);
    }
    Release(orig);
}

TEST(SegListCopy, ShortLists)
{
    EXPECT_EQ(KMM_CopySegList(nullptr), nullptr);

    SegList* one = Build({{5, 6}});
    SegList* c1 = KMM_CopySegList(one);
    ASSERT_NE(c1, nullptr);
    EXPECT_NE(c1, one);
    EXPECT_EQ(c1->prev, nullptr);
    EXPECT_EQ(c1->next, nullptr);
    EXPECT_EQ(Read(c1), (Areas{{5, 6}}));
    Release(c1);
    Release(one);

    SegList* two = Build({{1, 1}, {2, 2}});
    SegList* c2 = KMM_CopySegList(two);
    ASSERT_NE(c2, nullptr);
    EXPECT_EQ(c2->prev, nullptr); // next-to-last of two is the head
    EXPECT_EQ(c2->seg.pos, 1);
    EXPECT_EQ(Read(c2), (Areas{{1, 1}, {2, 2}}));
    Release(c2);
    Release(two);
}

// append

TEST(SegListAppend, NullNodeChangesNothing)
{
    EXPECT_EQ(KMM_AppendSegList(nullptr, nullptr), nullptr);
    std::vector<SegList*> n;
    SegList* head = Build({{1, 1}, {2, 2}}, &n);
    EXPECT_EQ(KMM_AppendSegList(n[0], nullptr), n[1]);
    EXPECT_EQ(Read(head), (Areas{{1, 1}, {2, 2}}));
    Release(head);
}

TEST(SegListAppend, ToTheEmptyListReturnsNodeWithPrevCleared)
{
    SegList* other = Build({{9, 9}});
    SegList* node = KMM_CreateSegList(3, 3, nullptr, nullptr);
    ASSERT_NE(node, nullptr);
    node->prev = other; // a stale link that appending must clear
    EXPECT_EQ(KMM_AppendSegList(nullptr, node), node);
    EXPECT_EQ(node->prev, nullptr);
    EXPECT_EQ(node->next, nullptr);
    node->prev = nullptr; // keep the two lists apart for their release
    Release(node);
    Release(other);
}

TEST(SegListAppend, LinksAfterTheLastNodeAndReturnsIt)
{
    std::vector<SegList*> n;
    SegList* head = Build({{1, 1}, {2, 2}}, &n);
    SegList* node = KMM_CreateSegList(3, 3, nullptr, nullptr);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(KMM_AppendSegList(n[0], node), n[1]);
    EXPECT_EQ(node->prev, n[1]);
    EXPECT_EQ(n[1]->next, node);
    EXPECT_EQ(Read(head), (Areas{{1, 1}, {2, 2}, {3, 3}}));
    Release(head);
}

TEST(SegListAppend, AppendingAHeadConcatenatesLists)
{
    std::vector<SegList*> a;
    std::vector<SegList*> b;
    SegList* ha = Build({{1, 1}, {2, 2}, {3, 3}}, &a);
    SegList* hb = Build({{10, 1}, {20, 2}}, &b);
    EXPECT_EQ(KMM_AppendSegList(a[1], hb), a[2]);
    EXPECT_EQ(hb->next, b[1]); // the appended node keeps its successors
    EXPECT_EQ(Read(ha), (Areas{{1, 1}, {2, 2}, {3, 3}, {10, 1}, {20, 2}}));
    Release(ha);
}

// free

TEST(SegListFree, NullGivesMinusOne)
{
    EXPECT_EQ(KMM_FreeSegList(nullptr), -1);
}

TEST(SegListFree, AnyNodeFreesTheWholeList)
{
    // The leak checker of the sanitizer build sees any node left behind.
    std::vector<SegList*> n;
    Build({{1, 1}, {2, 2}, {3, 3}}, &n);
    EXPECT_EQ(KMM_FreeSegList(n[1]), 0);

    std::vector<SegList*> m;
    Build({{1, 1}, {2, 2}, {3, 3}}, &m);
    EXPECT_EQ(KMM_FreeSegList(m[2]), 0);

    SegList* one = Build({{1, 1}});
    EXPECT_EQ(KMM_FreeSegList(one), 0);
}

// first fit

TEST(SegListFindSpace, FirstAreaLongEnough)
{
    SegList* head = Build({{0, 5}, {50, 100}});
    EXPECT_EQ(KMM_FindSegSpace(head, 10), 50);
    EXPECT_EQ(KMM_FindSegSpace(head, 5), 0);
    EXPECT_EQ(KMM_FindSegSpace(head, 100), 50);
    EXPECT_EQ(KMM_FindSegSpace(head, 101), -1);
    EXPECT_EQ(Read(head), (Areas{{0, 5}, {50, 100}}));
    Release(head);
}

TEST(SegListFindSpace, FirstInListOrderWinsOverExactFit)
{
    std::vector<SegList*> n;
    SegList* head = Build({{0, 100}, {200, 10}}, &n);
    EXPECT_EQ(KMM_FindSegSpace(head, 10), 0);
    EXPECT_EQ(KMM_FindSegSpace(n[1], 10), 0); // walks from the head
    Release(head);

    SegList* unsorted = Build({{200, 50}, {0, 100}});
    EXPECT_EQ(KMM_FindSegSpace(unsorted, 10), 200);
    EXPECT_EQ(KMM_FindSegSpace(unsorted, 60), 0);
    Release(unsorted);
}

TEST(SegListFindSpace, ZeroOrNegativeGivesHeadAndEmptyListGivesMinusOne)
{
    SegList* head = Build({{30, 5}, {50, 100}});
    EXPECT_EQ(KMM_FindSegSpace(head, 0), 30);
    EXPECT_EQ(KMM_FindSegSpace(head, -7), 30);
    Release(head);
    EXPECT_EQ(KMM_FindSegSpace(nullptr, 0), -1);
    EXPECT_EQ(KMM_FindSegSpace(nullptr, 5), -1);
}

// print

TEST(SegListPrint, TableRowsInExactFormat)
{
    std::vector<SegList*> n;
    SegList* head = Build({{0, 100}, {1200, 5}}, &n);
    const std::string out = kt_Capture([&] { KMM_PrintSegList(n[1]); });
    EXPECT_EQ(out, "Seg\tPos\tLength\n"
                   "----------------------\n"
                   "000\t000\t100\n"
                   "001\t1200\t005\n");
    Release(head);
}

TEST(SegListPrint, EmptyListPrintsHeadingOnly)
{
    const std::string out = kt_Capture([&] { KMM_PrintSegList(nullptr); });
    EXPECT_EQ(out, "Seg\tPos\tLength\n----------------------\n");
}
