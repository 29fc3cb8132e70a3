// JSON rendering of trace events. Each event is written through a pointer
// into room made for it once, its size bounded beforehand from the lengths
// of its parts: no size check per piece, no filling, no allocation.

#include "json.h"

#include <cassert>
#include <cstring>

#include "decimal.h"

namespace kv {

namespace {

const char kHex[] = "0123456789abcdef";

// Writes a string literal without measuring it at run time.
template <size_t N> char* lit(char* w, const char (&text)[N])
{
    std::memcpy(w, text, N - 1);
    return w + N - 1;
}

char* put(char* w, std::string_view s)
{
    if (!s.empty())
        std::memcpy(w, s.data(), s.size());
    return w + s.size();
}

// Room for a number: the 19 digits of an int64_t and a sign.
constexpr size_t kNumberRoom = kDecimalRoom;

char* number(char* w, int64_t v)
{
    return kv_WriteDecimal(w, v);
}

// The longest escape of one byte: \udcXX.
constexpr size_t kEscapeMax = 6;

constexpr size_t kWord = sizeof(uint64_t);
constexpr size_t kChunk = 2 * kWord;

// Room for n bytes as a JSON string: the quotes, every byte at its longest
// escape, and a chunk more, as plain runs are copied a chunk at a time.
constexpr size_t stringRoom(size_t n)
{
    return kEscapeMax * n + 2 + kChunk;
}

// Writes \uXXXX at w; the end of what it wrote.
char* hexEscape(char* w, uint32_t unit)
{
    const char e[kEscapeMax] = {'\\', 'u', kHex[(unit >> 12) & 15], kHex[(unit >> 8) & 15],
                                kHex[(unit >> 4) & 15], kHex[unit & 15]};
    std::memcpy(w, e, sizeof e);
    return w + sizeof e;
}

// Writes the two characters of a short escape at w.
char* pairEscape(char* w, char c)
{
    w[0] = '\\';
    w[1] = c;
    return w + 2;
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

// The second character of each ASCII byte's escape in JSON: a letter or
// the byte itself for the short escapes, 'u' for \u00XX, 0 for none.
struct EscapeTable {
    char second[0x80] = {};
    constexpr EscapeTable()
    {
        for (int c = 0; c < 0x20; c++)
            second[c] = 'u';
        const char pairs[][2] = {{'\n', 'n'}, {'\t', 't'}, {'\r', 'r'}, {'"', '"'}, {'\\', '\\'}};
        for (const auto& p : pairs)
            second[static_cast<unsigned char>(p[0])] = p[1];
    }
};
constexpr EscapeTable kEscape;

// Writes an ASCII byte at w, escaped as JSON (and, with html, as page text)
// needs; the end of what it wrote.
template <bool kHtml> char* asciiByte(char* w, unsigned char c)
{
    const char second = kEscape.second[c & 0x7F];
    if (second == 'u' || (kHtml && (c == '<' || c == '>' || c == '&')))
        return hexEscape(w, c);
    if (second != 0)
        return pairEscape(w, second);
    *w = static_cast<char>(c);
    return w + 1;
}

// Writes the bytes at s[0..n) that start with a byte of 0x80 or more: a
// valid UTF-8 sequence as it is (U+2028 and U+2029 escaped with html), else
// the one byte as \udcXX. The bytes read.
template <bool kHtml> size_t highBytes(char** w, const unsigned char* s, size_t n)
{
    const size_t len = utf8Length(s, n);
    if (len == 0) {
        *w = hexEscape(*w, 0xDC00U + s[0]);
        return 1;
    }
    // U+2028 and U+2029 end a line in older JavaScript.
    if (kHtml && len == 3 && s[0] == 0xE2 && s[1] == 0x80 && (s[2] == 0xA8 || s[2] == 0xA9)) {
        *w = hexEscape(*w, s[2] == 0xA8 ? 0x2028U : 0x2029U);
        return len;
    }
    std::memcpy(*w, s, len);
    *w += len;
    return len;
}

// Bit 0: a printable ASCII byte that needs no escape in JSON; bit 1: nor
// in page text. A table, as the test runs once for every byte of a trace.
struct PlainTable {
    unsigned char bits[256] = {};
    constexpr PlainTable()
    {
        for (int c = 0x20; c < 0x80; c++) {
            if (c == '"' || c == '\\')
                continue;
            bits[c] = c == '<' || c == '>' || c == '&' ? 1 : 3;
        }
    }
};
constexpr PlainTable kPlain;

template <bool kHtml> bool plainByte(unsigned char c)
{
    return (kPlain.bits[c] & (kHtml ? 2 : 1)) != 0;
}

constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr uint64_t kHighs = 0x8080808080808080ULL;

// The high bit of each byte of w below n (n <= 0x80), or equal to c. A
// borrow may also mark bytes above a marked one, never below: the lowest
// mark is exact.
constexpr uint64_t anyBelow(uint64_t w, uint64_t n)
{
    return (w - kOnes * n) & ~w & kHighs;
}
constexpr uint64_t anyEqual(uint64_t w, unsigned char c)
{
    return anyBelow(w ^ (kOnes * c), 1);
}

// Marks in the bytes of w that need an escape; the lowest mark is the
// first such byte.
template <bool kHtml> uint64_t wordStops(uint64_t w)
{
    uint64_t stop = anyBelow(w, 0x20) | (w & kHighs) | anyEqual(w, '"') | anyEqual(w, '\\');
    if (kHtml)
        stop |= anyEqual(w, '<') | anyEqual(w, '>') | anyEqual(w, '&');
    return stop;
}

// A word as bytes in memory order from the lowest: s[0] is its low byte.
uint64_t loadWord(const unsigned char* s)
{
    uint64_t w = 0;
    std::memcpy(&w, s, sizeof w);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    w = __builtin_bswap64(w);
#endif
    return w;
}

void storeWord(char* w, uint64_t word)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    std::memcpy(w, &word, sizeof word);
}

// The byte of the lowest mark.
size_t firstMarked(uint64_t stop)
{
    return static_cast<size_t>(__builtin_ctzll(stop)) / 8;
}

// Sixteen bytes tested at once: a GCC and Clang vector (SSE2 on x86-64).
typedef signed char Chunk __attribute__((vector_size(kChunk)));

// The index of the first of the kChunk bytes at s that needs an escape;
// kChunk when none does.
template <bool kHtml> size_t chunkStop(const unsigned char* s)
{
    Chunk c;
    std::memcpy(&c, s, sizeof c);
    // As signed bytes, those of 0x80 and up are negative: one comparison
    // finds them and the control characters.
    Chunk stop = (c < 0x20) | (c == '"') | (c == '\\');
    if (kHtml)
        stop |= (c == '<') | (c == '>') | (c == '&');
    uint64_t half[2];
    std::memcpy(half, &stop, sizeof half);
    const uint64_t low = loadWord(reinterpret_cast<const unsigned char*>(&half[0]));
    const uint64_t high = loadWord(reinterpret_cast<const unsigned char*>(&half[1]));
    if (low)
        return firstMarked(low);
    return high ? kWord + firstMarked(high) : kChunk;
}

// Copies the run of bytes from s[at] on that go through as they are to w,
// and returns its length. A chunk, then a word, at a time while one is
// left, each stored whole before it is tested (what follows the run is
// written over later, and stringRoom leaves room for it). The last bytes,
// short of a word, are read as the string's last word when it has one,
// shifted so that they come first, the NULs shifted in stopping the run.
template <bool kHtml> size_t plainRun(char* w, const unsigned char* s, size_t at, size_t n)
{
    size_t i = at;
    for (; i + kChunk <= n; i += kChunk) {
        std::memcpy(w + (i - at), s + i, kChunk);
        const size_t stop = chunkStop<kHtml>(s + i);
        if (stop < kChunk)
            return i - at + stop;
    }
    if (i + kWord <= n) {
        std::memcpy(w + (i - at), s + i, kWord);
        if (const uint64_t stop = wordStops<kHtml>(loadWord(s + i)))
            return i - at + firstMarked(stop);
        i += kWord;
    }
    const size_t left = n - i;
    if (left == 0)
        return i - at;
    if (n >= kWord) {
        const uint64_t word = loadWord(s + n - kWord) >> (8 * (kWord - left));
        storeWord(w + (i - at), word);
        return i - at + firstMarked(wordStops<kHtml>(word));
    }
    while (i < n && plainByte<kHtml>(s[i])) {
        w[i - at] = static_cast<char>(s[i]);
        i++;
    }
    return i - at;
}

// Writes bytes as a JSON string into stringRoom(bytes.size()) at w.
template <bool kHtml> char* jsonText(char* w, std::string_view bytes)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    *w++ = '"';
    size_t i = 0;
    while (i < n) {
        const size_t plain = plainRun<kHtml>(w, s, i, n);
        w += plain;
        i += plain;
        if (i == n)
            break;
        if (s[i] < 0x80)
            w = asciiByte<kHtml>(w, s[i++]);
        else
            i += highBytes<kHtml>(&w, s + i, n - i);
    }
    *w++ = '"';
    return w;
}

char* string(char* w, std::string_view bytes, bool html)
{
    return html ? jsonText<true>(w, bytes) : jsonText<false>(w, bytes);
}

// Appends to *out what write puts into room bytes.
template <class Write> void appendTo(std::string* out, size_t room, Write write)
{
    const size_t at = out->size();
    out->resize(at + room);
    char* begin = &(*out)[at];
    char* end = write(begin);
    assert(static_cast<size_t>(end - begin) <= room);
    out->resize(at + static_cast<size_t>(end - begin));
}

// Room for an area list: "[pos,len]," per area, and the brackets.
size_t areasRoom(const std::vector<Area>& list)
{
    return 2 + list.size() * (2 * kNumberRoom + 4);
}

char* areas(char* w, const std::vector<Area>& list)
{
    *w++ = '[';
    for (size_t i = 0; i < list.size(); i++) {
        if (i)
            *w++ = ',';
        *w++ = '[';
        w = number(w, list[i].pos);
        *w++ = ',';
        w = number(w, list[i].len);
        *w++ = ']';
    }
    *w++ = ']';
    return w;
}

// Room for one process: {"id":N,"segments":[...]}.
size_t processRoom(const std::vector<Area>& segs)
{
    return sizeof "{\"id\":,\"segments\":}" + kNumberRoom + areasRoom(segs);
}

char* process(char* w, int32_t id, const std::vector<Area>& segs)
{
    w = lit(w, "{\"id\":");
    w = number(w, id);
    w = lit(w, ",\"segments\":");
    w = areas(w, segs);
    *w++ = '}';
    return w;
}

size_t processesRoom(const MemState& st)
{
    size_t room = 2;
    for (int32_t id = 0; id < KMM_PROCESS_SLOTS; id++) {
        if (st.live[id])
            room += 1 + processRoom(st.segs[id]);
    }
    return room;
}

// Writes each live process with write(w, id), comma-separated.
template <typename Write> char* liveProcesses(char* w, const MemState& st, Write write)
{
    bool first = true;
    for (int32_t id = 0; id < KMM_PROCESS_SLOTS; id++) {
        if (!st.live[id])
            continue;
        if (!first)
            *w++ = ',';
        first = false;
        w = write(w, id);
    }
    return w;
}

char* processes(char* w, const MemState& st)
{
    *w++ = '[';
    w = liveProcesses(w, st, [&](char* at, int32_t id) { return process(at, id, st.segs[id]); });
    *w++ = ']';
    return w;
}

// Room for a cell: the longest of its kinds, its text escaped.
size_t cellRoom(const CellChange& c)
{
    return sizeof "[,\"unset\",]," + 2 * kNumberRoom + stringRoom(c.text.size());
}

char* cell(char* w, const CellChange& c, bool html)
{
    *w++ = '[';
    w = number(w, c.addr);
    switch (c.kind) {
    case CellKind::Int:
        w = lit(w, ",\"int\",");
        w = number(w, c.value);
        break;
    case CellKind::Str:
        w = lit(w, ",\"str\",");
        w = string(w, c.text, html);
        break;
    case CellKind::Ins:
        w = lit(w, ",\"ins\",");
        w = c.text.empty() ? number(w, c.value) : string(w, c.text, html);
        break;
    case CellKind::Empty:
        w = lit(w, ",\"empty\",null");
        break;
    case CellKind::Unset:
        w = lit(w, ",\"unset\",null");
        break;
    }
    *w++ = ']';
    return w;
}

// A fraction in ten-thousandths as a JSON number: 1041 -> 0.1041, 0 -> 0.
char* fraction(char* w, int32_t tenThousandths)
{
    if (tenThousandths < 0)
        return lit(w, "null");
    w = number(w, tenThousandths / 10000);
    int32_t rest = tenThousandths % 10000;
    if (rest == 0)
        return w;
    char digits[5] = {'.', '0', '0', '0', '0'};
    for (int i = 4; i >= 1; i--, rest /= 10)
        digits[i] = static_cast<char>('0' + rest % 10);
    size_t len = 5;
    while (digits[len - 1] == '0')
        len--;
    std::memcpy(w, digits, len);
    return w + len;
}

size_t statsRoom(const Stats& s)
{
    return sizeof "{\"free\":,\"holes\":,\"largest\":,\"fragmentation\":,\"histogram\":[]}" +
           (4 + s.histogram.size()) * (kNumberRoom + 1) + 5;
}

// Writes the numbers of list, comma-separated.
template <typename List> char* numbers(char* w, const List& list)
{
    bool first = true;
    for (const auto& v : list) {
        if (!first)
            *w++ = ',';
        first = false;
        w = number(w, v);
    }
    return w;
}

char* stats(char* w, const Stats& s)
{
    w = lit(w, "{\"free\":");
    w = number(w, s.free);
    w = lit(w, ",\"holes\":");
    w = number(w, s.holes);
    w = lit(w, ",\"largest\":");
    w = number(w, s.largest);
    w = lit(w, ",\"fragmentation\":");
    w = fraction(w, s.fragmentation);
    w = lit(w, ",\"histogram\":[");
    w = numbers(w, s.histogram);
    return lit(w, "]}");
}

char* position(char* w, int32_t pos)
{
    return pos < 0 ? lit(w, "null") : number(w, pos);
}

size_t requestRoom(const Step& s)
{
    return sizeof ",\"request\":{\"cells\":,\"sizes\":[],\"at\":,\"rover\":},\"placements\":{"
                  "\"first\":,\"best\":,\"worst\":,\"next\":}" +
           (7 + s.requestSizes.size()) * (kNumberRoom + 1);
}

char* request(char* w, const Step& s)
{
    w = lit(w, ",\"request\":{\"cells\":");
    w = number(w, s.requestCells);
    w = lit(w, ",\"sizes\":[");
    w = numbers(w, s.requestSizes);
    w = lit(w, "],\"at\":");
    w = position(w, s.requestAt);
    w = lit(w, ",\"rover\":");
    w = number(w, s.rover);
    w = lit(w, "},\"placements\":{\"first\":");
    w = position(w, s.placements.first);
    w = lit(w, ",\"best\":");
    w = position(w, s.placements.best);
    w = lit(w, ",\"worst\":");
    w = position(w, s.placements.worst);
    w = lit(w, ",\"next\":");
    w = position(w, s.placements.next);
    *w++ = '}';
    return w;
}

} // namespace

