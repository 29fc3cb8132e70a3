// Fuzzes kelmem-view's trace with arbitrary scripts.
//
// The input is a script, run once as kelmem runs it (its text kept in
// memory) and once through kelmem-view's tracer into a JSON Lines trace and
// a page. Every trace line must parse as JSON; the "output" strings of its
// banner and step events, decoded (\udcXX back to the byte XX), must
// concatenate to kelmem's text exactly; the cells the steps report, applied
// in order, must give the final memory of the kelmem run; each step's
// processes, free list and stats must be the kelmem run's after that line
// and its cells those the line changed (the tracer reads only what the
// runner says a line may have changed), and its JSON with the text kept
// from the steps before must equal the JSON written afresh; and the
// page's embedded trace must parse too and hold no `<`, `>` or `&`.
//
// The input's bytes, from each of their first sixteen positions, must be
// escaped alike by the fast escape and by the plain one, for JSON and page
// text.
//
// The process works in a scratch folder holding a few load files.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "KelMem.h"
#include "KelParseCmd.h"
#include "fuzz_check.h"
#include "fuzz_scratch.h"
#include "html.h"
#include "json.h"
#include "placement.h"
#include "trace.h"

namespace {

struct LoadFile {
    const char* name;
    const char* text;
};

const LoadFile kLoadFiles[] = {
    {"a.txt", "8585\n2\n3 4\nRUN RUN HALT\n#42 \"h\xc3\xa9llo\n"},
    {"one.txt", "8585\n1\n2\nRUN HALT\n"},
    {"big.txt", "8585\n1\n600\n"},
    {"zero.txt", "8585\n2\n0 0\n"},
    {"bad.txt", "8585\n2\n3\n"},
    {"x<\xff.txt", "8585\n2\n1 2\nRUN\n\"</script>\n"},
};

// A JSON reader just strict enough to prove a line is JSON (RFC 8259) and
// to decode the top-level string members of an object.
class Json {
  public:
    Json(const char* s, size_t n) : p_(s), end_(s + n) {}

    // Parses one object and nothing after it; *strings receives its
    // top-level string members as name=bytes pairs.
    bool object(std::vector<std::pair<std::string, std::string>>* strings)
    {
        bool ok = obj(strings);
        ws();
        return ok && p_ == end_;
    }
    // Parses one value and nothing after it.
    bool value()
    {
        bool ok = val();
        ws();
        return ok && p_ == end_;
    }

