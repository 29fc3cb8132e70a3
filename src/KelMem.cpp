// The memory manager: creation, reservation and release of segments and
// processes, stores into process memory, and the framed reports.
//
// Two sources of truth: ownership by a process decides whether an area may be
// reserved at a position; the free list serves first-fit reservation and
// receives every area given back. Invariants kept by every operation: the
// segments of all processes are pairwise disjoint and lie inside memory, and
// every cell of a segment carries the tag DATA_ERROR, DATA_INTEGER,
// DATA_STRING or DATA_INSTRUCTION.

#include "KelMem.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "KelAlloc.h"
#include "KelLoad.h"
#include "KelMem_Internal.h"

const char* const ErrMessages[13] = {
    "Invalid syntax in processor input",
    "Process already loaded",
    "Cannot open load file",
    "Load file has invalid format",
    "Excess values in load file",
    "Invalid instruction in load file",
    "Invalid data value in load file",
    "Insufficient main memory to load file",
    "Address is outside of valid segments",
    "Specified process does not exist",
    "Insufficient privilege for PrintAllMemory",
    "END command reached, parser stopped",
    nullptr,
};

const char* KMM_ErrorText(ErrMessage_t code)
{
    if (code >= ERR_INVALIDINPUT && code <= ERR_NONE)
        return ErrMessages[code]; // nullptr for ERR_NONE
    return "Unknown error.";
}

// Every variant begins with the tag, so its first bytes are read as such.
DataType_e KMM_CellTag(const KelMem* cell)
{
    DataType_e tag;
    std::memcpy(&tag, cell, sizeof tag);
    return tag;
}

const char* KMM_InstructionName(int32_t value)
{
    for (int32_t i = 0; DataType_Instruction[i]; i++) {
        if (i == value)
            return DataType_Instruction[i];
    }
    return nullptr;
}

namespace {

// Opens and closes every report.
const char* const kFrameLine = "+--------------------------------------------------\n";
// The frame line and the headings of each report, in one piece.
const char* const kTableHead = "+--------------------------------------------------\n"
                               "| Process Table:\n"
                               "|  PID #SEG SEG1 LEN1 SEG2 LEN2 SEG3 LEN3 SEG4 LEN4\n"
                               "|  --- ---- ---- ---- ---- ---- ---- ---- ---- ----\n";
const char* const kMemoryHead = "+--------------------------------------------------\n"
                                "| Memory Contents:\n";

// Tags the cells of {pos, len} empty; only the tag is written.
void markEmpty(KelMM* kmm, int32_t pos, int32_t len)
{
    for (int32_t i = 0; i < len; i++)
        kmm->mem[pos + i].type = DATA_ERROR;
}

// True when a segment of any process is exactly {pos, size} or, unless
// exact, shares a cell with it.
bool isOwned(const KelMM* kmm, int32_t pos, int32_t size, bool exact)
{
    const KelSegment area = {pos, size};
    for (const Process* p : kmm->processList) {
        if (!p)
            continue;
        for (const SegList* s = KMM_SeekSegListHead(p->segments); s; s = s->next) {
            if (exact ? s->seg.pos == pos && s->seg.len == size
                      : KMM_AreaIntersectsSeg(&area, &s->seg) != 0)
                return true;
        }
    }
    return false;
}

// Gives a single detached node back to the free list, which takes it over;
// needs no memory. A node of length 0, or one whose area is free already
// (a segment given back before its owner ended), is freed instead.
void giveBackNode(KelMM* kmm, SegList* node)
{
    if (node->seg.len == 0 || KMM_InsertSegNode(&kmm->memFree, node) != 0)
        std::free(node);
}

// Gives every area of a process's list back by moving its nodes into the
// free list; cannot fail.
void giveBackList(KelMM* kmm, SegList* list)
{
    SegList* s = KMM_SeekSegListHead(list);
    while (s) {
        SegList* next = s->next;
        giveBackNode(kmm, s);
        s = next;
    }
}

// True when no size is negative; sizes of a process to be created.
bool sizesValid(int32_t nSegs, const int32_t* size)
{
    return nSegs >= 1 && size && std::none_of(size, size + nSegs, [](int32_t n) { return n < 0; });
}

// Checks a store; on ERR_NONE *cell is the cell to write. The first segment
// holds the program and never accepts a store.
ErrMessage_t findStoreCell(KelMM* kmm, int32_t process, int32_t addr, KelMem** cell)
{
    if (!kmm || !kmm_IsSlot(process))
        return ERR_UNKNOWN;
    const Process* p = kmm->processList[process];
    if (!p)
        return ERR_NOPROCESS;
    if (addr < 0 || addr >= kmm->memSize)
        return ERR_INVALIDADDRESS;
    // Every process has its first segment from its creation on.
    for (const SegList* s = KMM_SeekSegListHead(p->segments)->next; s; s = s->next) {
        if (s->seg.pos <= addr && addr < static_cast<int64_t>(s->seg.pos) + s->seg.len) {
            *cell = &kmm->mem[addr];
            return ERR_NONE;
        }
    }
    return ERR_INVALIDADDRESS;
}

// Writes the report line of the cell at addr, which lies in memory.
void printCell(KelOut* out, int32_t addr, const KelMem& cell)
{
    const DataType_e tag = KMM_CellTag(&cell);
    if (tag == DATA_ERROR)
        return;
    KelLine rl;
    KO_LineBegin(&rl, out);
    KO_LineLit(&rl, "|  ");
    KO_LineInt(&rl, addr, 3);
    KO_LineLit(&rl, " ");
    switch (tag) {
    case DATA_INTEGER:
        // Stored unsigned, printed signed.
        KO_LineInt(&rl, static_cast<int32_t>(cell.integer.value), 0);
        break;
    case DATA_STRING: {
        const void* nul = std::memchr(cell.string.value, '\0', KMM_STRING_MAX);
        size_t len = nul ? static_cast<size_t>(static_cast<const char*>(nul) - cell.string.value)
                         : static_cast<size_t>(KMM_STRING_MAX);
        KO_LinePut(&rl, cell.string.value, len);
        break;
    }
    default: {
        // An instruction's name, or a word about a tag that should not occur.
        const char* name =
            tag == DATA_INSTRUCTION ? KMM_InstructionName(cell.instruction.value) : nullptr;
        if (name) {
            KO_LinePut(&rl, name, std::strlen(name));
            break;
        }
        KO_LineLit(&rl, "Unknown mem type ");
        KO_LineInt(&rl, static_cast<int32_t>(tag), 0);
        KO_LineLit(&rl, ", please tell the kelmem maintainers how this came about");
        break;
    }
    }
    KO_LineLit(&rl, "\n");
    KO_LineEnd(&rl);
}

// Prints every cell of every area of the list, in list order.
void printListCells(KelMM* kmm, const SegList* list)
{
    // The bounds are taken to memory once per segment, not checked per cell.
    for (const SegList* s = list; s; s = s->next) {
        const int64_t end = std::min<int64_t>(int64_t{s->seg.pos} + s->seg.len, kmm->memSize);
        for (int32_t i = std::max(s->seg.pos, 0); i < end; i++)
            printCell(kmm->out, i, kmm->mem[i]);
    }
}

} // namespace