void kv_JsonString(std::string* out, std::string_view bytes, bool html)
{
    appendTo(out, stringRoom(bytes.size()), [&](char* w) { return string(w, bytes, html); });
}

void kv_JsonMeta(std::string* out, const std::vector<std::string>& files, bool html,
                 std::string_view policy)
{
    out->append("{\"type\":\"meta\",\"schema\":\"kelmem-trace/1\",\"version\":");
    kv_JsonString(out, KELMEM_VERSION, html);
    out->append(",\"memory\":");
    out->append(std::to_string(kCells));
    if (!policy.empty()) {
        out->append(",\"policy\":");
        kv_JsonString(out, policy, html);
    }
    out->append(",\"files\":[");
    for (size_t i = 0; i < files.size(); i++) {
        if (i)
            out->push_back(',');
        kv_JsonString(out, files[i], html);
    }
    // The text of each result code 0 to 11, then that of ERR_UNKNOWN.
    out->append("],\"errors\":[");
    for (int32_t code = ERR_INVALIDINPUT; code < ERR_NONE; code++) {
        kv_JsonString(out, KMM_ErrorText(static_cast<ErrMessage_t>(code)), html);
        out->push_back(',');
    }
    kv_JsonString(out, KMM_ErrorText(ERR_UNKNOWN), html);
    out->append("]}");
}