  private:
    // Skips white space between tokens.
    void ws()
    {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\t' || *p_ == '\r'))
            p_++;
    }
    bool eat(char c)
    {
        ws();
        if (p_ < end_ && *p_ == c) {
            p_++;
            return true;
        }
        return false;
    }
    bool word(const char* w)
    {
        size_t n = std::strlen(w);
        if (static_cast<size_t>(end_ - p_) < n || std::memcmp(p_, w, n) != 0)
            return false;
        p_ += n;
        return true;
    }
    bool obj(std::vector<std::pair<std::string, std::string>>* strings)
    {
        if (!eat('{'))
            return false;
        if (eat('}'))
            return true;
        do {
            std::string name;
            if (!str(&name) || !eat(':'))
                return false;
            ws();
            if (p_ < end_ && *p_ == '"' && strings) {
                std::string v;
                if (!str(&v))
                    return false;
                strings->emplace_back(name, v);
            } else if (!val()) {
                return false;
            }
        } while (eat(','));
        return eat('}');
    }
    bool arr()
    {
        if (!eat('['))
            return false;
        if (eat(']'))
            return true;
        do {
            if (!val())
                return false;
        } while (eat(','));
        return eat(']');
    }
    bool val()
    {
        ws();
        if (p_ == end_)
            return false;
        switch (*p_) {
        case '{':
            return obj(nullptr);
        case '[':
            return arr();
        case '"': {
            std::string ignored;
            return str(&ignored);
        }
        default:
            return word("null") || word("true") || word("false") || num();
        }
    }
    bool digits()
    {
        const char* from = p_;
        while (p_ < end_ && *p_ >= '0' && *p_ <= '9')
            p_++;
        return p_ > from;
    }
    bool num()
    {
        eat('-');
        if (!eat('0') && !digits())
            return false;
        if (eat('.') && !digits())
            return false;
        return true;
    }
    bool hex4(uint32_t* v)
    {
        *v = 0;
        for (int i = 0; i < 4; i++, p_++) {
            if (p_ == end_)
                return false;
            char c = *p_;
            int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (d < 0)
                return false;
            *v = *v * 16 + static_cast<uint32_t>(d);
        }
        return true;
    }
    // A string; \udcXX gives back the byte XX, other escapes their
    // character in UTF-8 (the writer escapes only ASCII, U+2028, U+2029).
    bool str(std::string* out)
    {
        if (!eat('"'))
            return false;
        while (p_ < end_ && *p_ != '"') {
            auto c = static_cast<unsigned char>(*p_++);
            fz_require(c >= 0x20, "a raw control character in a JSON string");
            if (c != '\\') {
                out->push_back(static_cast<char>(c));
                continue;
            }
            if (p_ == end_)
                return false;
            char e = *p_++;
            const char* simple = std::strchr("\"\\/bfnrt", e);
            if (simple && e) {
                out->push_back("\"\\/\b\f\n\r\t"[simple - "\"\\/bfnrt"]);
                continue;
            }
            uint32_t u = 0;
            if (e != 'u' || !hex4(&u))
                return false;
            if (u >= 0xDC80 && u <= 0xDCFF)
                out->push_back(static_cast<char>(u - 0xDC00));
            else if (u < 0x80)
                out->push_back(static_cast<char>(u));
            else if (u == 0x2028 || u == 0x2029)
                out->append(u == 0x2028 ? "\xe2\x80\xa8" : "\xe2\x80\xa9");
            else
                fz_fail("unexpected escape \\u%04x", u);
        }
        return eat('"');
    }

