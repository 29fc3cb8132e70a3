// The data model of a trace: what kelmem-view records for each banner and
// each line that reaches the interpreter (the manager's state, the cells a
// line changed, the free list in figures, a load's request), and the Sink
// interface through which the output formats receive it. Nothing here reads
// the manager or decides anything; the tracer (trace.h) fills it in.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "KelMem.h"
#include "KelOut.h"
#include "KelParseCmd.h"

namespace kv {

// Cells of the machine; the text map and the page draw exactly this many.
constexpr int32_t kCells = KMM_MEMORY_CELLS;

// The cells pos .. pos + len - 1.
struct Area {
    int32_t pos;
    int32_t len;
    int64_t end() const
    {
        return static_cast<int64_t>(pos) + len;
    }
    bool operator==(const Area& o) const
    {
        return pos == o.pos && len == o.len;
    }
};

// Appends v in decimal.
inline void kv_AppendDecimal(std::string* out, int64_t v)
{
    char text[KO_DECIMAL_ROOM];
    out->append(text, static_cast<size_t>(KO_Decimal(text, v) - text));
}

// v in decimal, for text put together with +.
inline std::string kv_Decimal(int64_t v)
{
    char text[KO_DECIMAL_ROOM];
    return std::string(text, KO_Decimal(text, v));
}

// Appends the cells pos .. pos + len - 1 as an inclusive range: "100-106",
// or "7" for one cell.
inline void kv_AppendRange(std::string* out, int64_t pos, int64_t len)
{
    kv_AppendDecimal(out, pos);
    if (len == 1)
        return;
    out->push_back('-');
    kv_AppendDecimal(out, pos + len - 1);
}

// Appends the areas of list that hold cells as ranges, separated by ", "
// but the last two by last: with " and ", "a", "a and b", "a, b and c".
inline void kv_AppendRanges(std::string* out, const std::vector<Area>& list, std::string_view last)
{
    auto left = std::count_if(list.begin(), list.end(), [](const Area& a) { return a.len > 0; });
    for (const Area& a : list) {
        if (a.len <= 0)
            continue;
        kv_AppendRange(out, a.pos, a.len);
        if (--left > 0)
            out->append(left == 1 ? last : ", ");
    }
}

// What the manager holds between two lines. Slots and vectors are reused
// from line to line, so that reading a state allocates nothing once warm.
struct MemState {
    bool live[KMM_PROCESS_SLOTS] = {};         // slot n holds a process
    std::vector<Area> segs[KMM_PROCESS_SLOTS]; // its segments in list order; empty when not live
    std::vector<Area> free;                    // the manager's free list in list order
};

enum class CellKind { Empty, Int, Str, Ins, Unset }; // the trace names them in this order

// The new content of a cell that changed during a line.
struct CellChange {
    int32_t addr;
    CellKind kind;
    uint32_t value;   // Int: as stored; Ins: the instruction's number
    std::string text; // Str: the bytes up to the NUL; Ins: "RUN" or "HALT"
};

// The free list in figures. fragmentation is 1 - largest/free in units of
// 1/10000, rounded half up; -1 when nothing is free.
struct Stats {
    int64_t free = 0;
    int32_t holes = 0;
    int32_t largest = 0;
    int32_t fragmentation = -1;
    std::vector<int32_t> histogram; // holes by length in [2^k, 2^(k+1)-1]
};

// Where a whole request of n cells would go under the classic policies, the
// free list given; -1 where it fits nowhere.
struct Placements {
    int32_t first = -1;
    int32_t best = -1;
    int32_t worst = -1;
    int32_t next = -1;
};

// One line that reached the interpreter, as the sinks write it.
struct Step {
    std::string_view file;
    int32_t line = 0;
    int32_t fileLine = 0;    // the line of the file the piece begins in, from 1
    std::string_view text;   // as the interpreter saw it, without its line end
    std::string_view output; // kelmem's text for the line
    ErrMessage_t error = ERR_NONE;
    const MemState* state = nullptr; // after the line
    // The line cannot have changed processes or free list: state and stats
    // are those before the line.
    bool stateKept = false;
    std::vector<CellChange> cells; // by ascending address
    Stats stats;
    bool hasRequest = false;  // a LoadFile whose sizes the loader read
    int64_t requestCells = 0; // the sum of the sizes
    std::vector<int32_t> requestSizes;
    int32_t requestAt = -1; // where the loader was told to place it; -1: nowhere
    int32_t rover = 0;      // next fit's rover before the line
    Placements placements;
    bool hasExplain = false;
    std::string explain;
};

// Where a trace goes. Calls come in order: begin, then banners and steps as
// the run makes them, then end with the state after the last line.
class Sink {
  public:
    virtual ~Sink() = default;
    // Before begin, for a policy replay: the policy's name.
    virtual void policy(std::string_view /*name*/) {}
    virtual void begin(const std::vector<std::string>& files) = 0;
    virtual void banner(std::string_view file, std::string_view output) = 0;
    virtual void step(const Step& step) = 0;
    virtual void end(uint64_t steps, const MemState& last) = 0;
    // True once the sink takes no more banners or steps; the run goes on
    // and is counted, but nothing of it is read or handed over.
    virtual bool full() const
    {
        return false;
    }
};

} // namespace kv
