// Doubly linked lists of areas and the area arithmetic the memory manager
// needs: intersect, subtract, remove, add, sort, merge and first fit.
//
// A list has no header record: it is known by a pointer to any one of its
// nodes, and the empty list is nullptr. Every operation first walks to the
// head (or the end) itself. A list owns its nodes; an operation that may free
// nodes returns the pointer under which the caller keeps the list from then on.
#pragma once

#include "KelSegment.h"

struct SegList {
    KelSegment seg;
    SegList* prev; // nullptr at the head
    SegList* next; // nullptr at the end
};

// Returns a new node holding exactly these values, or nullptr when no memory
// is left. The neighbours are not updated.
SegList* KMM_CreateSegList(int32_t pos, int32_t len, SegList* prev, SegList* next);

// Return the first / last node of the list holding `list`; nullptr for nullptr.
SegList* KMM_SeekSegListHead(SegList* list);
SegList* KMM_SeekSegListEnd(SegList* list);

// Links `node` (a single node or the head of another list) after the last node
// of `list`. Returns the former last node; `node` itself when `list` is empty;
// the last node of `list` (nullptr when empty) when `node` is nullptr.
SegList* KMM_AppendSegList(SegList* list, SegList* node);

// Frees every node of the list and returns 0; returns -1 for nullptr.
int32_t KMM_FreeSegList(SegList* list);

// Returns a new list of equal areas in the same order, through the node that
// its last append returned (the next-to-last node for lists of three or more);
// find its head with KMM_SeekSegListHead. nullptr for an empty list, and when
// memory runs out (no partial copy is left).
SegList* KMM_CopySegList(SegList* list);

// Diagnostic: prints the list as a table to standard output.
void KMM_PrintSegList(SegList* list);

// 1, -1 or 0 as l1's pos is greater than, smaller than or equal to l2's.
int32_t KMM_CompSegList(const SegList* l1, const SegList* l2);

// Sorts by pos, ascending and stable, by exchanging areas between nodes (the
// links stay). Returns the head, the same node that headed the list before.
SegList* KMM_SortSegList(SegList* list);

// Joins each node with the following ones that start exactly where it ends,
// freeing the absorbed nodes. Returns the head, which is never freed.
SegList* KMM_MergeSegList(SegList* list);

// 1 when the areas share a cell, else 0. For empty areas the test is not
// symmetric: an empty seg1 at p meets seg2 when seg2.pos <= p < seg2 end.
int32_t KMM_AreaIntersectsSeg(const KelSegment* seg1, const KelSegment* seg2);

// What remains of seg1 once seg2's cells are taken away: -1 when they do not
// intersect (segOut untouched), else the number of remainders (0, 1 or 2)
// written to segOut, which has room for two; the lower remainder comes first.
int32_t KMM_SubtractSegs(const KelSegment* seg1, const KelSegment* seg2, KelSegment* segOut);

// Takes the area out of every node it covers (trimming, splitting, freeing)
// and stores in *list the head of what remains, sorted; nullptr when nothing
// remains. Returns 0, or -1 when the area has a negative length or an end
// past INT32_MAX, or when a node that a split needs cannot be had; *list is
// then unchanged.
int32_t KMM_CutAreaFromSegList(SegList** list, int32_t pos, int32_t len);

// KMM_CutAreaFromSegList returning the head: the unchanged list's head when
// the area is refused or memory runs out, nullptr when nothing remains.
SegList* KMM_RemoveAreaFromSegList(SegList* list, int32_t pos, int32_t len);

// Links the single node `node` into the list unless its area intersects a
// node or is refused as above, then sorts and merges (node may be merged
// away), storing the head in *list; an empty list becomes node alone. Needs
// no memory. Returns 0, or -1 when refused: node is then still the caller's.
int32_t KMM_InsertSegNode(SegList** list, SegList* node);

// Adds the area unless it intersects a node, then sorts and merges. Returns
// nullptr for an empty list (nothing is added), else the unchanged head,
// whether the area was added or refused, or no node could be had for it (the
// list is then as it was). Negative lengths and areas ending past INT32_MAX
// are refused.
SegList* KMM_AddAreaToSegList(SegList* list, int32_t pos, int32_t len);

// First fit: the pos of the first node in list order whose len is at least
// n, or -1 when there is none.
int32_t KMM_FindSegSpace(SegList* list, int32_t n);