void kv_JsonBanner(std::string* out, std::string_view file, std::string_view output, bool html)
{
    out->append("{\"type\":\"banner\",\"file\":");
    kv_JsonString(out, file, html);
    out->append(",\"output\":");
    kv_JsonString(out, output, html);
    out->push_back('}');
}

namespace {

// The parts of a step, each with the room it takes.

size_t startRoom(std::string_view file)
{
    return sizeof "{\"type\":\"step\",\"file\":,\"line\":" + stringRoom(file.size());
}

char* stepStart(char* w, std::string_view file, bool html)
{
    w = lit(w, "{\"type\":\"step\",\"file\":");
    w = string(w, file, html);
    return lit(w, ",\"line\":");
}

// The line number, the line and kelmem's text for it.
size_t lineRoom(const Step& s)
{
    return sizeof ",\"fileLine\":,\"text\":,\"output\":" + 2 * kNumberRoom +
           stringRoom(s.text.size()) +
           stringRoom(s.output.size());
}

char* stepLine(char* w, const Step& s, bool html)
{
    w = number(w, s.line);
    w = lit(w, ",\"fileLine\":");
    w = number(w, s.fileLine);
    w = lit(w, ",\"text\":");
    w = string(w, s.text, html);
    w = lit(w, ",\"output\":");
    return string(w, s.output, html);
}

size_t errorRoom(ErrMessage_t code)
{
    const char* error = KMM_ErrorText(code);
    return sizeof ",\"error\":null" + (error ? stringRoom(std::strlen(error)) : 0);
}

char* stepError(char* w, ErrMessage_t code, bool html)
{
    w = lit(w, ",\"error\":");
    const char* error = KMM_ErrorText(code);
    return error ? string(w, error, html) : lit(w, "null");
}

// The processes and free list, up to the opening of the cells.
size_t stateRoom(const MemState& st)
{
    return sizeof ",\"processes\":,\"free\":,\"cells\":[" + processesRoom(st) + areasRoom(st.free);
}

char* stepState(char* w, const MemState& st)
{
    w = lit(w, ",\"processes\":");
    w = processes(w, st);
    w = lit(w, ",\"free\":");
    w = areas(w, st.free);
    return lit(w, ",\"cells\":[");
}

size_t cellsRoom(const Step& s)
{
    size_t room = 0;
    for (const CellChange& c : s.cells)
        room += cellRoom(c);
    return room;
}

char* stepCells(char* w, const Step& s, bool html)
{
    for (size_t i = 0; i < s.cells.size(); i++) {
        if (i)
            *w++ = ',';
        w = cell(w, s.cells[i], html);
    }
    return w;
}

// The close of the cells and the stats.
size_t statsPartRoom(const Stats& st)
{
    return sizeof "],\"stats\":" + statsRoom(st);
}

char* stepStats(char* w, const Stats& st)
{
    w = lit(w, "],\"stats\":");
    return stats(w, st);
}

size_t tailRoom(const Step& s)
{
    return (s.hasRequest ? requestRoom(s) : 0) + sizeof ",\"explain\":null}" +
           (s.hasExplain ? stringRoom(s.explain.size()) : 0);
}

char* stepTail(char* w, const Step& s, bool html)
{
    if (s.hasRequest)
        w = request(w, s);
    w = lit(w, ",\"explain\":");
    w = s.hasExplain ? string(w, s.explain, html) : lit(w, "null");
    *w++ = '}';
    return w;
}

// Brings the text of each live process of st up to date: a process is
// written again only when its segments changed, as a load or a termination
// changes one process and leaves the others as they were.
void keepProcesses(const MemState& st, JsonStateText* kept)
{
    for (int32_t id = 0; id < KMM_PROCESS_SLOTS; id++) {
        std::string& text = kept->process[id];
        if (!st.live[id] || (!text.empty() && kept->processSegs[id] == st.segs[id]))
            continue;
        kept->processSegs[id] = st.segs[id];
        text.clear();
        appendTo(&text, processRoom(st.segs[id]),
                 [&](char* w) { return process(w, id, st.segs[id]); });
    }
}

// The processes and free list, up to the opening of the cells, from the
// kept text of each process.
size_t keptStateRoom(const MemState& st, const JsonStateText& kept)
{
    size_t room = sizeof ",\"processes\":[],\"free\":,\"cells\":[" + areasRoom(st.free);
    for (int32_t id = 0; id < KMM_PROCESS_SLOTS; id++)
        room += st.live[id] ? 1 + kept.process[id].size() : 0;
    return room;
}

char* keptState(char* w, const MemState& st, const JsonStateText& kept)
{
    w = lit(w, ",\"processes\":[");
    w = liveProcesses(w, st, [&](char* at, int32_t id) { return put(at, kept.process[id]); });
    w = lit(w, "],\"free\":");
    w = areas(w, st.free);
    return lit(w, ",\"cells\":[");
}

// Brings the kept text up to date for step s.
void keep(const Step& s, bool html, JsonStateText* kept)
{
    if (!kept->valid || !s.stateKept) {
        const MemState& st = *s.state;
        keepProcesses(st, kept);
        kept->state.clear();
        appendTo(&kept->state, keptStateRoom(st, *kept),
                 [&](char* w) { return keptState(w, st, *kept); });
        kept->stats.clear();
        appendTo(&kept->stats, statsPartRoom(s.stats),
                 [&](char* w) { return stepStats(w, s.stats); });
        kept->valid = true;
    }
    if (kept->start.empty() || kept->file != s.file) {
        kept->file = s.file;
        kept->start.clear();
        appendTo(&kept->start, startRoom(s.file),
                 [&](char* w) { return stepStart(w, s.file, html); });
    }
    if (s.error >= ERR_UNKNOWN && s.error <= ERR_NONE) {
        std::string& error = kept->errors[s.error - ERR_UNKNOWN];
        if (error.empty())
            appendTo(&error, errorRoom(s.error),
                     [&](char* w) { return stepError(w, s.error, html); });
    }
}

// The error part of step s: kept, or written afresh for a code outside
// the table.
const std::string* keptError(const Step& s, const JsonStateText& kept)
{
    return s.error >= ERR_UNKNOWN && s.error <= ERR_NONE ? &kept.errors[s.error - ERR_UNKNOWN]
                                                         : nullptr;
}

size_t keptRoom(const Step& s, const JsonStateText& kept)
{
    const std::string* error = keptError(s, kept);
    return kept.start.size() + lineRoom(s) + (error ? error->size() : errorRoom(s.error)) +
           kept.state.size() + cellsRoom(s) + kept.stats.size() + tailRoom(s);
}

char* keptStep(char* w, const Step& s, bool html, const JsonStateText& kept)
{
    w = put(w, kept.start);
    w = stepLine(w, s, html);
    const std::string* error = keptError(s, kept);
    w = error ? put(w, *error) : stepError(w, s.error, html);
    w = put(w, kept.state);
    w = stepCells(w, s, html);
    w = put(w, kept.stats);
    return stepTail(w, s, html);
}

} // namespace

