// JSON rendering of trace events. Every event is written through a Writer,
// which makes the room of each piece as it goes: no size is reckoned
// beforehand, and none can be wrong.

#include "json.h"

#include <cstdlib>
#include <cstring>

namespace kv {

namespace {

const char kHex[] = "0123456789abcdef";

// The longest escape of one byte: \udcXX.
constexpr size_t kEscapeMax = 6;

// Writes \uXXXX at w; the end of what it wrote.
char* hexEscape(char* w, uint32_t unit)
{
    const char e[kEscapeMax] = {'\\',
                                'u',
                                kHex[(unit >> 12) & 15],
                                kHex[(unit >> 8) & 15],
                                kHex[(unit >> 4) & 15],
                                kHex[unit & 15]};
    std::memcpy(w, e, sizeof e);
    return w + sizeof e;
}

// Length of the valid UTF-8 sequence at s[0..n), or 0 when there is none:
// no overlong forms, no surrogates, nothing past U+10FFFF.
size_t utf8Length(const unsigned char* s, size_t n)
{
    const unsigned char c = s[0];
    size_t len = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        lo = c == 0xE0 ? 0xA0 : 0x80;
        hi = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        lo = c == 0xF0 ? 0x90 : 0x80;
        hi = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (n < len || s[1] < lo || s[1] > hi)
        return 0;
    for (size_t i = 2; i < len; i++) {
        if (s[i] < 0x80 || s[i] > 0xBF)
            return 0;
    }
    return len;
}

// The escape rule, the one table of it: for each byte, 0 when it goes
// through as it is, 'u' for \u00XX, '8' for a byte of 0x80 or more (UTF-8,
// see highBytes), else the letter of its short escape. Row 1, for text
// inside a page's <script>, also escapes <, > and &.
struct EscapeTable {
    char second[2][0x100] = {};
    constexpr EscapeTable()
    {
        for (int html = 0; html < 2; html++) {
            for (int c = 0; c < 0x20; c++)
                second[html][c] = 'u';
            for (int c = 0x80; c < 0x100; c++)
                second[html][c] = '8';
            const char pairs[][2] = {
                {'\n', 'n'}, {'\t', 't'}, {'\r', 'r'}, {'"', '"'}, {'\\', '\\'}};
            for (const auto& p : pairs)
                second[html][static_cast<unsigned char>(p[0])] = p[1];
        }
        for (char c : {'<', '>', '&'})
            second[1][static_cast<unsigned char>(c)] = 'u';
    }
};
constexpr EscapeTable kEscape;

// Writes the bytes at s[0..n) that start with a byte of 0x80 or more: a
// valid UTF-8 sequence as it is (U+2028 and U+2029 escaped with html), else
// the one byte as \udcXX. The bytes read.
size_t highBytes(char** w, const unsigned char* s, size_t n, bool html)
{
    const size_t len = utf8Length(s, n);
    if (len == 0) {
        *w = hexEscape(*w, 0xDC00U + s[0]);
        return 1;
    }
    // U+2028 and U+2029 end a line in older JavaScript.
    if (html && len == 3 && s[0] == 0xE2 && s[1] == 0x80 && (s[2] == 0xA8 || s[2] == 0xA9)) {
        *w = hexEscape(*w, s[2] == 0xA8 ? 0x2028U : 0x2029U);
        return len;
    }
    std::memcpy(*w, s, len);
    *w += len;
    return len;
}

// Bytes tested at once by the fast scan.
constexpr size_t kChunk = 16;

// A GCC and Clang vector of kChunk bytes: SSE2 on x86-64, plain scalar
// code on a target without vectors.
typedef signed char Chunk __attribute__((vector_size(kChunk)));

// Writes the escape of the byte at s[0], which is not plain, and of the
// bytes of its UTF-8 sequence; the bytes read.
size_t escapeAt(char** w, const unsigned char* s, size_t n, bool html)
{
    const unsigned char c = s[0];
    const char e = kEscape.second[html ? 1 : 0][c];
    if (e == '8')
        return highBytes(w, s, n, html);
    if (e == 'u') {
        *w = hexEscape(*w, c);
    } else {
        (*w)[0] = '\\';
        (*w)[1] = e;
        *w += 2;
    }
    return 1;
}

// The index of the first of the kChunk bytes at s that is not plain, or
// kChunk when all are.
template <bool kHtml> size_t chunkStop(const unsigned char* s)
{
    Chunk c;
    std::memcpy(&c, s, sizeof c);
    // As signed bytes, those of 0x80 and up are negative: one comparison
    // finds them and the control characters.
    Chunk stop = (c < 0x20) | (c == '"') | (c == '\\');
    if (kHtml)
        stop |= (c == '<') | (c == '>') | (c == '&');
    // Each byte of stop is 0 or 0xFF: the first one set, read as two words.
    uint64_t half[2];
    std::memcpy(half, &stop, sizeof half);
    for (size_t h = 0; h < 2; h++) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        half[h] = __builtin_bswap64(half[h]);
#endif
        if (half[h] != 0)
            return 8 * h + static_cast<size_t>(__builtin_ctzll(half[h])) / 8;
    }
    return kChunk;
}

template <bool kHtml> char* escapeFast(char* w, const unsigned char* s, size_t n)
{
    const char* second = kEscape.second[kHtml ? 1 : 0];
    size_t i = 0;
    while (i < n) {
        // A chunk at a time, each stored whole before it is tested: the
        // bytes past a stop are written over next, and the room of six
        // bytes per byte covers them.
        size_t stop = kChunk;
        for (; i + kChunk <= n; i += kChunk, w += kChunk) {
            std::memcpy(w, s + i, kChunk);
            stop = chunkStop<kHtml>(s + i);
            if (stop < kChunk)
                break;
        }
        if (stop < kChunk) {
            w += stop;
            i += stop;
        } else {
            while (i < n && second[s[i]] == 0)
                *w++ = static_cast<char>(s[i++]);
            if (i == n)
                break;
        }
        i += escapeAt(&w, s + i, n - i, kHtml);
    }
    return w;
}

} // namespace

