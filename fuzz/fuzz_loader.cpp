// Fuzzes the loader with arbitrary load files.
//
// Input: byte 0 picks the process (0-9), bytes 1 and 2 the address (0-999),
// the rest is the load file. It is loaded into a 1000-cell manager that
// already holds P2 at 100 (sizes 10, 20) and P7 at 600 (sizes 5, 5, 5) with a
// few stored values. Checked: the result is a loader code; the slot is filled
// exactly on success (a too-long string may also leave it filled, with
// ERR_INVALIDDATA); the new process has 1 to 4 segments back to back from the
// address whose cells hold values only as a prefix of the cells that values
// may go to, instructions in segment 0 and data after; P2 and P7 keep their
// segments and cells; a failed load and a later termination leave the free
// cells as they were; and the manager invariants hold throughout.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "KelLoad.h"
#include "KelMem.h"
#include "fuzz_check.h"
#include "fuzz_scratch.h"

namespace {

std::string gPath; // the load file, rewritten for every input

constexpr int32_t kOldA = 2;
constexpr int32_t kOldB = 7;

bool isLoaderCode(ErrMessage_t e)
{
    switch (e) {
    case ERR_PROCESSEXISTS:
    case ERR_NOFILE:
    case ERR_INVALIDFILE:
    case ERR_DATAOVERFLOW:
    case ERR_INVALIDINSTRUCTION:
    case ERR_INVALIDDATA:
    case ERR_INSUFFICIENTMEM:
    case ERR_NONE:
        return true;
    default:
        return false;
    }
}

// A cell that a value may go to, and whether it takes instructions.
struct ValueCell {
    int32_t addr;
    bool instruction;
};

// The cells that the file's values fill, in order: segment 0 takes
// instructions, segment 1 data; a value arriving at an empty segment takes
// its number and the first cell of the next non-empty segment; nothing goes
// to segments 2 and 3 or past the last.
std::vector<ValueCell> valueCells(const std::vector<FzArea>& segs)
{
    std::vector<ValueCell> out;
    size_t s = 0;
    int32_t segpos = 0;
    for (;;) {
        if (segpos >= segs[s].len) {
            s++;
            segpos = 0;
            if (s >= segs.size() || s >= 2)
                break;
        }
        if (segs[s].len == 0) {
            bool follows = false;
            for (size_t k = s + 1; k < segs.size(); k++)
                follows = follows || segs[k].len > 0;
            if (!follows)
                break;
        }
        out.push_back({segs[s].pos + segpos, s == 0});
        segpos++;
    }
    return out;
}

// The process made by the load: segments back to back from addr, and values
// only as a prefix of its value cells, each of the kind its segment takes.
void checkLoaded(const KelMM* kmm, int32_t process, int32_t addr)
{
    std::vector<FzArea> segs = fz_listAreas(kmm->processList[process]->segments, "loaded process");
    fz_require(segs.size() >= 1 && segs.size() <= 4, "loaded process has %zu segments",
               segs.size());
    fz_require(segs[0].pos == addr, "segment 0 at %d, not at %d", segs[0].pos, addr);
    for (size_t k = 1; k < segs.size(); k++)
        fz_require(segs[k].pos == segs[k - 1].end(), "segment %zu at %d does not follow on", k,
                   segs[k].pos);
    std::vector<ValueCell> cells = valueCells(segs);
    std::vector<uint8_t> listed(static_cast<size_t>(kmm->memSize), 0);
    bool emptySeen = false;
    for (const ValueCell& vc : cells) {
        listed[static_cast<size_t>(vc.addr)] = 1;
        DataType_e t = fz_tag(kmm->mem[vc.addr]);
        if (t == DATA_ERROR) {
            emptySeen = true;
            continue;
        }
        fz_require(!emptySeen, "cell %d holds a value after an empty value cell", vc.addr);
        if (vc.instruction)
            fz_require(t == DATA_INSTRUCTION, "cell %d of segment 0 holds tag %d", vc.addr,
                       static_cast<int>(t));
        else
            fz_require(t == DATA_INTEGER || t == DATA_STRING, "data cell %d holds tag %d", vc.addr,
                       static_cast<int>(t));
    }
    for (const FzArea& s : segs) {
        for (int32_t c = s.pos; c < s.end(); c++) {
            if (!listed[static_cast<size_t>(c)])
                fz_require(fz_tag(kmm->mem[c]) == DATA_ERROR,
                           "cell %d, which no value goes to, holds tag %d", c,
                           static_cast<int>(fz_tag(kmm->mem[c])));
        }
    }
}

// The cell bytes of a process's segments.
std::vector<uint8_t> processBytes(const KelMM* kmm, int32_t id)
{
    std::vector<uint8_t> out;
    for (const FzArea& s : fz_listAreas(kmm->processList[id]->segments, "process")) {
        const auto* b = reinterpret_cast<const uint8_t*>(&kmm->mem[s.pos]);
        out.insert(out.end(), b, b + sizeof(KelMem) * static_cast<size_t>(s.len));
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fz_scratch::make("fuzz-loader");
    gPath = fz_scratch::write("load.txt", "", 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int32_t process = 0;
    int32_t addr = 0;
    if (size >= 3) {
        process = data[0] % 10;
        addr = ((data[1] << 8) | data[2]) % 1000;
        data += 3;
        size -= 3;
    }
    fz_scratch::write("load.txt", data, size);

    KelMM* kmm = KMM_Create(1000);
    fz_require(kmm != nullptr, "KMM_Create(1000) failed");
    const int32_t sizesA[] = {10, 20};
    const int32_t sizesB[] = {5, 5, 5};
    fz_require(KMM_AllocateProcessAt(kmm, kOldA, 100, 2, sizesA) == ERR_NONE, "P2 not created");
    fz_require(KMM_AllocateProcessAt(kmm, kOldB, 600, 3, sizesB) == ERR_NONE, "P7 not created");
    fz_require(KMM_StoreInteger(kmm, kOldA, 110, 0xdeadbeefu) == ERR_NONE &&
                   KMM_StoreString(kmm, kOldA, 129, "keep me") == ERR_NONE &&
                   KMM_StoreInteger(kmm, kOldB, 609, 42) == ERR_NONE,
               "stores into P2 and P7 failed");
    const FzCover exact;
    fz_checkManager(kmm, exact);
    const FzSnapshot before = fz_snapshot(kmm);
    const std::vector<uint8_t> bytesA = processBytes(kmm, kOldA);
    const std::vector<uint8_t> bytesB = processBytes(kmm, kOldB);

    const ErrMessage_t err = KelMM_Load(kmm, process, gPath.c_str(), addr);
    fz_require(isLoaderCode(err), "KelMM_Load gave %d", static_cast<int>(err));
    fz_checkManager(kmm, exact);

    const bool old = process == kOldA || process == kOldB;
    if (old) {
        fz_require(err == ERR_PROCESSEXISTS, "load into an occupied slot gave %d",
                   static_cast<int>(err));
        const FzSnapshot after = fz_snapshot(kmm);
        fz_require(after.procs == before.procs && after.freeList == before.freeList &&
                       after.cellBytes == before.cellBytes,
                   "a refused load changed the manager");
    } else {
        fz_require(err != ERR_PROCESSEXISTS, "load into an empty slot gave ERR_PROCESSEXISTS");
        const bool loaded = kmm->processList[process] != nullptr;
        fz_require(loaded == (err == ERR_NONE) || (loaded && err == ERR_INVALIDDATA),
                   "load gave %d and left the slot %s", static_cast<int>(err),
                   loaded ? "filled" : "empty");
        if (loaded)
            checkLoaded(kmm, process, addr);
        else
            fz_require(fz_freeCells(kmm) == before.freeCells,
                       "a failed load (%d) changed the free cells", static_cast<int>(err));
    }

    FzProcs now = fz_procs(kmm);
    for (int32_t id : {kOldA, kOldB})
        fz_require(now.exists[id] && now.segs[id] == before.procs.segs[id],
                   "process %d lost or changed its segments", id);
    fz_require(processBytes(kmm, kOldA) == bytesA && processBytes(kmm, kOldB) == bytesB,
               "the cells of P2 or P7 changed");

    if (!old && kmm->processList[process]) {
        fz_require(KMM_TerminateProcess(kmm, process) == ERR_NONE, "terminating the load failed");
        fz_checkManager(kmm, exact);
        fz_require(fz_freeCells(kmm) == before.freeCells,
                   "load and termination did not restore the free cells");
        fz_require(fz_listAreas(kmm->memFree, "free list") == before.freeList,
                   "load and termination did not restore the free list");
    }

    fz_require(KMM_Free(kmm) == ERR_NONE, "KMM_Free failed");
    std::free(kmm);
    return 0;
}
