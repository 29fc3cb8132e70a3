// The run's observer. After each line it reads again what the runner says
// the line may have changed (processes and free list, an area of cells) and
// compares with its copy from the line before: the cells that differ are the
// line's changes, the two states feed the explanation and the free list
// before the line feeds the what-if placement.

#include "trace.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <utility>

#include "explain.h"
#include "placement.h"
#include "replay.h"

namespace kv {

namespace {

// True when two cells hold the same tag and value; the bytes after a
// string's NUL and any padding do not count.
bool sameCell(const KelMem& a, const KelMem& b)
{
    const DataType_e tag = KMM_CellTag(&a);
    if (tag != KMM_CellTag(&b))
        return false;
    switch (tag) {
    case DATA_INTEGER:
        return a.integer.value == b.integer.value;
    case DATA_STRING:
        return std::strncmp(a.string.value, b.string.value, sizeof a.string.value) == 0;
    case DATA_INSTRUCTION:
        return a.instruction.value == b.instruction.value;
    default:
        return true;
    }
}

// The new content of a cell, as the trace names it.
void describeCell(int32_t addr, const KelMem& cell, CellChange* out)
{
    out->addr = addr;
    out->value = 0;
    out->text.clear();
    switch (KMM_CellTag(&cell)) {
    case DATA_ERROR:
        out->kind = CellKind::Empty;
        return;
    case DATA_INTEGER:
        out->kind = CellKind::Int;
        out->value = cell.integer.value;
        return;
    case DATA_STRING: {
        out->kind = CellKind::Str;
        const char* v = cell.string.value;
        out->text.assign(v, std::find(v, v + sizeof cell.string.value, '\0'));
        return;
    }
    case DATA_INSTRUCTION: {
        out->kind = CellKind::Ins;
        out->value = static_cast<uint32_t>(cell.instruction.value);
        const char* name = KMM_InstructionName(cell.instruction.value);
        out->text = name ? name : "";
        return;
    }
    default:
        out->kind = CellKind::Unset;
        return;
    }
}

// The line without its line end ("\n" or "\r\n"), up to a NUL.
std::string_view lineText(const char* text)
{
    std::string_view t(text ? text : "");
    if (!t.empty() && t.back() == '\n') {
        t.remove_suffix(1);
        if (!t.empty() && t.back() == '\r')
            t.remove_suffix(1);
    }
    return t;
}

class Tracer {
  public:
    Tracer(KelMM* kmm, Sink* sink, Replay* replay)
        : kmm_(kmm), sink_(sink), replay_(replay), cells_(kmm->mem, kmm->mem + kmm->memSize)
    {
        kv_ReadState(kmm, &before_);
        kv_Stats(before_.free, &step_.stats);
        beforeStats_ = step_.stats;
    }

    static void seen(void* ctx, const KelEvent* ev)
    {
        auto* t = static_cast<Tracer*>(ctx);
        if (t->sink_->full())
            t->steps_ += ev->kind == EVENT_LINE ? 1 : 0;
        else if (ev->kind == EVENT_BANNER)
            t->sink_->banner(ev->file, t->takeOutput());
        else
            t->onLine(*ev);
        t->kmm_->out->len = 0;
    }

    uint64_t steps() const
    {
        return steps_;
    }
    const MemState& state() const
    {
        return before_;
    }

  private:
    std::string_view takeOutput() const
    {
        const KelOut* out = kmm_->out;
        return out->len ? std::string_view(out->buf, out->len) : std::string_view();
    }

    // Where the line's load was placed: its address, or the replay's
    // answer once the loader asked; -1 when it went nowhere.
    int32_t placedAt(const KelCommand& cmd) const
    {
        return replay_->asked ? replay_->at : cmd.addr;
    }

    // The line's cell changes, among the cells in memory the runner says
    // it may have written (a replayed load wrote them where its policy put
    // it); the copy is brought up to date.
    void lineCells(const KelEffect& fx, const KelCommand* cmd)
    {
        step_.cells.clear();
        int64_t pos = fx.pos;
        if (cmd && cmd->command == COMMAND_LOADFILE && replay_->asked)
            pos = replay_->at;
        if (fx.len <= 0 || pos < 0)
            return;
        const auto n = static_cast<int64_t>(cells_.size());
        const auto from = static_cast<size_t>(std::min(pos, n));
        const auto to = static_cast<size_t>(std::min(pos + fx.len, n));
        const KelMem* mem = kmm_->mem;
        // Equal bytes are equal cells: the common case costs one comparison.
        if (std::memcmp(cells_.data() + from, mem + from, (to - from) * sizeof(KelMem)) == 0)
            return;
        for (size_t i = from; i < to; i++) {
            const bool same = sameCell(cells_[i], mem[i]);
            cells_[i] = mem[i];
            if (same)
                continue;
            step_.cells.emplace_back();
            describeCell(static_cast<int32_t>(i), mem[i], &step_.cells.back());
        }
    }