char* kv_JsonEscapePlain(char* w, std::string_view bytes, bool html)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const char* second = kEscape.second[html ? 1 : 0];
    size_t i = 0;
    while (i < bytes.size()) {
        if (second[s[i]] == 0)
            *w++ = static_cast<char>(s[i++]);
        else
            i += escapeAt(&w, s + i, bytes.size() - i, html);
    }
    return w;
}

char* kv_JsonEscape(char* w, std::string_view bytes, bool html)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    return html ? escapeFast<true>(w, s, bytes.size()) : escapeFast<false>(w, s, bytes.size());
}

namespace {

// The bytes as a JSON string, quotes included, through o.
void quoted(Writer& o, std::string_view bytes, bool html)
{
    // Every byte takes at most kEscapeMax bytes escaped.
    if (bytes.size() > (SIZE_MAX - 2) / kEscapeMax)
        std::abort();
    const size_t bound = kEscapeMax * bytes.size() + 2;
    char* begin = o.room(bound);
    if (!begin) // never: room() grows the buffer or throws
        std::abort();
    char* w = begin;
    *w++ = '"';
    w = kv_JsonEscape(w, bytes, html);
    *w++ = '"';
    if (static_cast<size_t>(w - begin) > bound)
        std::abort();
    o.wrote(w);
}

// Writes each item of list with write(item), comma-separated.
template <typename List, typename Write> void commaList(Writer& o, const List& list, Write write)
{
    bool first = true;
    for (const auto& item : list) {
        if (!first)
            o.put(',');
        first = false;
        write(item);
    }
}

void areas(Writer& o, const std::vector<Area>& list)
{
    o.put('[');
    commaList(o, list, [&](const Area& a) {
        o.put('[');
        o.num(a.pos);
        o.put(',');
        o.num(a.len);
        o.put(']');
    });
    o.put(']');
}

void process(Writer& o, int32_t id, const std::vector<Area>& segs)
{
    o.put("{\"id\":");
    o.num(id);
    o.put(",\"segments\":");
    areas(o, segs);
    o.put('}');
}

void cell(Writer& o, const CellChange& c, bool html)
{
    // The names of the kinds, by CellKind.
    static constexpr std::string_view kKinds[] = {"empty", "int", "str", "ins", "unset"};
    o.put('[');
    o.num(c.addr);
    o.put(",\"");
    o.put(kKinds[static_cast<size_t>(c.kind)]);
    o.put("\",");
    // An instruction without a name is written as its number.
    if (c.kind == CellKind::Empty || c.kind == CellKind::Unset)
        o.put("null");
    else if (c.kind == CellKind::Int || (c.kind == CellKind::Ins && c.text.empty()))
        o.num(c.value);
    else
        quoted(o, c.text, html);
    o.put(']');
}

// A fraction in ten-thousandths as a JSON number: 1041 -> 0.1041, 0 -> 0.
void fraction(Writer& o, int32_t tenThousandths)
{
    if (tenThousandths < 0) {
        o.put("null");
        return;
    }
    o.num(tenThousandths / 10000);
    int32_t rest = tenThousandths % 10000;
    if (rest == 0)
        return;
    char digits[5] = {'.', '0', '0', '0', '0'};
    for (int i = 4; i >= 1; i--, rest /= 10)
        digits[i] = static_cast<char>('0' + rest % 10);
    size_t len = 5;
    while (digits[len - 1] == '0')
        len--;
    o.put(std::string_view(digits, len));
}

// Writes the numbers of list, comma-separated.
void numbers(Writer& o, const std::vector<int32_t>& list)
{
    commaList(o, list, [&](int64_t v) { o.num(v); });
}

void position(Writer& o, int32_t pos)
{
    if (pos < 0)
        o.put("null");
    else
        o.num(pos);
}

// The parts of a step.

void stepStart(Writer& o, std::string_view file, bool html)
{
    o.put("{\"type\":\"step\",\"file\":");
    quoted(o, file, html);
    o.put(",\"line\":");
}

// The line number, the line and kelmem's text for it.
void stepLine(Writer& o, const Step& s, bool html)
{
    o.num(s.line);
    o.put(",\"fileLine\":");
    o.num(s.fileLine);
    o.put(",\"text\":");
    quoted(o, s.text, html);
    o.put(",\"output\":");
    quoted(o, s.output, html);
}

void stepError(Writer& o, ErrMessage_t code, bool html)
{
    o.put(",\"error\":");
    const char* error = KMM_ErrorText(code);
    if (error)
        quoted(o, error, html);
    else
        o.put("null");
}

// The processes and free list, up to the opening of the cells; each
// process's text by process(id).
template <typename Process> void stepState(Writer& o, const MemState& st, Process process)
{
    o.put(",\"processes\":[");
    bool first = true;
    for (int32_t id = 0; id < KMM_PROCESS_SLOTS; id++) {
        if (!st.live[id])
            continue;
        if (!first)
            o.put(',');
        first = false;
        process(id);
    }
    o.put("],\"free\":");
    areas(o, st.free);
    o.put(",\"cells\":[");
}

void stepCells(Writer& o, const Step& s, bool html)
{
    commaList(o, s.cells, [&](const CellChange& c) { cell(o, c, html); });
}

// The close of the cells and the stats.
void stepStats(Writer& o, const Stats& s)
{
    o.put("],\"stats\":{\"free\":");
    o.num(s.free);
    o.put(",\"holes\":");
    o.num(s.holes);
    o.put(",\"largest\":");
    o.num(s.largest);
    o.put(",\"fragmentation\":");
    fraction(o, s.fragmentation);
    o.put(",\"histogram\":[");
    numbers(o, s.histogram);
    o.put("]}");
}

void stepTail(Writer& o, const Step& s, bool html)
{
    if (s.hasRequest) {
        o.put(",\"request\":{\"cells\":");
        o.num(s.requestCells);
        o.put(",\"sizes\":[");
        numbers(o, s.requestSizes);
        o.put("],\"at\":");
        position(o, s.requestAt);
        o.put(",\"rover\":");
        o.num(s.rover);
        o.put("},\"placements\":{\"first\":");
        position(o, s.placements.first);
        o.put(",\"best\":");
        position(o, s.placements.best);
        o.put(",\"worst\":");
        position(o, s.placements.worst);
        o.put(",\"next\":");
        position(o, s.placements.next);
        o.put('}');
    }
    o.put(",\"explain\":");
    if (s.hasExplain)
        quoted(o, s.explain, html);
    else
        o.put("null");
    o.put('}');
}

// Replaces *text with what write(Writer&) writes.
template <class Write> void keepText(std::string* text, Write write)
{
    text->clear();
    kv_AppendWith(text, write);
}

// Brings the kept text up to date for step s. A process is written again
// only when its segments changed, as a load or a termination changes one
// process and leaves the others as they were.
void keep(const Step& s, bool html, JsonStateText* kept)
{
    if (!kept->valid || !s.stateKept) {
        const MemState& st = *s.state;
        for (int32_t id = 0; id < KMM_PROCESS_SLOTS; id++) {
            std::string& text = kept->process[id];
            if (!st.live[id] || (!text.empty() && kept->processSegs[id] == st.segs[id]))
                continue;
            kept->processSegs[id] = st.segs[id];
            keepText(&text, [&](Writer& o) { process(o, id, st.segs[id]); });
        }
        keepText(&kept->state, [&](Writer& o) {
            stepState(o, st, [&](int32_t id) { o.put(kept->process[id]); });
        });
        keepText(&kept->stats, [&](Writer& o) { stepStats(o, s.stats); });
        kept->valid = true;
    }
    if (kept->start.empty() || kept->file != s.file) {
        kept->file = s.file;
        keepText(&kept->start, [&](Writer& o) { stepStart(o, s.file, html); });
    }
    if (s.error >= ERR_UNKNOWN && s.error <= ERR_NONE) {
        std::string& error = kept->errors[s.error - ERR_UNKNOWN];
        if (error.empty())
            keepText(&error, [&](Writer& o) { stepError(o, s.error, html); });
    }
}

void keptStep(Writer& o, const Step& s, bool html, const JsonStateText& kept)
{
    o.put(kept.start);
    stepLine(o, s, html);
    // A code outside the table is written afresh.
    if (s.error >= ERR_UNKNOWN && s.error <= ERR_NONE)
        o.put(kept.errors[s.error - ERR_UNKNOWN]);
    else
        stepError(o, s.error, html);
    o.put(kept.state);
    stepCells(o, s, html);
    o.put(kept.stats);
    stepTail(o, s, html);
}

} // namespace

