// The list operations that report their outcome: KMM_CutAreaFromSegList,
// which needs every node of its splits before it changes anything, and
// KMM_InsertSegNode, which links a node it is given and needs no memory.

#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "KelSegmentList.h"
#include "test_util.h"

namespace {

using Areas = std::vector<std::pair<int32_t, int32_t>>;

SegList* build(const Areas& areas)
{
    SegList* head = nullptr;
    for (const auto& a : areas)
        head = KMM_SeekSegListHead(
            KMM_AppendSegList(head, KMM_CreateSegList(a.first, a.second, nullptr, nullptr)));
    return head;
}

// The areas from the head, checking every prev link on the way.
Areas read(SegList* any)
{
    Areas out;
    const SegList* prev = nullptr;
    for (SegList* n = KMM_SeekSegListHead(any); n; prev = n, n = n->next) {
        EXPECT_EQ(n->prev, prev);
        out.emplace_back(n->seg.pos, n->seg.len);
    }
    return out;
}

// One operation on a list: the list before, the area, the result and the
// list after.
struct AreaCase {
    const char* what;
    Areas list;
    int32_t pos, len;
    int32_t result;
    Areas after;
};

const AreaCase kCuts[] = {
    {"a split", {{0, 1000}}, 100, 50, 0, {{0, 100}, {150, 850}}},
    {"two overlapping nodes, each split",
     {{0, 100}, {10, 50}},
     20,
     5,
     0,
     {{0, 20}, {10, 10}, {25, 75}, {25, 35}}},
    {"trim, drop and trim across three nodes",
     {{0, 10}, {20, 5}, {30, 10}},
     5,
     30,
     0,
     {{0, 5}, {35, 5}}},
    {"everything", {{0, 10}}, 0, 10, 0, {}},
    {"no cell of the list", {{0, 10}}, 50, 10, 0, {{0, 10}}},
    {"an empty list", {}, 0, 10, 0, {}},
    {"a negative length is refused", {{0, 10}}, 2, -1, -1, {{0, 10}}},
    {"an end past INT32_MAX is refused", {{0, 10}}, INT32_MAX, 1, -1, {{0, 10}}},
};

const AreaCase kInserts[] = {
    {"into an empty list", {}, 5, 10, 0, {{5, 10}}},
    {"joining both neighbours", {{0, 10}, {20, 10}}, 10, 10, 0, {{0, 30}}},
    {"sorted in before the head", {{50, 10}}, 0, 10, 0, {{0, 10}, {50, 10}}},
    {"refused: it overlaps a node", {{0, 10}}, 5, 10, -1, {{0, 10}}},
    {"refused: a negative length", {{0, 10}}, 20, -1, -1, {{0, 10}}},
};

} // namespace

TEST(SegListCut, TakesTheAreaOutOrRefusesAndKeepsTheList)
{
    for (const AreaCase& c : kCuts) {
        SegList* list = build(c.list);
        EXPECT_EQ(KMM_CutAreaFromSegList(&list, c.pos, c.len), c.result) << c.what;
        EXPECT_EQ(read(list), c.after) << c.what;
        EXPECT_TRUE(list == nullptr || list->prev == nullptr) << c.what << ": not the head";
        KMM_FreeSegList(list);
    }
    EXPECT_EQ(KMM_CutAreaFromSegList(nullptr, 0, 1), -1);
}

TEST(SegListInsert, LinksTheNodeOrLeavesItToTheCaller)
{
    for (const AreaCase& c : kInserts) {
        SegList* list = build(c.list);
        SegList* node = KMM_CreateSegList(c.pos, c.len, nullptr, nullptr);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(KMM_InsertSegNode(&list, node), c.result) << c.what;
        EXPECT_EQ(read(list), c.after) << c.what;
        if (c.result != 0)
            std::free(node); // refused: still ours
        KMM_FreeSegList(list);
    }
    SegList* list = nullptr;
    EXPECT_EQ(KMM_InsertSegNode(&list, nullptr), -1);
    EXPECT_EQ(KMM_InsertSegNode(nullptr, nullptr), -1);
}