    const char* p_;
    const char* end_;
};

// Memory as the steps' cell changes leave it: a text per cell.
std::string cellText(int kind, uint32_t value, const std::string& text)
{
    return std::to_string(kind) + ":" + std::to_string(value) + ":" + text;
}

class Cells : public kv::Sink {
  public:
    std::vector<std::string> mem = std::vector<std::string>(kv::kCells, "never");
    void begin(const std::vector<std::string>&) override {}
    void banner(std::string_view, std::string_view) override {}
    void step(const kv::Step& s) override
    {
        for (const kv::CellChange& c : s.cells)
            mem[static_cast<size_t>(c.addr)] =
                cellText(static_cast<int>(c.kind), c.kind == kv::CellKind::Str ? 0 : c.value,
                         c.text);
    }
    void end(uint64_t, const kv::MemState&) override {}
};

std::string expectedCell(const KelMem& cell)
{
    switch (fz_tag(cell)) {
    case DATA_MAGIC:
        return "never";
    case DATA_ERROR:
        return cellText(static_cast<int>(kv::CellKind::Empty), 0, "");
    case DATA_INTEGER:
        return cellText(static_cast<int>(kv::CellKind::Int), cell.integer.value, "");
    case DATA_STRING:
        return cellText(static_cast<int>(kv::CellKind::Str), 0, cell.string.value);
    default:
        return cellText(static_cast<int>(kv::CellKind::Ins),
                        static_cast<uint32_t>(cell.instruction.value),
                        cell.instruction.value == INSTRUCTION_RUN ? "RUN" : "HALT");
    }
}

// The manager's processes and free list after each line of a run, and the
// cells each line changed (every cell compared).
struct StateLog {
    const KelMM* kmm;
    std::vector<KelMem> mem; // as the last line left it
    std::vector<kv::MemState> after;
    std::vector<std::vector<int32_t>> changed;
    static void seen(void* ctx, const KelEvent* ev)
    {
        auto* log = static_cast<StateLog*>(ctx);
        if (ev->kind != EVENT_LINE)
            return;
        log->after.emplace_back();
        kv::kv_ReadState(log->kmm, &log->after.back());
        log->changed.emplace_back();
        for (int32_t a = 0; a < kv::kCells; a++) {
            KelMem& was = log->mem[static_cast<size_t>(a)];
            if (expectedCell(was) != expectedCell(log->kmm->mem[a]))
                log->changed.back().push_back(a);
            was = log->kmm->mem[a];
        }
    }
};

bool sameState(const kv::MemState& a, const kv::MemState& b)
{
    for (int32_t id = 0; id < KMM_PROCESS_SLOTS; id++) {
        if (a.live[id] != b.live[id] || a.segs[id] != b.segs[id])
            return false;
    }
    return a.free == b.free;
}

bool sameStats(const kv::Stats& a, const kv::Stats& b)
{
    return a.free == b.free && a.holes == b.holes && a.largest == b.largest &&
           a.fragmentation == b.fragmentation && a.histogram == b.histogram;
}

class States : public kv::Sink {
  public:
    explicit States(const StateLog& log) : want_(log.after), changed_(log.changed) {}
    void begin(const std::vector<std::string>&) override {}
    void banner(std::string_view, std::string_view) override {}
    void step(const kv::Step& s) override
    {
        fz_require(n_ < want_.size(), "more steps than lines");
        const kv::MemState& want = want_[n_++];
        fz_require(sameState(*s.state, want), "line %d: the step's state is not the manager's",
                   s.line);
        addrs_.clear();
        for (const kv::CellChange& c : s.cells)
            addrs_.push_back(c.addr);
        fz_require(addrs_ == changed_[n_ - 1],
                   "line %d: the step's cells are not those the line changed", s.line);
        kv::Stats st;
        kv::kv_Stats(want.free, &st);
        fz_require(sameStats(s.stats, st), "line %d: the step's stats are not its free list's",
                   s.line);
        fresh_.clear();
        kv::kv_JsonStep(&fresh_, s, false);
        withKept_.clear();
        kv::kv_JsonStepKept(&withKept_, s, false, &kept_);
        fz_require(fresh_ == withKept_, "line %d: the kept text is stale", s.line);
    }
    void end(uint64_t steps, const kv::MemState&) override
    {
        fz_require(steps == want_.size(), "%zu lines, %llu steps", want_.size(),
                   static_cast<unsigned long long>(steps));
    }