void kv_JsonString(std::string* out, std::string_view bytes, bool html)
{
    kv_AppendWith(out, [&](Writer& o) { quoted(o, bytes, html); });
}

void kv_JsonMeta(std::string* out, const std::vector<std::string>& files, bool html,
                 std::string_view policy)
{
    kv_AppendWith(out, [&](Writer& o) {
        o.put("{\"type\":\"meta\",\"schema\":\"kelmem-trace/1\",\"version\":");
        quoted(o, KELMEM_VERSION, html);
        o.put(",\"memory\":");
        o.num(kCells);
        if (!policy.empty()) {
            o.put(",\"policy\":");
            quoted(o, policy, html);
        }
        o.put(",\"files\":[");
        commaList(o, files, [&](const std::string& f) { quoted(o, f, html); });
        // The text of each result code 0 to 11, then that of ERR_UNKNOWN.
        o.put("],\"errors\":[");
        for (int32_t code = ERR_INVALIDINPUT; code < ERR_NONE; code++) {
            quoted(o, KMM_ErrorText(static_cast<ErrMessage_t>(code)), html);
            o.put(',');
        }
        quoted(o, KMM_ErrorText(ERR_UNKNOWN), html);
        o.put("]}");
    });
}

void kv_JsonBanner(std::string* out, std::string_view file, std::string_view output, bool html)
{
    kv_AppendWith(out, [&](Writer& o) {
        o.put("{\"type\":\"banner\",\"file\":");
        quoted(o, file, html);
        o.put(",\"output\":");
        quoted(o, output, html);
        o.put('}');
    });
}

