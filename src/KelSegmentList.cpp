// Segment lists: doubly linked lists of areas of cells, and the area
// arithmetic that the memory manager builds on. The free list is kept sorted
// by position, its areas disjoint, and touching areas joined when an area is
// given back; a removal never joins neighbours.
//
// Positions and lengths are cells as int32_t. Sums of a position and a
// length are formed in 64 bits, so no operation overflows; areas whose end
// does not fit in int32_t are refused where an area enters a list, and
// results stay in range for every area whose end fits.

#include "KelSegmentList.h"

#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "KelAlloc.h"

namespace {

int64_t segEnd(const KelSegment& s)
{
    return static_cast<int64_t>(s.pos) + s.len;
}

// An area that may enter a list: a length of zero or more and an end that
// fits in int32_t.
bool areaIsValid(int32_t pos, int32_t len)
{
    return len >= 0 && static_cast<int64_t>(pos) + len <= INT32_MAX;
}

// Unlinks node from its neighbours and frees it; returns its former successor.
SegList* unlinkAndFree(SegList* node)
{
    SegList* next = node->next;
    if (node->prev)
        node->prev->next = next;
    if (next)
        next->prev = node->prev;
    std::free(node);
    return next;
}

// Takes area out of every node of the list, splitting a node around it with
// a node taken from the chain *spare, which holds one for every split.
// Returns the head of what remains, sorted; nullptr when nothing remains.
SegList* cutArea(SegList* list, const KelSegment& area, SegList** spare)
{
    SegList* survivor = nullptr; // some node that is kept, to find the head by
    SegList* node = KMM_SeekSegListHead(list);
    while (node) {
        KelSegment rest[2];
        switch (KMM_SubtractSegs(&node->seg, &area, rest)) {
        case 0:
            // With the last node gone survivor is still nullptr: nothing remains.
            node = unlinkAndFree(node);
            continue;
        case 2: {
            // The upper remainder lies clear of the area; the walk reaches
            // it at the end and keeps it. Its node was counted and had.
            SegList* upper = *spare;
            *spare = upper->next; // NOLINT(clang-analyzer-core.NullDereference)
            upper->seg = rest[1];
            upper->next = nullptr;
            SegList* last = KMM_SeekSegListEnd(node);
            last->next = upper;
            upper->prev = last;
            node->seg = rest[0];
            break;
        }
        case 1:
            node->seg = rest[0];
            break;
        default:
            break;
        }
        survivor = node;
        node = node->next;
    }
    return KMM_SortSegList(survivor);
}

} // namespace

SegList* KMM_CreateSegList(int32_t pos, int32_t len, SegList* prev, SegList* next)
{
    auto* node = static_cast<SegList*>(kel_Malloc(sizeof(SegList)));
    if (!node)
        return nullptr;
    node->seg.pos = pos;
    node->seg.len = len;
    node->prev = prev;
    node->next = next;
    return node;
}

SegList* KMM_SeekSegListHead(SegList* list)
{
    while (list && list->prev)
        list = list->prev;
    return list;
}

SegList* KMM_SeekSegListEnd(SegList* list)
{
    while (list && list->next)
        list = list->next;
    return list;
}

SegList* KMM_AppendSegList(SegList* list, SegList* node)
{
    SegList* last = KMM_SeekSegListEnd(list);
    if (node) {
        node->prev = last;
        if (last)
            last->next = node;
    }
    return last ? last : node;
}

int32_t KMM_FreeSegList(SegList* list)
{
    if (!list)
        return -1;
    for (SegList* node = KMM_SeekSegListHead(list); node;)
        node = unlinkAndFree(node);
    return 0;
}

SegList* KMM_CopySegList(SegList* list)
{
    SegList* copy = nullptr;
    for (SegList* node = KMM_SeekSegListHead(list); node; node = node->next) {
        SegList* made = KMM_CreateSegList(node->seg.pos, node->seg.len, nullptr, nullptr);
        if (!made) {
            // A copy short of an area would pass for the whole list.
            KMM_FreeSegList(copy);
            return nullptr;
        }
        copy = KMM_AppendSegList(copy, made);
    }
    return copy;
}

void KMM_PrintSegList(SegList* list)
{
    std::printf("Seg\tPos\tLength\n");
    std::printf("----------------------\n");
    int32_t row = 0;
    for (SegList* node = KMM_SeekSegListHead(list); node; node = node->next, row++)
        std::printf("%03d\t%03d\t%03d\n", row, node->seg.pos, node->seg.len);
}

int32_t KMM_CompSegList(const SegList* l1, const SegList* l2)
{
    assert(l1 && l2); // GCOVR_EXCL_BR_LINE: the failing side aborts
    if (l1->seg.pos > l2->seg.pos)
        return 1;
    if (l1->seg.pos < l2->seg.pos)
        return -1;
    return 0;
}

