// Fuzzes the whole interpreter with arbitrary scripts.
//
// The input is a script. It is cut into pieces as the script runner reads
// it (up to a line feed, or 159 characters of a longer line; pieces shorter
// than two characters are skipped) and every piece goes to KMM_ParseLine
// against one 1000-cell manager, up to END. After every line the manager
// invariants hold, free and owned cells cover memory exactly once, and the
// line changed only what its command may change. At the end the same input
// is run as a file through KMM_ParseFile on a second manager, which must end
// in the same state.
//
// The process works in a scratch folder holding a few load files, valid and
// invalid, under short names that scripts can name; standard output goes to
// /dev/null.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "KelMem.h"
#include "KelParseCmd.h"
#include "fuzz_check.h"
#include "fuzz_scratch.h"
#include "kelparse.h"

namespace {

constexpr size_t kPieceMax = 159; // the runner's 160-byte buffer

struct LoadFile {
    const char* name;
    const char* text;
};

// Named in the seed scripts and the dictionary.
const LoadFile kLoadFiles[] = {
    {"a.txt", "8585\n2\n3 4\nRUN RUN HALT\n#42 \"hello 7 // data\n"},
    {"one.txt", "8585\n1\n2\nRUN HALT\n"},
    {"four.txt", "8585 four segments\n4 // count\n2 3 1 1\nRUN HALT\n#1 #2 \"x\n"},
    {"zero.txt", "8585\n2\n0 2\n#5 \"z\n"},
    {"big.txt", "8585\n1\n999\n"},
    {"huge.txt", "8585\n1\n5000\n"},
    {"gap.txt", "8585\n2\n1 2\nRUN\n\n#5\n"},
    {"badmagic.txt", "8586\n1\n1\nRUN\n"},
    {"empty.txt", ""},
    {"count.txt", "8585\n5\n1\n"},
    {"sizes.txt", "8585\n2\n3\n"},
    {"sizetok.txt", "8585\n2\n3 x\n"},
    {"ovf.txt", "8585\n2\n2 1\nRUN RUN #1 #2\n"},
    {"instr.txt", "8585\n2\n3 4\nRUN HALT #1\n"},
    {"data.txt", "8585\n2\n1 2\nRUN\nHALT\n"},
    {"longstr.txt", "8585\n2\n1 2\nRUN \"abcdefghijklmnopqrstu\n"},
};

std::string gScript; // the input as a file, for KMM_ParseFile

// Digits after the first character of tok as an unsigned 32-bit number.
bool numberAfterFirst(const char* tok, uint32_t* out)
{
    uint64_t v = 0;
    const char* p = tok + 1;
    if (*p == '\0')
        return false;
    for (; *p; p++) {
        if (*p < '0' || *p > '9')
            return false;
        v = v * 10 + static_cast<uint64_t>(*p - '0');
        if (v > UINT32_MAX)
            return false;
    }
    *out = static_cast<uint32_t>(v);
    return true;
}

bool sameAll(const FzSnapshot& a, const FzSnapshot& b)
{
    return a.procs == b.procs && a.freeList == b.freeList && a.cellBytes == b.cellBytes;
}

size_t cellsChanged(const FzSnapshot& a, const FzSnapshot& b, int32_t* last)
{
    size_t n = 0;
    const size_t cellSize = sizeof(KelMem);
    for (size_t c = 0; c * cellSize < a.cellBytes.size(); c++) {
        if (std::memcmp(&a.cellBytes[c * cellSize], &b.cellBytes[c * cellSize], cellSize) != 0) {
            n++;
            *last = static_cast<int32_t>(c);
        }
    }
    return n;
}

// Slots whose process came or went between the snapshots; -1 when none,
// -2 when more than one.
int32_t changedSlot(const FzProcs& a, const FzProcs& b)
{
    int32_t slot = -1;
    for (int32_t i = 0; i < 10; i++) {
        if (a.exists[i] != b.exists[i] || !(a.segs[i] == b.segs[i]))
            slot = slot == -1 ? i : -2;
    }
    return slot;
}

// What one line may have changed, judged by its result and its command.
void checkEffect(const KelMM* kmm, char** tok, ErrMessage_t err, const FzSnapshot& before)
{
    const FzSnapshot after = fz_snapshot(kmm);
    const size_t n = fz_countTokens(tok);
    const char* cmd = n >= 2 ? tok[1] : "";
    switch (err) {
    case ERR_UNKNOWN:
    case ERR_INVALIDINPUT:
    case ERR_PROCESSEXISTS:
    case ERR_INVALIDADDRESS:
    case ERR_NOPROCESS:
    case ERR_NOPRIVILEGE:
    case ERR_PARSEEND:
        fz_require(sameAll(before, after), "a line that failed with %d changed the manager",
                   static_cast<int>(err));
        return;
    case ERR_INVALIDDATA: {
        fz_require(std::strcmp(cmd, "LoadFile") == 0, "ERR_INVALIDDATA from %s", cmd);
        int32_t slot = changedSlot(before.procs, after.procs);
        // A too-long string may leave the process loaded.
        if (slot >= 0) {
            fz_require(!before.procs.exists[slot] && after.procs.exists[slot],
                       "a failed load changed process %d", slot);
            return;
        }
        fz_require(slot == -1 && before.freeCells == after.freeCells,
                   "a failed load changed the process table or the free cells");
        return;
    }
    case ERR_NOFILE:
    case ERR_INVALIDFILE:
    case ERR_DATAOVERFLOW:
    case ERR_INVALIDINSTRUCTION:
    case ERR_INSUFFICIENTMEM:
        // A load that fails after its segments were reserved leaves their
        // cells tagged empty, but gives every segment back.
        fz_require(std::strcmp(cmd, "LoadFile") == 0, "load error %d from %s",
                   static_cast<int>(err), cmd);
        fz_require(before.procs == after.procs && before.freeCells == after.freeCells,
                   "a failed load (%d) changed the process table or the free cells",
                   static_cast<int>(err));
        return;
    case ERR_NONE:
        break;
    default:
        fz_fail("KMM_ParseLine gave %d", static_cast<int>(err));
    }

    fz_require(n >= 2, "a line of %zu tokens succeeded", n);
    uint32_t process = 10;
    fz_require(tok[0][0] == 'P' && numberAfterFirst(tok[0], &process) && process < 10,
               "a line with the process token \"%s\" succeeded", tok[0]);
    if (std::strcmp(cmd, "PrintProcessTable") == 0 || std::strcmp(cmd, "PrintProcessMemory") == 0 ||
        std::strcmp(cmd, "PrintAllMemory") == 0) {
        fz_require(n == 2, "%s with %zu tokens succeeded", cmd, n);
        fz_require(sameAll(before, after), "%s changed the manager", cmd);
        fz_require(std::strcmp(cmd, "PrintAllMemory") != 0 || process == 0,
                   "PrintAllMemory by P%u succeeded", process);
        fz_require(std::strcmp(cmd, "PrintProcessMemory") != 0 || before.procs.exists[process],
                   "PrintProcessMemory of a missing process succeeded");
        fz_require(std::strcmp(cmd, "PrintProcessTable") != 0 || process == 0 ||
                       before.procs.exists[process],
                   "PrintProcessTable by a missing process succeeded");
    } else if (std::strcmp(cmd, "STORE") == 0) {
        fz_require(n == 4, "STORE with %zu tokens succeeded", n);
        uint32_t addr = 0;
        fz_require(tok[2][0] == '@' && numberAfterFirst(tok[2], &addr) && addr < 1000,
                   "STORE to \"%s\" succeeded", tok[2]);
        fz_require(before.procs == after.procs && before.freeList == after.freeList,
                   "STORE changed the process table or the free list");
        int32_t last = -1;
        size_t changed = cellsChanged(before, after, &last);
        fz_require(changed == 0 || (changed == 1 && last == static_cast<int32_t>(addr)),
                   "STORE to %u changed %zu cells (last %d)", addr, changed, last);
        const std::vector<FzArea>& segs = before.procs.segs[process];
        bool inData = false;
        for (size_t k = 1; k < segs.size(); k++)
            inData = inData || (segs[k].pos <= static_cast<int32_t>(addr) &&
                                static_cast<int64_t>(addr) < segs[k].end());
        fz_require(inData, "STORE to %u outside P%u's data segments succeeded", addr, process);
        const KelMem& cell = kmm->mem[addr];
        uint32_t val = 0;
        if (tok[3][0] == '#') {
            fz_require(numberAfterFirst(tok[3], &val), "STORE of \"%s\" succeeded", tok[3]);
            fz_require(fz_tag(cell) == DATA_INTEGER && cell.integer.value == val,
                       "STORE of %u left tag %d value %u", val, static_cast<int>(fz_tag(cell)),
                       cell.integer.value);
        } else {
            fz_require(tok[3][0] == '"' && std::strlen(tok[3]) >= 2 && std::strlen(tok[3]) <= 21,
                       "STORE of \"%s\" succeeded", tok[3]);
            fz_require(
                fz_tag(cell) == DATA_STRING && std::strcmp(cell.string.value, tok[3] + 1) == 0,
                "STORE of the string %s left tag %d", tok[3], static_cast<int>(fz_tag(cell)));
        }
    } else if (std::strcmp(cmd, "LoadFile") == 0) {
        fz_require(n == 4 && tok[2][0] == '@' && tok[3][0] == '"' && std::strlen(tok[3]) <= 21,
                   "a malformed LoadFile succeeded");
        fz_require(changedSlot(before.procs, after.procs) == static_cast<int32_t>(process) &&
                       !before.procs.exists[process] && after.procs.exists[process],
                   "LoadFile did not add exactly P%u", process);
        uint32_t addr = 0;
        fz_require(numberAfterFirst(tok[2], &addr) && !after.procs.segs[process].empty() &&
                       after.procs.segs[process][0].pos == static_cast<int32_t>(addr),
                   "LoadFile placed P%u elsewhere than %s", process, tok[2]);
        std::vector<uint8_t> expectFree = before.freeCells;
        for (const FzArea& s : after.procs.segs[process]) {
            for (int32_t c = s.pos; c < s.end(); c++)
                expectFree[static_cast<size_t>(c)] = 0;
        }
        fz_require(expectFree == after.freeCells, "LoadFile took other cells than its segments");
    } else if (std::strcmp(cmd, "TerminateProcess") == 0) {
        fz_require(n == 2, "TerminateProcess with %zu tokens succeeded", n);
        fz_require(changedSlot(before.procs, after.procs) == static_cast<int32_t>(process) &&
                       before.procs.exists[process] && !after.procs.exists[process],
                   "TerminateProcess did not remove exactly P%u", process);
        fz_require(before.cellBytes == after.cellBytes, "TerminateProcess changed cells");
        std::vector<uint8_t> expectFree = before.freeCells;
        for (const FzArea& s : before.procs.segs[process]) {
            for (int32_t c = s.pos; c < s.end(); c++)
                expectFree[static_cast<size_t>(c)] = 1;
        }
        fz_require(expectFree == after.freeCells,
                   "TerminateProcess did not give back exactly its segments");
    } else {
        fz_fail("command \"%s\" succeeded", cmd);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (!std::freopen("/dev/null", "w", stdout)) {
        std::perror("freopen");
        std::abort();
    }
    const std::string& dir = fz_scratch::make("fuzz-script");
    for (const LoadFile& f : kLoadFiles)
        fz_scratch::write(f.name, f.text, std::strlen(f.text));
    gScript = fz_scratch::write("script.txt", "", 0);
    if (chdir(dir.c_str()) != 0) {
        std::perror("chdir");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Written first, so that a script that loads its own file sees the same
    // bytes in both runs.
    fz_scratch::write("script.txt", data, size);
    const FzCover exact;

    KelMM* kmm = KMM_Create(1000);
    fz_require(kmm != nullptr, "KMM_Create(1000) failed");
    fz_checkManager(kmm, exact);
    int32_t line = 0;
    bool ended = false;
    size_t at = 0;
    while (at < size && !ended) {
        // One read of the runner: through the next line feed, at most 159
        // characters; the text is what strlen sees of it.
        size_t len = 0;
        while (at + len < size && len < kPieceMax) {
            len++;
            if (data[at + len - 1] == '\n')
                break;
        }
        std::string piece(reinterpret_cast<const char*>(data + at), len);
        at += len;
        const char* text = piece.c_str();
        if (std::strlen(text) < 2)
            continue;
        line++;
        const FzSnapshot before = fz_snapshot(kmm);
        char** tok = Explode(text);
        const ErrMessage_t err = KMM_ParseLine(text, kmm, line);
        fz_require(err >= ERR_UNKNOWN && err <= ERR_NONE, "KMM_ParseLine gave %d",
                   static_cast<int>(err));
        fz_require((err == ERR_UNKNOWN) == (tok == nullptr),
                   "KMM_ParseLine gave %d for a line %s tokens", static_cast<int>(err),
                   tok ? "with" : "without");
        fz_checkManager(kmm, exact);
        checkEffect(kmm, tok, err, before);
        FreeStrList(tok);
        ended = err == ERR_PARSEEND;
    }

    // The runner itself, on the same bytes, must reach the same state.
    KelMM* other = KMM_Create(1000);
    fz_require(other != nullptr, "KMM_Create(1000) failed");
    const int32_t res = KMM_ParseFile(gScript.c_str(), other);
    fz_require(res == (ended ? -1 : 0), "KMM_ParseFile gave %d, expected %d", res, ended ? -1 : 0);
    fz_checkManager(other, exact);
    fz_require(sameAll(fz_snapshot(kmm), fz_snapshot(other)),
               "KMM_ParseFile ended in another state than the lines one by one");

    fz_require(KMM_Free(kmm) == ERR_NONE && KMM_Free(other) == ERR_NONE, "KMM_Free failed");
    std::free(kmm);
    std::free(other);
    return 0;
}
