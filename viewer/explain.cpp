// The explanations of a step. Each kind of line has its own short function;
// the sentences name cells as inclusive ranges ("100-106", or "7" for one).
// Every function adds to the step's text, whose room is kept from step to
// step: most lines explained cost no allocation.

#include "explain.h"

#include <algorithm>
#include <string_view>

#include "kelparse.h"
#include "placement.h"

namespace kv {

namespace {

void proc(std::string* out, int32_t id)
{
    out->push_back('P');
    kv_AppendDecimal(out, id);
}

// " cell" or " cells" after n.
void cells(std::string* out, int64_t n)
{
    out->append(n == 1 ? " cell" : " cells");
}

bool hasSizes(const ExplainInput& in)
{
    return in.sizes && !in.sizes->empty();
}

// The free area of list that holds all of [pos, pos + len), or nullptr.
const Area* holeHolding(const std::vector<Area>& list, int64_t pos, int64_t len)
{
    const auto it = std::find_if(list.begin(), list.end(), [&](const Area& a) {
        return a.len > 0 && a.pos <= pos && pos + len <= a.end();
    });
    return it == list.end() ? nullptr : &*it;
}

// The lowest of the largest free areas; the list holds at least one.
Area largestHole(const std::vector<Area>& list)
{
    Area best = {0, 0};
    for (const Area& a : list) {
        if (a.len > best.len)
            best = a;
    }
    return best;
}

// The process's cells as ranges: touching segments joined, empty ones left out.
std::vector<Area> spans(const std::vector<Area>& segs)
{
    std::vector<Area> out;
    for (const Area& s : segs) {
        if (s.len <= 0)
            continue;
        if (!out.empty() && out.back().end() == s.pos)
            out.back().len += s.len;
        else
            out.push_back(s);
    }
    return out;
}

void loaded(const ExplainInput& in, std::string* out)
{
    const KelCommand& c = *in.command;
    proc(out, c.process);
    if (in.cells == 0) {
        out->append(" holds no cells: every segment of its load file is empty.");
        return;
    }
    out->append(" took cells ");
    kv_AppendRange(out, c.addr, in.cells);
    out->append(" (");
    kv_AppendDecimal(out, in.cells);
    cells(out, in.cells);
    out->push_back(')');
    const Area* hole = holeHolding(in.before->free, c.addr, in.cells);
    if (!hole) {
        out->push_back('.');
        return;
    }
    out->append(" from the free area ");
    kv_AppendRange(out, hole->pos, hole->len);
    out->append("; ");
    const int64_t end = c.addr + in.cells;
    const bool before = c.addr > hole->pos;
    const bool after = end < hole->end();
    if (before)
        kv_AppendRange(out, hole->pos, c.addr - hole->pos);
    if (before && after)
        out->append(" and ");
    if (after)
        kv_AppendRange(out, end, hole->end() - end);
    out->append(before && after   ? " remain free."
                : before || after ? " remains free."
                                  : "nothing of it remains.");
}

// Appends what stood first in the way of [pos, pos + n): a segment of
// another process, or the end of memory.
void obstacle(const ExplainInput& in, int64_t pos, int64_t n, std::string* out)
{
    const MemState& st = *in.before;
    int64_t lowest = -1;
    int32_t who = 0;
    size_t which = 0;
    for (int32_t id = 0; id < KMM_PROCESS_SLOTS; id++) {
        for (size_t k = 0; st.live[id] && k < st.segs[id].size(); k++) {
            const Area& s = st.segs[id][k];
            if (s.len <= 0 || s.end() <= pos || s.pos >= pos + n)
                continue;
            const int64_t from = std::max<int64_t>(s.pos, pos);
            if (lowest < 0 || from < lowest) {
                lowest = from;
                who = id;
                which = k;
            }
        }
    }
    if (lowest >= 0) {
        proc(out, who);
        out->append("'s segment ");
        kv_AppendDecimal(out, static_cast<int64_t>(which));
        out->append(" (");
        kv_AppendRange(out, st.segs[who][which].pos, st.segs[who][which].len);
        out->append(") is in the way");
    } else if (pos + n > kCells) {
        out->append("memory ends at cell ");
        kv_AppendDecimal(out, kCells - 1);
    } else {
        out->append("the cells are not free");
    }
}

void loadTooBig(const ExplainInput& in, std::string* out)
{
    const KelCommand& c = *in.command;
    // Only a size past what any memory holds stops the loader short of the sizes.
    if (!hasSizes(in)) {
        out->append("The load file asks for a segment of more cells than any memory holds.");
        return;
    }
    Stats st;
    kv_Stats(in.before->free, &st);
    proc(out, c.process);
    out->append(" needed ");
    kv_AppendDecimal(out, in.cells);
    out->append(" cells back to back from ");
    kv_AppendDecimal(out, c.addr);
    out->append(" (");
    kv_AppendRange(out, c.addr, in.cells);
    out->append("), but ");
    obstacle(in, c.addr, in.cells, out);
    out->append(". ");
    if (st.largest >= in.cells) {
        out->append("The free area ");
        const Area largest = largestHole(in.before->free);
        kv_AppendRange(out, largest.pos, largest.len);
        out->append(" holds ");
        kv_AppendDecimal(out, in.cells);
        out->append(": the address chosen failed, not memory.");
    } else if (st.free >= in.cells) {
        out->append("Memory held ");
        kv_AppendDecimal(out, st.free);
        out->append(" free cells in all, enough, but the largest free area has ");
        kv_AppendDecimal(out, st.largest);
        out->append(": the failure is fragmentation.");
    } else {
        out->append("Memory held only ");
        kv_AppendDecimal(out, st.free);
        out->append(" free cells in all: not enough anywhere.");
    }
}

// The load file's format, instruction and data errors, told apart by
// whether the loader got past the sizes line.
void loadFormat(const ExplainInput& in, std::string* out)
{
    switch (in.error) {
    case ERR_INVALIDFILE:
        out->append(hasSizes(in)
                        ? "A line among the load file's values is longer than the loader reads."
                        : "The load file does not begin with the line 8585, a count line of 1 "
                          "to 4 and a line of that many plain sizes.");
        return;
    case ERR_INVALIDINSTRUCTION:
        if (!hasSizes(in)) {
            out->append("The sizes line of the load file does not hold as many sizes as its "
                        "count line says.");
            return;
        }
        out->append("A value for segment 0 (");
        kv_AppendDecimal(out, (*in.sizes)[0]);
        cells(out, (*in.sizes)[0]);
        out->append(") is not RUN or HALT.");
        return;
    case ERR_INVALIDDATA:
        out->append("A value for segment 1 is neither a number up to 4294967295 nor a quote "
                    "and 1 to 19 characters.");
        return;
    default:
        return;
    }
}

void excess(const ExplainInput& in, std::string* out)
{
    if (!hasSizes(in))
        return;
    const bool two = in.sizes->size() > 1;
    out->append(two ? "The load file holds more values than segments 0 and 1 take ("
                    : "The load file holds more values than segment 0 takes (");
    kv_AppendDecimal(out, (*in.sizes)[0]);
    if (two) {
        out->append(" and ");
        kv_AppendDecimal(out, (*in.sizes)[1]);
    }
    out->append(" cells).");
}

void loadFailed(const ExplainInput& in, std::string* out)
{
    const KelCommand& c = *in.command;
    switch (in.error) {
    case ERR_INSUFFICIENTMEM:
        loadTooBig(in, out);
        return;
    case ERR_PROCESSEXISTS:
        proc(out, c.process);
        out->append(" is already loaded; terminate it first.");
        return;
    case ERR_NOFILE:
        out->append("The load file \"");
        out->append(c.text);
        out->append("\" is missing, unreadable or a folder, relative to the folder of the run.");
        return;
    case ERR_DATAOVERFLOW:
        excess(in, out);
        return;
    default:
        loadFormat(in, out);
        return;
    }
}

// Appends what became of the freed cells r: alone, or joined with the free
// areas around them into one.
void freedSpan(const ExplainInput& in, const Area& r, std::string* out)
{
    out->append("cells ");
    kv_AppendRange(out, r.pos, r.len);
    out->append(" freed");
    const Area* now = holeHolding(in.after->free, r.pos, r.len);
    std::vector<Area> joined;
    for (const Area& a : in.before->free) {
        if (now && a.len > 0 && a.pos >= now->pos && a.end() <= now->end())
            joined.push_back(a);
    }
    if (!now || joined.empty()) {
        out->append(" and stand alone");
        return;
    }
    out->append(joined.size() > 1 ? "; joined the free areas " : "; joined the free area ");
    kv_AppendRanges(out, joined, " and ");
    out->append(" into ");
    kv_AppendRange(out, now->pos, now->len);
}

void terminated(const ExplainInput& in, std::string* out)
{
    const int32_t id = in.command->process;
    const std::vector<Area> freed = spans(in.before->segs[id]);
    proc(out, id);
    if (freed.empty()) {
        out->append(" held no cells; nothing went back.");
        return;
    }
    out->append(" ended: ");
    for (size_t i = 0; i < freed.size(); i++) {
        if (i)
            out->append("; ");
        freedSpan(in, freed[i], out);
    }
    out->push_back('.');
}

// Why a store to an address outside the process's data segments failed.
void badAddress(std::string* out, const KelCommand& c, const std::vector<Area>& segs)
{
    out->append("Cell ");
    kv_AppendDecimal(out, c.addr);
    if (!segs.empty() && segs[0].len > 0 && c.addr >= segs[0].pos && c.addr < segs[0].end()) {
        out->append(" lies in ");
        proc(out, c.process);
        out->append("'s instruction segment ");
        kv_AppendRange(out, segs[0].pos, segs[0].len);
        out->append(", which takes no stores.");
        return;
    }
    // The data segments: those after the first.
    const std::vector<Area> data(segs.begin() + (segs.empty() ? 0 : 1), segs.end());
    if (std::none_of(data.begin(), data.end(), [](const Area& a) { return a.len > 0; })) {
        out->append(" is outside ");
        proc(out, c.process);
        out->append(", which has no segment that takes stores (only those after the first do).");
        return;
    }
    out->append(" lies outside ");
    proc(out, c.process);
    out->append("'s data segments (");
    kv_AppendRanges(out, data, " and ");
    out->append("), the only cells that take stores.");
}

void otherError(const ExplainInput& in, std::string* out)
{
    switch (in.error) {
    case ERR_UNKNOWN:
        // A line without tokens; a command fails so only when memory runs out.
        if (!in.command)
            out->append("The line holds no command: only blanks or a comment.");
        return;
    case ERR_NOPROCESS:
        out->append("There is no process ");
        proc(out, in.command->process);
        out->append(in.command->command == COMMAND_STORE ? " to store into." : ".");
        return;
    case ERR_NOPRIVILEGE:
        out->append("Only P0 may print all of memory.");
        return;
    case ERR_PARSEEND:
        out->append("END stops this script; the rest of its file is not read.");
        return;
    default:
        return;
    }
}

// Appends why a store failed.
void storeFailed(const ExplainInput& in, std::string* out)
{
    const KelCommand& c = *in.command;
    if (in.error == ERR_NOPROCESS)
        otherError(in, out);
    else if (in.error == ERR_INVALIDADDRESS && in.before->live[c.process])
        badAddress(out, c, in.before->segs[c.process]);
}

// A line that broke the grammar: an address past the last cell is one
// cause the line itself shows.
void badLine(const ExplainInput& in, std::string* out)
{
    if (in.error == ERR_UNKNOWN) {
        otherError(in, out);
        return;
    }
    const char* tok = nullptr;
    int32_t len = in.line ? KP_NextToken(in.line, &tok) : 0;
    for (int32_t i = 0; i < 2 && len > 0; i++)
        len = KP_NextToken(tok + len, &tok);
    if (len < 2 || tok[0] != '@')
        return;
    const std::string_view digits(tok + 1, static_cast<size_t>(len - 1));
    if (digits.find_first_not_of("0123456789") != std::string_view::npos)
        return;
    // Leading zeros do not count; any number of digits fits.
    const size_t lead = std::min(digits.find_first_not_of('0'), digits.size());
    const std::string_view value = lead == digits.size() ? "0" : digits.substr(lead);
    std::string last;
    kv_AppendDecimal(&last, kCells - 1);
    if (value.size() < last.size() || (value.size() == last.size() && value <= last))
        return;
    out->append("Address ");
    out->append(value);
    out->append(" is past the last cell, ");
    out->append(last);
    out->push_back('.');
}

} // namespace

bool kv_Explain(const ExplainInput& in, std::string* out)
{
    out->clear();
    if (!in.command) {
        badLine(in, out);
        return !out->empty();
    }
    const bool ok = in.error == ERR_NONE;
    switch (in.command->command) {
    case COMMAND_LOADFILE:
        if (ok)
            loaded(in, out);
        else
            loadFailed(in, out);
        break;
    case COMMAND_TERMINATEPROCESS:
        if (ok)
            terminated(in, out);
        else
            otherError(in, out);
        break;
    case COMMAND_STORE:
        storeFailed(in, out);
        break;
    default:
        otherError(in, out);
        break;
    }
    return !out->empty();
}

} // namespace kv