SegList* KMM_SortSegList(SegList* list)
{
    SegList* head = KMM_SeekSegListHead(list);
    // Exchange sort of neighbours that steps back after every exchange; the
    // areas move, the nodes stay, so the head node keeps heading the list.
    for (SegList* cur = head; cur && cur->next;) {
        if (KMM_CompSegList(cur, cur->next) > 0) {
            std::swap(cur->seg, cur->next->seg);
            if (cur->prev)
                cur = cur->prev;
        } else {
            cur = cur->next;
        }
    }
    return head;
}

SegList* KMM_MergeSegList(SegList* list)
{
    SegList* head = KMM_SeekSegListHead(list);
    SegList* cur = head;
    while (cur && cur->next) {
        SegList* next = cur->next;
        int64_t joined = static_cast<int64_t>(cur->seg.len) + next->seg.len;
        if (segEnd(cur->seg) == next->seg.pos && joined >= INT32_MIN && joined <= INT32_MAX) {
            cur->seg.len = static_cast<int32_t>(joined);
            cur->next = next->next;
            if (cur->next)
                cur->next->prev = cur;
            std::free(next);
        } else {
            cur = next;
        }
    }
    return head;
}

int32_t KMM_AreaIntersectsSeg(const KelSegment* seg1, const KelSegment* seg2)
{
    assert(seg1 && seg2); // GCOVR_EXCL_BR_LINE: the failing side aborts
    int64_t d = static_cast<int64_t>(seg2->pos) - seg1->pos;
    if (d > 0)
        return d < seg1->len ? 1 : 0;
    return seg2->len > -d ? 1 : 0;
}

int32_t KMM_SubtractSegs(const KelSegment* seg1, const KelSegment* seg2, KelSegment* segOut)
{
    assert(seg1 && seg2 && segOut); // GCOVR_EXCL_BR_LINE: the failing side aborts
    if (!KMM_AreaIntersectsSeg(seg1, seg2))
        return -1;
    int64_t d = static_cast<int64_t>(seg2->pos) - seg1->pos;
    int64_t end1 = segEnd(*seg1);
    int64_t end2 = segEnd(*seg2);
    int32_t n = 0;
    // The lower remainder: from seg1's start up to seg2's start.
    if (d > 0)
        segOut[n++] = {seg1->pos, static_cast<int32_t>(d)};
    // The upper remainder: from seg2's end up to seg1's end.
    if (end2 < end1)
        segOut[n++] = {static_cast<int32_t>(end2), static_cast<int32_t>(end1 - end2)};
    return n;
}

int32_t KMM_CutAreaFromSegList(SegList** list, int32_t pos, int32_t len)
{
    if (!list || !areaIsValid(pos, len))
        return -1;
    if (!*list)
        return 0;
    const KelSegment area = {pos, len};
    // Every node that a split needs is had before anything changes, so that
    // running out of memory leaves the list as it was.
    SegList* spare = nullptr;
    for (SegList* node = KMM_SeekSegListHead(*list); node; node = node->next) {
        KelSegment rest[2];
        if (KMM_SubtractSegs(&node->seg, &area, rest) != 2)
            continue;
        SegList* made = KMM_CreateSegList(0, 0, nullptr, spare);
        if (!made) {
            KMM_FreeSegList(spare);
            return -1;
        }
        spare = made;
    }
    *list = cutArea(*list, area, &spare);
    KMM_FreeSegList(spare); // frees nothing: every spare node went into the list
    return 0;
}

SegList* KMM_RemoveAreaFromSegList(SegList* list, int32_t pos, int32_t len)
{
    KMM_CutAreaFromSegList(&list, pos, len);
    return KMM_SeekSegListHead(list);
}

int32_t KMM_InsertSegNode(SegList** list, SegList* node)
{
    if (!list || !node || !areaIsValid(node->seg.pos, node->seg.len))
        return -1;
    SegList* head = KMM_SeekSegListHead(*list);
    for (const SegList* s = head; s; s = s->next) {
        if (KMM_AreaIntersectsSeg(&node->seg, &s->seg))
            return -1;
    }
    node->next = nullptr;
    KMM_AppendSegList(head, node);
    // Sorting moves areas, not nodes, so the head stays the head; an empty
    // list becomes node alone.
    *list = KMM_MergeSegList(KMM_SortSegList(head ? head : node));
    return 0;
}

SegList* KMM_AddAreaToSegList(SegList* list, int32_t pos, int32_t len)
{
    SegList* head = KMM_SeekSegListHead(list);
    if (!head)
        return nullptr;
    // Without a node, or when the area is refused, the list stays as it was.
    SegList* node = KMM_CreateSegList(pos, len, nullptr, nullptr);
    if (KMM_InsertSegNode(&head, node) != 0)
        std::free(node);
    return head; // NOLINT(clang-analyzer-unix.Malloc): linked, node is the list's
}

int32_t KMM_FindSegSpace(SegList* list, int32_t n)
{
    for (SegList* node = KMM_SeekSegListHead(list); node; node = node->next) {
        if (node->seg.len >= n)
            return node->seg.pos;
    }
    return -1;
}
