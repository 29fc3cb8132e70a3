// Invariant checks shared by the fuzz targets. A broken invariant prints what
// broke to stderr and aborts, so that the fuzzer records the input.
//
// The area arithmetic here is written out on its own (intersection and
// subtraction as the segment lists define them), so that the targets predict
// what the list operations must do without asking the code under test.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "KelMem.h"
#include "KelSegmentList.h"

// Prints the message and aborts, so the fuzzer records the input.
[[noreturn]] inline void fz_vfail(const char* fmt, std::va_list ap)
{
    std::fprintf(stderr, "fuzz invariant broken: ");
    std::vfprintf(stderr, fmt, ap);
    std::fprintf(stderr, "\n");
    std::abort();
}

[[noreturn]] __attribute__((format(printf, 1, 2))) inline void fz_fail(const char* fmt, ...)
{
    std::va_list ap;
    va_start(ap, fmt);
    fz_vfail(fmt, ap);
}

// Aborts with the message when cond is false.
__attribute__((format(printf, 2, 3))) inline void fz_require(bool cond, const char* fmt, ...)
{
    if (cond)
        return;
    std::va_list ap;
    va_start(ap, fmt);
    fz_vfail(fmt, ap);
}

// The tag of a cell, read through its leading bytes whatever variant it holds.
inline DataType_e fz_tag(const KelMem& cell)
{
    DataType_e tag;
    std::memcpy(&tag, &cell, sizeof tag);
    return tag;
}

// An area {pos, len} as plain values.
struct FzArea {
    int32_t pos;
    int32_t len;
    int64_t end() const
    {
        return static_cast<int64_t>(pos) + len;
    }
    bool operator==(const FzArea& o) const
    {
        return pos == o.pos && len == o.len;
    }
};

// Intersection of the area under test a with b: the overlap of the half-open
// ranges, with the asymmetric rule for empty areas.
inline bool fz_intersects(FzArea a, FzArea b)
{
    int64_t d = static_cast<int64_t>(b.pos) - a.pos;
    if (d > 0)
        return d < a.len;
    return b.len > -d;
}

// What remains of a once b is taken out: -1 when they do not intersect, else
// the number of remainders written to out (lower one first).
inline int fz_subtract(FzArea a, FzArea b, FzArea out[2])
{
    if (!fz_intersects(a, b))
        return -1;
    int64_t d = static_cast<int64_t>(b.pos) - a.pos;
    if (d > 0) {
        out[0] = {a.pos, static_cast<int32_t>(d)};
        if (b.end() >= a.end())
            return 1;
        out[1] = {static_cast<int32_t>(b.end()), static_cast<int32_t>(a.end() - b.end())};
        return 2;
    }
    if (b.end() >= a.end())
        return 0;
    out[0] = {static_cast<int32_t>(b.end()), static_cast<int32_t>(a.end() - b.end())};
    return 1;
}

// Stable sort by pos: what the list's neighbour-exchange sort yields.
inline void fz_sortAreas(std::vector<FzArea>* v)
{
    std::stable_sort(v->begin(), v->end(),
                     [](const FzArea& x, const FzArea& y) { return x.pos < y.pos; });
}

// Joins each area with the following ones that start exactly where it ends.
inline void fz_mergeAreas(std::vector<FzArea>* v)
{
    size_t i = 0;
    while (i + 1 < v->size()) {
        if ((*v)[i].end() == (*v)[i + 1].pos) {
            (*v)[i].len += (*v)[i + 1].len;
            v->erase(v->begin() + static_cast<std::ptrdiff_t>(i) + 1);
        } else {
            i++;
        }
    }
}

// The areas of a list from its head, checking that the links agree both ways
// and that the walk ends. `what` names the list in messages.
inline std::vector<FzArea> fz_listAreas(const SegList* head, const char* what)
{
    std::vector<FzArea> out;
    if (!head)
        return out;
    fz_require(head->prev == nullptr, "%s: head node has a predecessor", what);
    const SegList* prev = nullptr;
    for (const SegList* n = head; n; prev = n, n = n->next) {
        fz_require(n->prev == prev, "%s: node %zu has a wrong prev link", what, out.size());
        fz_require(out.size() < 100000, "%s: list does not end", what);
        out.push_back({n->seg.pos, n->seg.len});
    }
    return out;
}

// A list sorted by pos whose areas have no negative length and whose
// positive areas are pairwise disjoint.
inline void fz_checkSortedDisjoint(const std::vector<FzArea>& v, const char* what)
{
    int64_t lastEnd = INT64_MIN;
    for (size_t i = 0; i < v.size(); i++) {
        fz_require(v[i].len >= 0, "%s: area %zu {%d,%d} has a negative length", what, i, v[i].pos,
                   v[i].len);
        if (i > 0)
            fz_require(v[i - 1].pos <= v[i].pos, "%s: area %zu {%d,%d} is out of order", what, i,
                       v[i].pos, v[i].len);
        if (v[i].len > 0) {
            fz_require(v[i].pos >= lastEnd, "%s: area %zu {%d,%d} overlaps an earlier one", what, i,
                       v[i].pos, v[i].len);
            lastEnd = v[i].end();
        }
    }
}

// No area ends where its successor begins.
inline void fz_checkMerged(const std::vector<FzArea>& v, const char* what)
{
    for (size_t i = 0; i + 1 < v.size(); i++)
        fz_require(v[i].end() != v[i + 1].pos, "%s: areas %zu and %zu touch but were not joined",
                   what, i, i + 1);
}

