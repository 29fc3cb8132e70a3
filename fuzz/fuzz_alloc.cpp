// Fuzzes the area arithmetic and the allocator with decoded operations.
//
// Bytes 0-1 choose the memory size (64 to 1000 cells); then each operation
// is a selector byte and a few argument bytes: create a process at a
// position or by first fit, terminate one, give back a process's segment or
// a random area, reserve a bare segment at a position or by first fit, store
// into a process, print the reports, and add to, remove from or copy a
// standalone segment list.
//
// A model kept here predicts every result: which cells are free, which
// segments each process owns, and the result codes; after every operation
// the manager must agree with it and keep its invariants. The standalone list
// is predicted area by area. Free and owned cells must cover memory exactly
// once until an operation breaks that on purpose: a bare reservation (owned
// by no process) or a segment given back while its process still holds it.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "KelMem.h"
#include "KelSegmentList.h"
#include "fuzz_check.h"

namespace {

class Reader {
  public:
    Reader(const uint8_t* d, size_t n) : d_(d), n_(n) {}
    bool done() const
    {
        return i_ >= n_;
    }
    uint8_t byte()
    {
        return i_ < n_ ? d_[i_++] : 0;
    }
    uint16_t u16()
    {
        uint16_t hi = byte();
        return static_cast<uint16_t>((hi << 8) | byte());
    }
    uint32_t u32()
    {
        uint32_t hi = u16();
        return (hi << 16) | u16();
    }

  private:
    const uint8_t* d_;
    size_t n_;
    size_t i_ = 0;
};

// The manager as it must be.
struct Model {
    int32_t memSize = 0;
    std::vector<uint8_t> freeCell;
    FzProcs procs;
    bool tainted = false;         // an area given back while its process still owns it
    bool bare = false;            // cells reserved for no process
    bool ownedOverlap = false;    // first fit after tainting may hand out owned cells
    std::vector<FzArea> reserved; // areas reserved by the current operation

    bool ownedHit(FzArea a) const
    {
        for (int i = 0; i < 10; i++) {
            if (!procs.exists[i])
                continue;
            for (const FzArea& s : procs.segs[i]) {
                if (fz_intersects(a, s))
                    return true;
            }
        }
        return false;
    }

    // The free list refuses an area that meets a free cell; an empty free
    // list is begun anew with the area.
    void giveBack(FzArea a)
    {
        for (int32_t c = a.pos; c < a.end(); c++) {
            if (freeCell[static_cast<size_t>(c)])
                return;
        }
        for (int32_t c = a.pos; c < a.end(); c++)
            freeCell[static_cast<size_t>(c)] = 1;
    }

    void take(FzArea a)
    {
        for (int32_t c = a.pos; c < a.end(); c++)
            freeCell[static_cast<size_t>(c)] = 0;
        if (a.len > 0)
            reserved.push_back(a);
    }

    ErrMessage_t reserveAt(FzArea a)
    {
        if (a.end() > memSize || ownedHit(a))
            return ERR_INSUFFICIENTMEM;
        take(a);
        return ERR_NONE;
    }