void kv_JsonStep(std::string* out, const Step& s, bool html)
{
    const size_t room = startRoom(s.file) + lineRoom(s) + errorRoom(s.error) + stateRoom(*s.state) +
                        cellsRoom(s) + statsPartRoom(s.stats) + tailRoom(s);
    appendTo(out, room, [&](char* w) {
        w = stepStart(w, s.file, html);
        w = stepLine(w, s, html);
        w = stepError(w, s.error, html);
        w = stepState(w, *s.state);
        w = stepCells(w, s, html);
        w = stepStats(w, s.stats);
        return stepTail(w, s, html);
    });
}

void kv_JsonStepKept(std::string* out, const Step& s, bool html, JsonStateText* kept)
{
    keep(s, html, kept);
    appendTo(out, keptRoom(s, *kept), [&](char* w) { return keptStep(w, s, html, *kept); });
}

void kv_JsonEnd(std::string* out, uint64_t steps)
{
    out->append("{\"type\":\"end\",\"steps\":");
    out->append(std::to_string(steps));
    out->push_back('}');
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
    line_.push_back('\n');
    buf_.wrote(put(buf_.room(line_.size()), line_));
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
    const size_t room = keptRoom(step, kept_) + 1;
    char* begin = buf_.room(room);
    char* end = keptStep(begin, step, false, kept_);
    *end++ = '\n';
    assert(static_cast<size_t>(end - begin) <= room);
    buf_.wrote(end);
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