// One cell per element: 1 where a free area covers it.
inline std::vector<uint8_t> fz_freeCells(const KelMM* kmm)
{
    std::vector<uint8_t> cells(static_cast<size_t>(kmm->memSize), 0);
    std::vector<FzArea> areas = fz_listAreas(kmm->memFree, "free list");
    fz_checkSortedDisjoint(areas, "free list");
    for (const FzArea& a : areas) {
        if (a.len == 0)
            continue;
        fz_require(a.pos >= 0 && a.end() <= kmm->memSize,
                   "free list: area {%d,%d} lies outside memory of %d cells", a.pos, a.len,
                   kmm->memSize);
        for (int32_t c = a.pos; c < a.end(); c++)
            cells[static_cast<size_t>(c)] = 1;
    }
    return cells;
}

// How strictly fz_checkManager judges the relation of free and owned cells.
struct FzCover {
    bool ownedDisjoint = true; // no cell lies in two segments of processes
    bool freeNotOwned = true;  // no cell is both free and owned
    bool exact = true;         // every cell is either free or owned, exactly once
    bool merged = true;        // no two free areas touch: every give-back joins them
};

// The invariants of a manager: the free list is sorted with disjoint positive
// areas inside memory; every process sits in its own slot with a well-linked
// segment list whose segments lie inside memory and whose cells carry a value
// tag or the empty tag; and free and owned cells relate as `cover` says.
inline void fz_checkManager(const KelMM* kmm, FzCover cover)
{
    fz_require(kmm != nullptr, "manager is null");
    fz_require(kmm->memSize >= 1 && kmm->mem != nullptr, "manager has no memory");
    std::vector<uint8_t> freeCell = fz_freeCells(kmm);
    if (cover.merged)
        fz_checkMerged(fz_listAreas(kmm->memFree, "free list"), "free list");
    std::vector<uint8_t> owners(freeCell.size(), 0);
    for (int32_t id = 0; id < 10; id++) {
        const Process* p = kmm->processList[id];
        if (!p)
            continue;
        fz_require(p->ID == id, "process in slot %d says it is %d", id, p->ID);
        std::vector<FzArea> segs = fz_listAreas(p->segments, "process segments");
        fz_require(!segs.empty(), "process %d has no segment", id);
        for (size_t k = 0; k < segs.size(); k++) {
            const FzArea& s = segs[k];
            fz_require(s.pos >= 0 && s.len >= 0 && s.end() <= kmm->memSize,
                       "process %d segment %zu {%d,%d} lies outside memory of %d cells", id, k,
                       s.pos, s.len, kmm->memSize);
            for (int32_t c = s.pos; c < s.end(); c++) {
                const KelMem& cell = kmm->mem[c];
                const DataType_e tag = fz_tag(cell);
                fz_require(tag >= DATA_ERROR && tag <= DATA_INSTRUCTION && tag != DATA_MAGIC,
                           "cell %d of process %d carries the tag %d", c, id,
                           static_cast<int>(tag));
                if (tag == DATA_INSTRUCTION)
                    fz_require(cell.instruction.value == INSTRUCTION_RUN ||
                                   cell.instruction.value == INSTRUCTION_HALT,
                               "cell %d holds instruction %d", c,
                               static_cast<int>(cell.instruction.value));
                if (tag == DATA_STRING)
                    fz_require(std::memchr(cell.string.value, '\0', sizeof cell.string.value),
                               "cell %d holds an unterminated string", c);
                uint8_t& o = owners[static_cast<size_t>(c)];
                if (cover.ownedDisjoint)
                    fz_require(o == 0, "cell %d lies in two segments (process %d among them)", c,
                               id);
                if (o < 255)
                    o++;
                if (cover.freeNotOwned)
                    fz_require(!freeCell[static_cast<size_t>(c)],
                               "cell %d of process %d is also free", c, id);
            }
        }
    }
    if (cover.exact) {
        for (size_t c = 0; c < freeCell.size(); c++)
            fz_require(freeCell[c] + owners[c] == 1, "cell %zu is covered %d times", c,
                       freeCell[c] + owners[c]);
    }
}

// The segments of every slot (empty vector and absent flag for an empty slot).
struct FzProcs {
    bool exists[10] = {};
    std::vector<FzArea> segs[10];
    bool operator==(const FzProcs& o) const
    {
        for (int i = 0; i < 10; i++) {
            if (exists[i] != o.exists[i] || !(segs[i] == o.segs[i]))
                return false;
        }
        return true;
    }
};

inline FzProcs fz_procs(const KelMM* kmm)
{
    FzProcs p;
    for (int i = 0; i < 10; i++) {
        if (kmm->processList[i]) {
            p.exists[i] = true;
            p.segs[i] = fz_listAreas(kmm->processList[i]->segments, "process segments");
        }
    }
    return p;
}

// Everything a manager holds, for before/after comparisons.
struct FzSnapshot {
    FzProcs procs;
    std::vector<FzArea> freeList;
    std::vector<uint8_t> freeCells;
    std::vector<uint8_t> cellBytes;
};

inline FzSnapshot fz_snapshot(const KelMM* kmm)
{
    FzSnapshot s;
    s.procs = fz_procs(kmm);
    s.freeList = fz_listAreas(kmm->memFree, "free list");
    s.freeCells = fz_freeCells(kmm);
    const auto* b = reinterpret_cast<const uint8_t*>(kmm->mem);
    s.cellBytes.assign(b, b + sizeof(KelMem) * static_cast<size_t>(kmm->memSize));
    return s;
}

// The string list of Explode: a nullptr-terminated array of non-empty tokens.
inline size_t fz_countTokens(char** list)
{
    size_t n = 0;
    if (!list)
        return 0;
    while (list[n]) {
        fz_require(n < 100000, "string list does not end");
        n++;
    }
    return n;
}