KelMM* KMM_Create(int32_t memSize)
{
    if (memSize < 1)
        return nullptr;
    // Zero bytes: empty slots, text to standard output, no placer.
    auto* kmm = static_cast<KelMM*>(kel_Calloc(1, sizeof(KelMM)));
    if (!kmm)
        return nullptr;
    // Zero bytes: every cell carries the tag DATA_MAGIC, never allocated.
    kmm->mem = static_cast<KelMem*>(kel_Calloc(static_cast<size_t>(memSize), sizeof(KelMem)));
    kmm->memFree = KMM_CreateSegList(0, memSize, nullptr, nullptr);
    if (!kmm->mem || !kmm->memFree) {
        std::free(kmm->mem);
        KMM_FreeSegList(kmm->memFree);
        std::free(kmm);
        return nullptr;
    }
    kmm->memSize = memSize;
    return kmm;
}

ErrMessage_t KMM_AllocateSegmentAt(KelMM* kmm, int32_t pos, int32_t size)
{
    if (!kmm || pos < 0 || size < 0)
        return ERR_UNKNOWN;
    if (static_cast<int64_t>(pos) + size > kmm->memSize || isOwned(kmm, pos, size, false))
        return ERR_INSUFFICIENTMEM;
    // An empty segment covers no cell; cutting it out of a free area would
    // split that area into two touching ones that never join again.
    if (size == 0)
        return ERR_NONE;
    if (KMM_CutAreaFromSegList(&kmm->memFree, pos, size) != 0)
        return ERR_UNKNOWN;
    markEmpty(kmm, pos, size);
    return ERR_NONE;
}

int32_t KMM_AllocateSegment(KelMM* kmm, int32_t size)
{
    if (!kmm || size < 0)
        return -1;
    int32_t pos = KMM_FindSegSpace(kmm->memFree, size);
    if (pos < 0 || size == 0)
        return pos;
    markEmpty(kmm, pos, size);
    // The front of a free area: trimmed, never split, so no memory is needed.
    kmm->memFree = KMM_RemoveAreaFromSegList(kmm->memFree, pos, size);
    return pos;
}