void kv_JsonStep(std::string* out, const Step& s, bool html)
{
    kv_AppendWith(out, [&](Writer& o) {
        stepStart(o, s.file, html);
        stepLine(o, s, html);
        stepError(o, s.error, html);
        stepState(o, *s.state, [&](int32_t id) { process(o, id, s.state->segs[id]); });
        stepCells(o, s, html);
        stepStats(o, s.stats);
        stepTail(o, s, html);
    });
}

void kv_JsonStepKept(std::string* out, const Step& s, bool html, JsonStateText* kept)
{
    keep(s, html, kept);
    kv_AppendWith(out, [&](Writer& o) { keptStep(o, s, html, *kept); });
}

void kv_JsonEnd(std::string* out, uint64_t steps)
{
    kv_AppendWith(out, [&](Writer& o) {
        o.put("{\"type\":\"end\",\"steps\":");
        o.num(static_cast<int64_t>(steps));
        o.put('}');
    });
}

void JsonLinesSink::begin(const std::vector<std::string>& files)
{
    kv_JsonMeta(&line_, files, false, policy_);
    putLine();
}

void JsonLinesSink::banner(std::string_view file, std::string_view output)
{
    kv_JsonBanner(&line_, file, output, false);
    putLine();
}

// Moves the event in line_, with its line end, to the gathered lines.
void JsonLinesSink::putLine()
{
    {
        Writer o(&buf_);
        o.put(line_);
        o.put('\n');
    }
    line_.clear();
    sendFull();
}

// Writes the gathered lines once they fill a block.
void JsonLinesSink::sendFull()
{
    if (buf_.size() >= kWriteBlock)
        out_->handOver(&buf_);
}

void JsonLinesSink::step(const Step& step)
{
    keep(step, false, &kept_);
    {
        Writer o(&buf_);
        keptStep(o, step, false, kept_);
        o.put('\n');
    }
    sendFull();
}

void JsonLinesSink::end(uint64_t steps, const MemState&)
{
    kv_JsonEnd(&line_, steps);
    putLine();
    out_->handOver(&buf_);
    out_->flush(true);
}

} // namespace kv
