// The explanations of a step. Each kind of line has its own short function;
// the sentences name cells as inclusive ranges ("100-106", or "7" for one).

#include "explain.h"

#include <algorithm>
#include <charconv>

#include "kelparse.h"
#include "placement.h"

namespace kv {

namespace {

std::string num(int64_t v)
{
    return std::to_string(v);
}

bool hasSizes(const ExplainInput& in)
{
    return in.sizes && !in.sizes->empty();
}

std::string proc(int32_t id)
{
    return "P" + num(id);
}

// "a", "a and b", "a, b and c".
std::string listOf(const std::vector<std::string>& items)
{
    std::string s;
    for (size_t i = 0; i < items.size(); i++) {
        if (i > 0)
            s += i + 1 == items.size() ? " and " : ", ";
        s += items[i];
    }
    return s;
}

// The free area of list that holds all of [pos, pos + len), or nullptr.
const Area* holeHolding(const std::vector<Area>& list, int64_t pos, int64_t len)
{
    for (const Area& a : list) {
        if (a.len > 0 && a.pos <= pos && pos + len <= a.end())
            return &a;
    }
    return nullptr;
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

std::string loaded(const ExplainInput& in)
{
    const KelCommand& c = *in.command;
    std::string who = proc(c.process);
    if (in.cells == 0)
        return who + " holds no cells: every segment of its load file is empty.";
    std::string s = who + " took cells " + kv_Range(c.addr, in.cells) + " (" + num(in.cells) +
                    (in.cells == 1 ? " cell)" : " cells)");
    const Area* hole = holeHolding(in.before->free, c.addr, in.cells);
    if (!hole)
        return s + ".";
    s += " from the free area " + kv_Range(*hole) + "; ";
    std::vector<std::string> rest;
    if (c.addr > hole->pos)
        rest.push_back(kv_Range(hole->pos, c.addr - hole->pos));
    if (c.addr + in.cells < hole->end())
        rest.push_back(kv_Range(c.addr + in.cells, hole->end() - c.addr - in.cells));
    if (rest.empty())
        return s + "nothing of it remains.";
    return s + listOf(rest) + (rest.size() == 1 ? " remains free." : " remain free.");
}

// What stood first in the way of [pos, pos + n): a segment of another
// process, or the end of memory.
std::string obstacle(const ExplainInput& in, int64_t pos, int64_t n)
{
    const MemState& st = *in.before;
    int64_t lowest = -1;
    std::string what;
    for (int32_t id = 0; id < KMM_PROCESS_SLOTS; id++) {
        for (size_t k = 0; st.live[id] && k < st.segs[id].size(); k++) {
            const Area& s = st.segs[id][k];
            if (s.len <= 0 || s.end() <= pos || s.pos >= pos + n)
                continue;
            int64_t from = std::max<int64_t>(s.pos, pos);
            if (lowest < 0 || from < lowest) {
                lowest = from;
                what = proc(id) + "'s segment " + num(static_cast<int64_t>(k)) + " (" +
                       kv_Range(s) + ") is in the way";
            }
        }
    }
    if (lowest >= 0)
        return what;
    if (pos + n > kCells)
        return "memory ends at cell " + num(kCells - 1);
    return "the cells are not free";
}

std::string loadTooBig(const ExplainInput& in)
{
    const KelCommand& c = *in.command;
    // Only a size past what any memory holds stops the loader short of the sizes.
    if (!hasSizes(in))
        return "The load file asks for a segment of more cells than any memory holds.";
    Stats st;
    kv_Stats(in.before->free, &st);
    std::string s = proc(c.process) + " needed " + num(in.cells) + " cells back to back from " +
                    num(c.addr) + " (" + kv_Range(c.addr, in.cells) + "), but " +
                    obstacle(in, c.addr, in.cells) + ". ";
    if (st.largest >= in.cells)
        return s + "The free area " + kv_Range(largestHole(in.before->free)) + " holds " +
               num(in.cells) + ": the address chosen failed, not memory.";
    if (st.free >= in.cells)
        return s + "Memory held " + num(st.free) + " free cells in all, enough, but the " +
               "largest free area has " + num(st.largest) + ": the failure is fragmentation.";
    return s + "Memory held only " + num(st.free) + " free cells in all: not enough anywhere.";
}

// The load file's format, instruction and data errors, told apart by
// whether the loader got past the sizes line.
std::string loadFormat(const ExplainInput& in)
{
    switch (in.error) {
    case ERR_INVALIDFILE:
        if (hasSizes(in))
            return "A line among the load file's values is longer than the loader reads.";
        return "The load file does not begin with the line 8585, a count line of 1 to 4 and " +
               std::string("a line of that many plain sizes.");
    case ERR_INVALIDINSTRUCTION:
        if (!hasSizes(in))
            return "The sizes line of the load file does not hold as many sizes as its count "
                   "line says.";
        return "A value for segment 0 (" + num((*in.sizes)[0]) +
               (in.sizes->at(0) == 1 ? " cell" : " cells") + ") is not RUN or HALT.";
    case ERR_INVALIDDATA:
        return "A value for segment 1 is neither a number up to 4294967295 nor a quote and 1 to "
               "19 characters.";
    default:
        return std::string();
    }
}

std::string loadFailed(const ExplainInput& in)
{
    const KelCommand& c = *in.command;
    switch (in.error) {
    case ERR_INSUFFICIENTMEM:
        return loadTooBig(in);
    case ERR_PROCESSEXISTS:
        return proc(c.process) + " is already loaded; terminate it first.";
    case ERR_NOFILE:
        return "The load file \"" + std::string(c.text) +
               "\" is missing, unreadable or a folder, relative to the folder of the run.";
    case ERR_DATAOVERFLOW:
        if (!hasSizes(in))
            return std::string();
        if (in.sizes->size() == 1)
            return "The load file holds more values than segment 0 takes (" +
                   num((*in.sizes)[0]) + " cells).";
        return "The load file holds more values than segments 0 and 1 take (" +
               num((*in.sizes)[0]) + " and " + num((*in.sizes)[1]) + " cells).";
    default:
        return loadFormat(in);
    }
}

std::string terminated(const ExplainInput& in)
{
    const int32_t id = in.command->process;
    std::vector<Area> freed = spans(in.before->segs[id]);
    if (freed.empty())
        return proc(id) + " held no cells; nothing went back.";
    std::vector<std::string> parts;
    for (const Area& r : freed) {
        std::string s = "cells " + kv_Range(r) + " freed";
        const Area* now = holeHolding(in.after->free, r.pos, r.len);
        std::vector<std::string> joined;
        for (const Area& a : in.before->free) {
            if (now && a.len > 0 && a.pos >= now->pos && a.end() <= now->end())
                joined.push_back(kv_Range(a));
        }
        if (!now || joined.empty())
            s += " and stand alone";
        else
            s += "; joined the free area" + std::string(joined.size() > 1 ? "s " : " ") +
                 listOf(joined) + " into " + kv_Range(*now);
        parts.push_back(s);
    }
    std::string all = proc(id) + " ended: ";
    for (size_t i = 0; i < parts.size(); i++)
        all += (i ? "; " : "") + parts[i];
    return all + ".";
}

// Appends v in decimal.
void appendNum(std::string* out, int64_t v)
{
    char text[24];
    auto res = std::to_chars(text, text + sizeof text, v);
    out->append(text, static_cast<size_t>(res.ptr - text));
}

// Appends why a store failed. Written into *out rather than built from
// pieces: a failed store is the commonest line with an explanation, and out
// keeps its room from step to step, so it costs no allocation.
void storeFailed(const ExplainInput& in, std::string* out)
{
    const KelCommand& c = *in.command;
    if (in.error == ERR_NOPROCESS) {
        *out += "There is no process P";
        appendNum(out, c.process);
        *out += " to store into.";
        return;
    }
    if (in.error != ERR_INVALIDADDRESS || !in.before->live[c.process])
        return;
    const std::vector<Area>& segs = in.before->segs[c.process];
    *out += "Cell ";
    appendNum(out, c.addr);
    if (!segs.empty() && segs[0].len > 0 && c.addr >= segs[0].pos && c.addr < segs[0].end()) {
        *out += " lies in P";
        appendNum(out, c.process);
        *out += "'s instruction segment ";
        *out += kv_Range(segs[0]);
        *out += ", which takes no stores.";
        return;
    }
    size_t data = 0; // data segments with cells
    for (size_t k = 1; k < segs.size(); k++)
        data += segs[k].len > 0 ? 1 : 0;
    if (data == 0) {
        *out += " is outside P";
        appendNum(out, c.process);
        *out += ", which has no segment that takes stores (only those after the first do).";
        return;
    }
    *out += " lies outside P";
    appendNum(out, c.process);
    *out += "'s data segments (";
    size_t listed = 0;
    for (size_t k = 1; k < segs.size(); k++) {
        if (segs[k].len <= 0)
            continue;
        if (listed > 0)
            *out += listed + 1 == data ? " and " : ", ";
        *out += kv_Range(segs[k]);
        listed++;
    }
    *out += "), the only cells that take stores.";
}

std::string otherError(const ExplainInput& in)
{
    switch (in.error) {
    case ERR_UNKNOWN:
        // A line without tokens; a command fails so only when memory runs out.
        return in.command ? std::string() : "The line holds no command: only blanks or a comment.";
    case ERR_NOPROCESS:
        return "There is no process " + proc(in.command->process) + ".";
    case ERR_NOPRIVILEGE:
        return "Only P0 may print all of memory.";
    case ERR_PARSEEND:
        return "END stops this script; the rest of its file is not read.";
    default:
        return std::string();
    }
}

// A line that broke the grammar: an address past the last cell is one
// cause the line itself shows.
std::string badLine(const ExplainInput& in)
{
    if (in.error == ERR_UNKNOWN)
        return otherError(in);
    const char* tok = nullptr;
    int32_t len = in.line ? KP_NextToken(in.line, &tok) : 0;
    for (int32_t i = 0; i < 2 && len > 0; i++)
        len = KP_NextToken(tok + len, &tok);
    if (len < 2 || tok[0] != '@')
        return std::string();
    const std::string digits(tok + 1, static_cast<size_t>(len - 1));
    if (digits.find_first_not_of("0123456789") != std::string::npos)
        return std::string();
    // Leading zeros do not count; any number of digits fits.
    const size_t lead = std::min(digits.find_first_not_of('0'), digits.size());
    const std::string value = digits.substr(lead).empty() ? "0" : digits.substr(lead);
    const std::string last = num(kCells - 1);
    if (value.size() < last.size() || (value.size() == last.size() && value <= last))
        return std::string();
    return "Address " + value + " is past the last cell, " + last + ".";
}

std::string explain(const ExplainInput& in)
{
    if (!in.command)
        return badLine(in);
    switch (in.command->command) {
    case COMMAND_LOADFILE:
        return in.error == ERR_NONE ? loaded(in) : loadFailed(in);
    case COMMAND_TERMINATEPROCESS:
        return in.error == ERR_NONE ? terminated(in) : otherError(in);
    case COMMAND_STORE:
        return std::string(); // storeFailed, written in place
    default:
        return in.error == ERR_NONE ? std::string() : otherError(in);
    }
}

} // namespace

bool kv_Explain(const ExplainInput& in, std::string* out)
{
    out->clear();
    if (in.command && in.command->command == COMMAND_STORE && in.error != ERR_NONE)
        storeFailed(in, out);
    else
        *out += explain(in);
    return !out->empty();
}

} // namespace kv