ErrMessage_t KMM_FreeSegment(KelMM* kmm, int32_t pos, int32_t size)
{
    if (!kmm || !isOwned(kmm, pos, size, true))
        return ERR_UNKNOWN;
    if (size == 0)
        return ERR_NONE;
    SegList* node = KMM_CreateSegList(pos, size, nullptr, nullptr);
    if (!node)
        return ERR_UNKNOWN;
    giveBackNode(kmm, node);
    return ERR_NONE;
}

ErrMessage_t KMM_TerminateProcess(KelMM* kmm, int32_t ID)
{
    if (!kmm || !kmm_IsSlot(ID))
        return ERR_UNKNOWN;
    Process* p = kmm->processList[ID];
    if (!p)
        return ERR_NOPROCESS;
    // The segment nodes themselves go to the free list: ending a process
    // needs no memory and cannot fail half way.
    giveBackList(kmm, p->segments);
    std::free(p);
    kmm->processList[ID] = nullptr;
    return ERR_NONE;
}

ErrMessage_t KMM_AllocateProcessAt(KelMM* kmm, int32_t ID, int32_t pos, int32_t nSegs,
                                   const int32_t* size)
{
    if (!kmm || !kmm_IsSlot(ID))
        return ERR_UNKNOWN;
    if (kmm->processList[ID])
        return ERR_PROCESSEXISTS;
    if (pos < 0 || !sizesValid(nSegs, size))
        return ERR_UNKNOWN;
    auto* p = static_cast<Process*>(kel_Malloc(sizeof(Process)));
    if (!p)
        return ERR_UNKNOWN;
    p->ID = ID;
    p->segments = nullptr;
    // Registered before its segments are reserved, so each later segment is
    // also checked against the process's own earlier ones.
    kmm->processList[ID] = p;
    int32_t start = pos;
    for (int32_t n = 0; n < nSegs; n++) {
        // The node first: once the area is reserved nothing can fail.
        SegList* node = KMM_CreateSegList(start, size[n], nullptr, nullptr);
        ErrMessage_t err = node ? KMM_AllocateSegmentAt(kmm, start, size[n]) : ERR_UNKNOWN;
        if (err != ERR_NONE) {
            std::free(node);
            KMM_TerminateProcess(kmm, ID);
            return err;
        }
        p->segments = KMM_AppendSegList(p->segments, node);
        start += size[n]; // the segment ended inside memory, so no overflow
    }
    p->segments = KMM_SeekSegListHead(p->segments);
    return ERR_NONE;
}

uint32_t KMM_AllocateProcess(KelMM* kmm, int32_t ID, int32_t nSegs, const int32_t* size)
{
    const auto unknown = static_cast<uint32_t>(ERR_UNKNOWN);
    if (!kmm || !kmm_IsSlot(ID) || kmm->processList[ID] || !sizesValid(nSegs, size))
        return unknown;
    auto* p = static_cast<Process*>(kel_Calloc(1, sizeof(Process)));
    if (!p)
        return unknown;
    p->ID = ID;
    for (int32_t n = 0; n < nSegs; n++) {
        // The node first: once the area is reserved nothing can fail.
        SegList* node = KMM_CreateSegList(0, size[n], nullptr, nullptr);
        int32_t at = node ? KMM_AllocateSegment(kmm, size[n]) : -1;
        if (at < 0) {
            const uint32_t err = node ? static_cast<uint32_t>(ERR_INSUFFICIENTMEM) : unknown;
            std::free(node);
            giveBackList(kmm, p->segments);
            std::free(p);
            return err;
        }
        node->seg.pos = at;
        p->segments = KMM_AppendSegList(p->segments, node);
    }
    p->segments = KMM_SeekSegListHead(p->segments);
    kmm->processList[ID] = p;
    return static_cast<uint32_t>(ERR_NONE);
}

ErrMessage_t KMM_Free(KelMM* kmm)
{
    if (!kmm)
        return ERR_UNKNOWN;
    for (int32_t id = 0; id < KMM_PROCESS_SLOTS; id++)
        KMM_TerminateProcess(kmm, id); // ERR_NOPROCESS for an empty slot
    std::free(kmm->mem);
    KMM_FreeSegList(kmm->memFree);
    // Cleared so that a later call finds an empty machine, not freed memory.
    kmm->mem = nullptr;
    kmm->memFree = nullptr;
    kmm->memSize = 0;
    return ERR_NONE;
}