    // Whether some process owns exactly this segment.
    bool ownsExactly(FzArea a) const
    {
        for (int i = 0; i < 10; i++) {
            if (!procs.exists[i])
                continue;
            for (const FzArea& s : procs.segs[i]) {
                if (s == a)
                    return true;
            }
        }
        return false;
    }
};

// Removal from a list of areas, node by node: a node wholly inside the area
// goes, a node cut in two keeps its lower part and an upper node is appended;
// the result is sorted.
void refRemove(std::vector<FzArea>* v, FzArea area)
{
    std::vector<FzArea> kept;
    std::vector<FzArea> appended;
    for (const FzArea& node : *v) {
        FzArea rest[2];
        switch (fz_subtract(node, area, rest)) {
        case -1:
            kept.push_back(node);
            break;
        case 0:
            break;
        case 1:
            kept.push_back(rest[0]);
            break;
        default:
            kept.push_back(rest[0]);
            appended.push_back(rest[1]);
            break;
        }
    }
    kept.insert(kept.end(), appended.begin(), appended.end());
    fz_sortAreas(&kept);
    *v = kept;
}

// Addition to a non-empty list: refused when the area meets a node, else
// appended, sorted and merged. True when added.
bool refAdd(std::vector<FzArea>* v, FzArea area)
{
    for (const FzArea& node : *v) {
        if (fz_intersects(area, node))
            return false;
    }
    v->push_back(area);
    fz_sortAreas(v);
    fz_mergeAreas(v);
    return true;
}

// First fit on the list as it stands: the first node long enough.
int32_t refFirstFit(const std::vector<FzArea>& v, int32_t n)
{
    for (const FzArea& a : v) {
        if (a.len >= n)
            return a.pos;
    }
    return -1;
}

int32_t readSize(Reader& r, int32_t memSize)
{
    uint8_t b = r.byte();
    if (b < 192)
        return b % 48;
    if (b < 248)
        return (b - 192) * 12;
    return memSize + (b - 252);
}

// A position anywhere in memory or a little past it, or often the start or
// the end of an owned segment, so that areas touch and collide.
int32_t readPos(Reader& r, const Model& m)
{
    uint8_t b = r.byte();
    if (b < 96) {
        std::vector<FzArea> all;
        for (int i = 0; i < 10; i++) {
            if (m.procs.exists[i])
                all.insert(all.end(), m.procs.segs[i].begin(), m.procs.segs[i].end());
        }
        if (!all.empty()) {
            const FzArea& s = all[b % all.size()];
            return b & 1 ? static_cast<int32_t>(s.end()) : s.pos;
        }
    }
    return r.u16() % (m.memSize + 8);
}

void readSizes(Reader& r, int32_t memSize, int32_t* nSegs, int32_t sizes[4])
{
    *nSegs = 1 + r.byte() % 4;
    for (int32_t k = 0; k < *nSegs; k++)
        sizes[k] = readSize(r, memSize);
}

void checkAgainstModel(const KelMM* kmm, const Model& m)
{
    FzCover cover;
    cover.ownedDisjoint = !m.ownedOverlap;
    cover.freeNotOwned = !m.tainted;
    cover.exact = !m.tainted && !m.bare;
    fz_checkManager(kmm, cover);
    fz_require(kmm->memSize == m.memSize, "memSize became %d", kmm->memSize);
    fz_require(fz_freeCells(kmm) == m.freeCell, "the free cells differ from the model");
    fz_require(fz_procs(kmm) == m.procs, "the process table differs from the model");
    for (const FzArea& a : m.reserved) {
        for (int32_t c = a.pos; c < a.end(); c++)
            fz_require(fz_tag(kmm->mem[c]) == DATA_ERROR, "reserved cell %d carries tag %d", c,
                       static_cast<int>(fz_tag(kmm->mem[c])));
    }
}

// Unlinks segment k of process id and frees its node, as the owner of a
// segment given back with KMM_FreeSegment does.
void dropSegment(KelMM* kmm, int32_t id, size_t k)
{
    Process* p = kmm->processList[id];
    SegList* node = KMM_SeekSegListHead(p->segments);
    for (size_t i = 0; i < k; i++)
        node = node->next;
    if (node->prev)
        node->prev->next = node->next;
    if (node->next)
        node->next->prev = node->prev;
    SegList* rest = node->prev ? node->prev : node->next;
    std::free(node);
    p->segments = KMM_SeekSegListHead(rest);
}

void opCreateAt(KelMM* kmm, Model& m, Reader& r)
{
    int32_t id = r.byte() % 12;
    int32_t pos = readPos(r, m);
    int32_t nSegs = 0;
    int32_t sizes[4] = {};
    readSizes(r, m.memSize, &nSegs, sizes);
    ErrMessage_t expect = ERR_NONE;
    if (id >= 10) {
        expect = ERR_UNKNOWN;
    } else if (m.procs.exists[id]) {
        expect = ERR_PROCESSEXISTS;
    } else {
        m.procs.exists[id] = true;
        int32_t start = pos;
        for (int32_t k = 0; k < nSegs && expect == ERR_NONE; k++) {
            FzArea a = {start, sizes[k]};
            if (m.reserveAt(a) != ERR_NONE) {
                for (const FzArea& s : m.procs.segs[id])
                    m.giveBack(s);
                m.procs.exists[id] = false;
                m.procs.segs[id].clear();
                expect = ERR_INSUFFICIENTMEM;
            } else {
                m.procs.segs[id].push_back(a);
                start += sizes[k];
            }
        }
    }
    ErrMessage_t got = KMM_AllocateProcessAt(kmm, id, pos, nSegs, sizes);
    fz_require(got == expect, "KMM_AllocateProcessAt(P%d at %d, %d segments) gave %d, expected %d",
               id, pos, nSegs, static_cast<int>(got), static_cast<int>(expect));
}

void opCreateFirstFit(KelMM* kmm, Model& m, Reader& r)
{
    int32_t id = r.byte() % 12;
    int32_t nSegs = 0;
    int32_t sizes[4] = {};
    readSizes(r, m.memSize, &nSegs, sizes);
    ErrMessage_t expect = ERR_NONE;
    if (id >= 10 || m.procs.exists[id]) {
        expect = ERR_UNKNOWN;
    } else {
        std::vector<FzArea> nodes = fz_listAreas(kmm->memFree, "free list");
        std::vector<FzArea> segs;
        for (int32_t k = 0; k < nSegs && expect == ERR_NONE; k++) {
            int32_t at = refFirstFit(nodes, sizes[k]);
            if (at < 0) {
                for (const FzArea& s : segs)
                    m.giveBack(s);
                expect = ERR_INSUFFICIENTMEM;
                break;
            }
            FzArea a = {at, sizes[k]};
            if (a.len > 0)
                refRemove(&nodes, a);
            if (m.tainted && m.ownedHit(a))
                m.ownedOverlap = true;
            m.take(a);
            segs.push_back(a);
        }
        if (expect == ERR_NONE) {
            m.procs.exists[id] = true;
            m.procs.segs[id] = segs;
        }
    }
    uint32_t got = KMM_AllocateProcess(kmm, id, nSegs, sizes);
    fz_require(got == static_cast<uint32_t>(expect),
               "KMM_AllocateProcess(P%d, %d segments) gave %u, expected %d", id, nSegs, got,
               static_cast<int>(expect));
}

void opTerminate(KelMM* kmm, Model& m, Reader& r)
{
    int32_t id = r.byte() % 10;
    ErrMessage_t expect = ERR_NOPROCESS;
    if (m.procs.exists[id]) {
        for (const FzArea& s : m.procs.segs[id])
            m.giveBack(s);
        m.procs.exists[id] = false;
        m.procs.segs[id].clear();
        expect = ERR_NONE;
    }
    ErrMessage_t got = KMM_TerminateProcess(kmm, id);
    fz_require(got == expect, "KMM_TerminateProcess(P%d) gave %d, expected %d", id,
               static_cast<int>(got), static_cast<int>(expect));
}

void opFreeOwned(KelMM* kmm, Model& m, Reader& r)
{
    int32_t from = r.byte() % 10;
    uint8_t pick = r.byte();
    int32_t id = -1;
    for (int32_t i = 0; i < 10 && id < 0; i++) {
        if (m.procs.exists[(from + i) % 10])
            id = (from + i) % 10;
    }
    if (id < 0)
        return;
    std::vector<FzArea>& segs = m.procs.segs[id];
    size_t k = pick % segs.size();
    FzArea s = segs[k];
    ErrMessage_t got = KMM_FreeSegment(kmm, s.pos, s.len);
    fz_require(got == ERR_NONE, "KMM_FreeSegment of P%d's segment {%d,%d} gave %d", id, s.pos,
               s.len, static_cast<int>(got));
    m.giveBack(s);
    if (segs.size() >= 2) {
        // The owner lets go of the segment, which keeps free and owned apart.
        dropSegment(kmm, id, k);
        segs.erase(segs.begin() + static_cast<std::ptrdiff_t>(k));
    } else if (s.len > 0) {
        m.tainted = true;
    }
}

void opFreeArea(KelMM* kmm, Model& m, Reader& r)
{
    int32_t pos = readPos(r, m);
    int32_t len = readSize(r, m.memSize);
    FzArea a = {pos, len};
    ErrMessage_t expect = ERR_UNKNOWN;
    if (m.ownsExactly(a)) {
        m.giveBack(a);
        if (len > 0)
            m.tainted = true;
        expect = ERR_NONE;
    }
    ErrMessage_t got = KMM_FreeSegment(kmm, pos, len);
    fz_require(got == expect, "KMM_FreeSegment({%d,%d}) gave %d, expected %d", pos, len,
               static_cast<int>(got), static_cast<int>(expect));
}

void opReserveAt(KelMM* kmm, Model& m, Reader& r)
{
    int32_t pos = readPos(r, m);
    int32_t len = readSize(r, m.memSize);
    ErrMessage_t expect = m.reserveAt({pos, len});
    if (expect == ERR_NONE && len > 0)
        m.bare = true;
    ErrMessage_t got = KMM_AllocateSegmentAt(kmm, pos, len);
    fz_require(got == expect, "KMM_AllocateSegmentAt(%d, %d) gave %d, expected %d", pos, len,
               static_cast<int>(got), static_cast<int>(expect));
}

void opReserveFirstFit(KelMM* kmm, Model& m, Reader& r)
{
    int32_t len = readSize(r, m.memSize);
    int32_t expect = refFirstFit(fz_listAreas(kmm->memFree, "free list"), len);
    if (expect >= 0) {
        m.take({expect, len});
        if (len > 0)
            m.bare = true;
    }
    int32_t got = KMM_AllocateSegment(kmm, len);
    fz_require(got == expect, "KMM_AllocateSegment(%d) gave %d, expected %d", len, got, expect);
}

// The segment of the process after the first that holds addr, if any.
bool storeAccepted(const Model& m, int32_t id, int32_t addr)
{
    const std::vector<FzArea>& segs = m.procs.segs[id];
    for (size_t k = 1; k < segs.size(); k++) {
        if (segs[k].pos <= addr && addr < segs[k].end())
            return true;
    }
    return false;
}

void opStore(KelMM* kmm, Model& m, Reader& r, bool text)
{
    int32_t id = r.byte() % 10;
    int32_t addr = r.u16() % m.memSize;
    ErrMessage_t expect = !m.procs.exists[id]          ? ERR_NOPROCESS
                          : storeAccepted(m, id, addr) ? ERR_NONE
                                                       : ERR_INVALIDADDRESS;
    if (text) {
        char str[21] = {};
        size_t len = r.byte() % 21;
        for (size_t i = 0; i < len; i++)
            str[i] = static_cast<char>('a' + r.byte() % 26);
        ErrMessage_t got = KMM_StoreString(kmm, id, addr, str);
        fz_require(got == expect, "KMM_StoreString(P%d, %d) gave %d, expected %d", id, addr,
                   static_cast<int>(got), static_cast<int>(expect));
        if (got == ERR_NONE)
            fz_require(fz_tag(kmm->mem[addr]) == DATA_STRING &&
                           std::strcmp(kmm->mem[addr].string.value, str) == 0,
                       "KMM_StoreString did not store \"%s\" at %d", str, addr);
    } else {
        uint32_t val = r.u32();
        ErrMessage_t got = KMM_StoreInteger(kmm, id, addr, val);
        fz_require(got == expect, "KMM_StoreInteger(P%d, %d) gave %d, expected %d", id, addr,
                   static_cast<int>(got), static_cast<int>(expect));
        if (got == ERR_NONE)
            fz_require(fz_tag(kmm->mem[addr]) == DATA_INTEGER &&
                           kmm->mem[addr].integer.value == val,
                       "KMM_StoreInteger did not store %u at %d", val, addr);
    }
}

void opReport(KelMM* kmm, const Model& m, Reader& r)
{
    int32_t id = r.byte() % 12;
    const bool slot = id < 10;
    const bool exists = slot && m.procs.exists[id];
    FzSnapshot before = fz_snapshot(kmm);
    ErrMessage_t t = KMM_PrintProcessTable(kmm, id);
    ErrMessage_t expectT = !slot ? ERR_UNKNOWN : (id == 0 || exists) ? ERR_NONE : ERR_NOPROCESS;
    fz_require(t == expectT, "KMM_PrintProcessTable(%d) gave %d", id, static_cast<int>(t));
    ErrMessage_t p = KMM_PrintProcessMemory(kmm, id);
    ErrMessage_t expectP = !slot ? ERR_UNKNOWN : exists ? ERR_NONE : ERR_NOPROCESS;
    fz_require(p == expectP, "KMM_PrintProcessMemory(%d) gave %d", id, static_cast<int>(p));
    fz_require(KMM_PrintAllMemory(kmm) == ERR_NONE, "KMM_PrintAllMemory failed");
    FzSnapshot after = fz_snapshot(kmm);
    fz_require(before.procs == after.procs && before.freeList == after.freeList &&
                   before.cellBytes == after.cellBytes,
               "a report changed the manager");
}

// The standalone list, known by its head, and its model.
struct Standalone {
    SegList* head = nullptr;
    std::vector<FzArea> model;