    // The request and placements of a LoadFile whose sizes the loader read.
    // Next fit's what-if looks from the rover the run's own loads left;
    // only a load that succeeds moves it, to the end of what it placed.
    void request(const KelCommand& cmd, ErrMessage_t error)
    {
        step_.requestSizes.assign(cmd.sizes, cmd.sizes + cmd.nSegs);
        step_.requestCells = std::accumulate(cmd.sizes, cmd.sizes + cmd.nSegs, int64_t{0});
        step_.hasRequest = cmd.nSegs > 0;
        step_.requestAt = placedAt(cmd);
        step_.rover = replay_->rover;
        if (!step_.hasRequest)
            return;
        int32_t rover = replay_->rover;
        step_.placements = kv_Place(before_.free, step_.requestCells, &rover);
        if (error == ERR_NONE && step_.requestCells > 0 && step_.requestAt >= 0)
            replay_->rover = static_cast<int32_t>((step_.requestAt + step_.requestCells) % kCells);
    }

    void onLine(const KelEvent& ev)
    {
        // Most lines leave processes and free list alone: nothing to read,
        // and step_.stats still holds the last figures.
        const bool changes = ev.effect.layout;
        if (changes) {
            kv_ReadState(kmm_, &after_);
            kv_Stats(after_.free, &step_.stats);
        }
        const MemState* after = changes ? &after_ : &before_;
        step_.file = ev.file;
        step_.line = ev.line;
        step_.fileLine = ev.fileLine;
        step_.text = lineText(ev.text);
        step_.output = takeOutput();
        step_.error = ev.error;
        step_.state = after;
        step_.stateKept = !changes;
        lineCells(ev.effect, ev.command);
        step_.hasRequest = false;
        ExplainInput in;
        in.command = ev.command;
        in.error = ev.error;
        in.line = ev.text;
        in.before = &before_;
        in.after = after;
        KelCommand placed;
        const bool load = ev.command && ev.command->command == COMMAND_LOADFILE;
        if (load) {
            request(*ev.command, ev.error);
            in.sizes = &step_.requestSizes;
            in.cells = step_.requestCells;
            // A replayed load is explained at the cells it was given.
            placed = *ev.command;
            placed.addr = std::max(placedAt(placed), 0);
            in.command = &placed;
        }
        step_.hasExplain = kv_Explain(in, &step_.explain);
        if (load && replay_->asked) {
            kv_ReplayNote(*replay_, ev.command->addr, step_.requestCells, ev.error, beforeStats_,
                          &step_.explain);
            step_.hasExplain = !step_.explain.empty();
        }
        replay_->asked = false;
        replay_->at = -1;
        steps_++;
        sink_->step(step_);
        if (changes) {
            std::swap(before_, after_);
            beforeStats_ = step_.stats;
        }
    }

    KelMM* kmm_;
    Sink* sink_;
    Replay* replay_;            // the run's policy and next fit's rover
    std::vector<KelMem> cells_; // the cells as the last step left them
    MemState before_;           // the state after the last line
    MemState after_;            // the state after this line, when it may differ
    Step step_;                 // reused from line to line; stats always current
    Stats beforeStats_;         // the free list's figures before the line
    uint64_t steps_ = 0;
};

} // namespace

void kv_ReadList(const SegList* list, std::vector<Area>* out)
{
    out->clear();
    for (const SegList* s = KMM_SeekSegListHead(const_cast<SegList*>(list)); s; s = s->next)
        out->push_back({s->seg.pos, s->seg.len});
}

void kv_ReadState(const KelMM* kmm, MemState* st)
{
    for (int32_t id = 0; id < KMM_PROCESS_SLOTS; id++) {
        const Process* p = kmm->processList[id];
        st->live[id] = p != nullptr;
        if (p)
            kv_ReadList(p->segments, &st->segs[id]);
        else
            st->segs[id].clear();
    }
    kv_ReadList(kmm->memFree, &st->free);
}

bool kv_Trace(const std::vector<std::string>& files, Sink* sink, Policy policy)
{
    KelMM* kmm = KMM_Create(KMM_MEMORY_CELLS);
    if (!kmm)
        return false;
    KelOut out;
    KO_InitMemory(&out);
    kmm->out = &out;
    std::vector<const char*> names;
    names.reserve(files.size());
    for (const std::string& f : files)
        names.push_back(f.c_str());
    bool ok = true;
    Replay replay;
    replay.policy = policy;
    const KelPlacer placer = {&kv_ReplayPlace, &replay};
    if (policy != Policy::Script) {
        kmm->placer = &placer;
        sink->policy(kv_PolicyName(policy));
    }
    {
        Tracer tracer(kmm, sink, &replay);
        const KelObserver obs = {&Tracer::seen, &tracer};
        sink->begin(files);
        KMM_RunFiles(kmm, static_cast<int32_t>(names.size()), names.data(), &obs);
        // Every byte the run wrote belongs to an event; any left over, or
        // lost for want of memory, would break the trace.
        ok = out.failed == 0 && out.len == 0;
        sink->end(tracer.steps(), tracer.state());
    }
    KMM_Free(kmm);
    std::free(kmm);
    KO_Free(&out);
    return ok;
}

} // namespace kv