ErrMessage_t KMM_StoreInteger(KelMM* kmm, int32_t process, int32_t addr, uint32_t val)
{
    KelMem* cell = nullptr;
    ErrMessage_t err = findStoreCell(kmm, process, addr, &cell);
    if (err != ERR_NONE)
        return err;
    kmm_SetInteger(cell, val);
    return ERR_NONE;
}

ErrMessage_t KMM_StoreString(KelMM* kmm, int32_t process, int32_t addr, const char* str)
{
    // A longer string would run past the cell: refused before anything else.
    if (!str || std::memchr(str, '\0', KMM_STRING_MAX + 1) == nullptr)
        return ERR_UNKNOWN;
    KelMem* cell = nullptr;
    ErrMessage_t err = findStoreCell(kmm, process, addr, &cell);
    if (err != ERR_NONE)
        return err;
    kmm_SetString(cell, str, std::strlen(str));
    return ERR_NONE;
}

void KMM_PrintMem(KelMM* kmm, int32_t addr)
{
    if (kmm && addr >= 0 && addr < kmm->memSize)
        printCell(kmm->out, addr, kmm->mem[addr]);
}

ErrMessage_t KMM_PrintProcessTable(KelMM* kmm, int32_t process)
{
    if (!kmm || !kmm_IsSlot(process))
        return ERR_UNKNOWN;
    // Process 0 may always look at the table; others only while they exist.
    if (process != 0 && !kmm->processList[process])
        return ERR_NOPROCESS;
    KO_Puts(kmm->out, kTableHead);
    for (int32_t id = 0; id < KMM_PROCESS_SLOTS; id++) {
        const Process* p = kmm->processList[id];
        if (!p)
            continue;
        const SegList* head = KMM_SeekSegListHead(p->segments);
        int32_t shown = 0;
        for (const SegList* s = head; s && shown < KMM_MAX_SEGMENTS; s = s->next)
            shown++;
        KelLine rl;
        KO_LineBegin(&rl, kmm->out);
        KO_LineLit(&rl, "|   P");
        KO_LineInt(&rl, id, 1);
        KO_LineLit(&rl, "    ");
        KO_LineInt(&rl, shown, 1);
        const SegList* s = head;
        for (int32_t i = 0; i < shown; i++, s = s->next) {
            KO_LineLit(&rl, " ");
            KO_LineInt(&rl, s->seg.pos, 4);
            KO_LineLit(&rl, " ");
            KO_LineInt(&rl, s->seg.len, 4);
        }
        KO_LineLit(&rl, "\n");
        KO_LineEnd(&rl);
    }
    KO_Puts(kmm->out, kFrameLine);
    return ERR_NONE;
}

ErrMessage_t KMM_PrintProcessMemory(KelMM* kmm, int32_t process)
{
    if (!kmm || !kmm_IsSlot(process))
        return ERR_UNKNOWN;
    const Process* p = kmm->processList[process];
    if (!p)
        return ERR_NOPROCESS;
    KO_Puts(kmm->out, kMemoryHead);
    printListCells(kmm, KMM_SeekSegListHead(p->segments));
    KO_Puts(kmm->out, kFrameLine);
    return ERR_NONE;
}

ErrMessage_t KMM_PrintAllMemory(KelMM* kmm)
{
    if (!kmm)
        return ERR_UNKNOWN;
    // A sorted copy of every process's segments; the processes' own lists
    // keep their order.
    SegList* all = nullptr;
    for (const Process* p : kmm->processList) {
        if (!p)
            continue;
        SegList* copy = KMM_SeekSegListHead(KMM_CopySegList(p->segments));
        if (!copy) {
            // Without every segment the report would be short a cell.
            KMM_FreeSegList(all);
            return ERR_UNKNOWN;
        }
        all = KMM_SeekSegListHead(KMM_AppendSegList(all, copy));
    }
    all = KMM_SortSegList(all);
    KO_Puts(kmm->out, kMemoryHead);
    printListCells(kmm, all);
    KMM_FreeSegList(all);
    KO_Puts(kmm->out, kFrameLine);
    return ERR_NONE;
}

void kmm_SetInteger(KelMem* cell, uint32_t value)
{
    std::memset(cell, 0, sizeof *cell);
    cell->integer.type = DATA_INTEGER;
    cell->integer.value = value;
}

void kmm_SetInstruction(KelMem* cell, InstructionType_e value)
{
    std::memset(cell, 0, sizeof *cell);
    cell->instruction.type = DATA_INSTRUCTION;
    cell->instruction.value = value;
}

void kmm_SetString(KelMem* cell, const char* text, size_t len)
{
    std::memset(cell, 0, sizeof *cell);
    cell->string.type = DATA_STRING;
    std::memcpy(cell->string.value, text, len);
}