    void check(const char* what) const
    {
        std::vector<FzArea> got = fz_listAreas(head, "standalone list");
        fz_checkSortedDisjoint(got, "standalone list");
        if (!(got == model)) {
            std::fprintf(stderr, "after %s: list", what);
            for (const FzArea& a : got)
                std::fprintf(stderr, " {%d,%d}", a.pos, a.len);
            std::fprintf(stderr, ", model");
            for (const FzArea& a : model)
                std::fprintf(stderr, " {%d,%d}", a.pos, a.len);
            std::fprintf(stderr, "\n");
            fz_fail("standalone list differs from the model after %s", what);
        }
    }
};

void opListAdd(Standalone& l, Reader& r)
{
    FzArea a = {r.byte(), r.byte() % 40};
    if (!l.head) {
        // An empty list stays empty under addition: begin a new one.
        fz_require(KMM_AddAreaToSegList(nullptr, a.pos, a.len) == nullptr,
                   "adding to the empty list gave a list");
        l.head = KMM_CreateSegList(a.pos, a.len, nullptr, nullptr);
        fz_require(l.head != nullptr, "KMM_CreateSegList failed");
        l.model = {a};
        l.check("create");
        return;
    }
    SegList* before = l.head;
    bool added = refAdd(&l.model, a);
    l.head = KMM_AddAreaToSegList(l.head, a.pos, a.len);
    fz_require(l.head == before, "KMM_AddAreaToSegList({%d,%d}) changed the head node", a.pos,
               a.len);
    l.check("add");
    if (added)
        fz_checkMerged(fz_listAreas(l.head, "standalone list"), "standalone list after an add");
}

void opListRemove(Standalone& l, Reader& r)
{
    FzArea a = {r.byte(), r.byte() % 64};
    refRemove(&l.model, a);
    l.head = KMM_RemoveAreaFromSegList(l.head, a.pos, a.len);
    fz_require((l.head == nullptr) == l.model.empty(), "KMM_RemoveAreaFromSegList({%d,%d}) gave %s",
               a.pos, a.len, l.head ? "a list" : "nullptr");
    l.check("remove");
}

void opListCopy(Standalone& l)
{
    SegList* copy = KMM_SeekSegListHead(KMM_CopySegList(l.head));
    fz_require(fz_listAreas(copy, "copy") == l.model, "KMM_CopySegList gave other areas");
    fz_require(copy == nullptr || copy != l.head, "KMM_CopySegList shared a node");
    // The list is sorted, so sorting the copy keeps it and merging joins
    // touching neighbours.
    fz_require(KMM_SortSegList(copy) == copy, "KMM_SortSegList moved the head");
    fz_require(KMM_MergeSegList(copy) == copy, "KMM_MergeSegList moved the head");
    std::vector<FzArea> merged = l.model;
    fz_mergeAreas(&merged);
    fz_require(fz_listAreas(copy, "copy") == merged, "KMM_MergeSegList gave other areas");
    fz_require(KMM_FreeSegList(copy) == (copy ? 0 : -1), "KMM_FreeSegList result");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The reports print; nothing reads them here.
    if (!std::freopen("/dev/null", "w", stdout)) {
        std::perror("freopen");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader r(data, size);
    Model m;
    m.memSize = 64 + r.u16() % 937;
    m.freeCell.assign(static_cast<size_t>(m.memSize), 1);
    KelMM* kmm = KMM_Create(m.memSize);
    fz_require(kmm != nullptr, "KMM_Create(%d) failed", m.memSize);
    checkAgainstModel(kmm, m);
    Standalone list;

    for (int ops = 0; !r.done() && ops < 256; ops++) {
        m.reserved.clear();
        switch (r.byte() % 13) {
        case 0:
            opCreateAt(kmm, m, r);
            break;
        case 1:
            opCreateFirstFit(kmm, m, r);
            break;
        case 2:
            opTerminate(kmm, m, r);
            break;
        case 3:
            opFreeOwned(kmm, m, r);
            break;
        case 4:
            opFreeArea(kmm, m, r);
            break;
        case 5:
            opReserveAt(kmm, m, r);
            break;
        case 6:
            opReserveFirstFit(kmm, m, r);
            break;
        case 7:
            opStore(kmm, m, r, false);
            break;
        case 8:
            opStore(kmm, m, r, true);
            break;
        case 9:
            opReport(kmm, m, r);
            break;
        case 10:
            opListAdd(list, r);
            break;
        case 11:
            opListRemove(list, r);
            break;
        default:
            opListCopy(list);
            break;
        }
        checkAgainstModel(kmm, m);
    }

    KMM_FreeSegList(list.head);
    fz_require(KMM_Free(kmm) == ERR_NONE, "KMM_Free failed");
    std::free(kmm);
    return 0;
}