  private:
    const std::vector<kv::MemState>& want_;
    const std::vector<std::vector<int32_t>>& changed_;
    std::vector<int32_t> addrs_;
    size_t n_ = 0;
    kv::JsonStateText kept_;
    std::string fresh_;
    std::string withKept_;
};

// Reads everything written to a memory stream.
// Everything written to a memory stream; its buffer and length are only
// current after a flush.
std::string drain(std::FILE* fp, char* const* buf, const size_t* len)
{
    std::fflush(fp);
    return std::string(*buf ? *buf : "", *len);
}

void checkLines(const std::string& trace, const std::string& want)
{
    std::string joined;
    size_t at = 0;
    size_t lines = 0;
    while (at < trace.size()) {
        size_t nl = trace.find('\n', at);
        fz_require(nl != std::string::npos, "the trace does not end with a line feed");
        std::vector<std::pair<std::string, std::string>> members;
        fz_require(Json(trace.data() + at, nl - at).object(&members), "line %zu is not JSON",
                   lines + 1);
        std::string type;
        for (const auto& m : members) {
            if (m.first == "type")
                type = m.second;
            if (m.first == "output" && (type == "banner" || type == "step"))
                joined += m.second;
        }
        fz_require(lines > 0 || type == "meta", "the trace does not begin with meta");
        at = nl + 1;
        lines++;
    }
    fz_require(joined == want, "concatenated output (%zu bytes) differs from kelmem's (%zu)",
               joined.size(), want.size());
}

void checkPage(const std::string& page)
{
    const size_t begin = page.find("[{\"type\":\"meta\"");
    const size_t close = page.find("}]", page.find("{\"type\":\"end\"", begin));
    fz_require(begin != std::string::npos && close != std::string::npos, "no trace in the page");
    const std::string json = page.substr(begin, close + 2 - begin);
    fz_require(json.find_first_of("<>&") == std::string::npos, "<, > or & in the page's trace");
    fz_require(json.find("\xe2\x80\xa8") == std::string::npos &&
                   json.find("\xe2\x80\xa9") == std::string::npos,
               "U+2028 or U+2029 in the page's trace");
    fz_require(Json(json.data(), json.size()).value(), "the page's trace is not JSON");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string& dir = fz_scratch::make("fuzz-view");
    for (const LoadFile& f : kLoadFiles)
        fz_scratch::write(f.name, f.text, std::strlen(f.text));
    fz_scratch::write("s.txt", "", 0);
    if (chdir(dir.c_str()) != 0) {
        std::perror("chdir");
        std::abort();
    }
    return 0;
}

// The fast escape against the plain one, on the bytes from each of their
// first sixteen positions (every alignment of the chunks to the bytes).
void checkEscape(std::string_view bytes)
{
    for (bool html : {false, true}) {
        for (size_t from = 0; from < bytes.size() && from < 16; from++) {
            const std::string_view rest = bytes.substr(from);
            std::string fast(6 * rest.size(), '\0');
            std::string plain(6 * rest.size(), '\0');
            fast.resize(static_cast<size_t>(kv::kv_JsonEscape(&fast[0], rest, html) - fast.data()));
            plain.resize(
                static_cast<size_t>(kv::kv_JsonEscapePlain(&plain[0], rest, html) - plain.data()));
            fz_require(fast == plain, "escaped from %zu: %zu bytes in chunks, %zu by the table", from,
                       fast.size(), plain.size());
        }
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    checkEscape(std::string_view(reinterpret_cast<const char*>(data), size));
    fz_scratch::write("s.txt", data, size);
    const char* const files[] = {"s.txt"};

    // kelmem's text, kept in memory.
    KelOut out = {};
    KelMM* kmm = KMM_Create(KMM_MEMORY_CELLS);
    fz_require(kmm != nullptr, "KMM_Create failed");
    kmm->out = &out;
    StateLog log = {kmm, std::vector<KelMem>(kmm->mem, kmm->mem + kv::kCells), {}, {}};
    const KelObserver obs = {&StateLog::seen, &log};
    KMM_RunFiles(kmm, 1, files, &obs);
    const std::string want(out.buf ? out.buf : "", out.len);

    char* buf = nullptr;
    size_t len = 0;
    std::FILE* fp = open_memstream(&buf, &len);
    fz_require(fp != nullptr, "open_memstream failed");
    kv::BlockWriter lineWriter(fp);
    kv::JsonLinesSink lines(&lineWriter);
    fz_require(kv::kv_Trace({"s.txt"}, &lines), "the trace failed");
    checkLines(drain(fp, &buf, &len), want);
    std::fclose(fp);
    std::free(buf);

    Cells cells;
    fz_require(kv::kv_Trace({"s.txt"}, &cells), "the trace failed");
    for (int32_t a = 0; a < kv::kCells; a++)
        fz_require(cells.mem[static_cast<size_t>(a)] == expectedCell(kmm->mem[a]),
                   "cell %d: the steps' changes give %s, memory holds %s", a,
                   cells.mem[static_cast<size_t>(a)].c_str(), expectedCell(kmm->mem[a]).c_str());

    States states(log);
    fz_require(kv::kv_Trace({"s.txt"}, &states), "the trace failed");

    kv::HtmlSink page;
    fz_require(kv::kv_Trace({"s.txt"}, &page), "the trace failed");
    buf = nullptr;
    len = 0;
    fp = open_memstream(&buf, &len);
    fz_require(fp != nullptr, "open_memstream failed");
    std::string error;
    kv::BlockWriter pageWriter(fp);
    fz_require(page.finish(&pageWriter, false, &error), "the page failed: %s", error.c_str());
    checkPage(drain(fp, &buf, &len));
    std::fclose(fp);
    std::free(buf);

    KMM_Free(kmm);
    std::free(kmm);
    KO_Free(&out);
    return 0;
}
