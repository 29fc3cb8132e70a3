// JSON rendering of trace events. Numbers and strings are appended to a
// reused buffer; nothing is allocated per event once the buffer has grown.

#include "json.h"

#include <charconv>
#include <cstring>

namespace kv {

namespace {

const char kHex[] = "0123456789abcdef";

// Appends a string literal without measuring it at run time.
template <size_t N> void lit(std::string* out, const char (&text)[N])
{
    out->append(text, N - 1);
}

// The longest escape of one byte: \udcXX.
constexpr size_t kEscapeMax = 6;

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

// Writes an ASCII byte at w, escaped as JSON (and, with html, as page text)
// needs; the end of what it wrote.
char* asciiByte(char* w, unsigned char c, bool html)
{
    switch (c) {
    case '"':
        return pairEscape(w, '"');
    case '\\':
        return pairEscape(w, '\\');
    case '\n':
        return pairEscape(w, 'n');
    case '\t':
        return pairEscape(w, 't');
    case '\r':
        return pairEscape(w, 'r');
    default:
        break;
    }
    if (c < 0x20 || (html && (c == '<' || c == '>' || c == '&')))
        return hexEscape(w, c);
    *w = static_cast<char>(c);
    return w + 1;
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

constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr uint64_t kHighs = 0x8080808080808080ULL;

// Nonzero when a byte of w is below n (n <= 0x80), or equals c.
constexpr uint64_t anyBelow(uint64_t w, uint64_t n)
{
    return (w - kOnes * n) & ~w & kHighs;
}
constexpr uint64_t anyEqual(uint64_t w, unsigned char c)
{
    return anyBelow(w ^ (kOnes * c), 1);
}

// True when one of the eight bytes of w needs an escape (a test of all
// eight at once, exact as to whether, not as to which).
bool wordStops(uint64_t w, bool html)
{
    uint64_t stop = anyBelow(w, 0x20) | (w & kHighs) | anyEqual(w, '"') | anyEqual(w, '\\');
    if (html)
        stop |= anyEqual(w, '<') | anyEqual(w, '>') | anyEqual(w, '&');
    return stop != 0;
}

// Length of the run at s[0..n) that goes through as it is: eight bytes at a
// time while none of them stops it, then byte by byte.
size_t plainRun(const unsigned char* s, size_t n, bool html)
{
    size_t i = 0;
    for (uint64_t w; i + 8 <= n; i += 8) {
        std::memcpy(&w, s + i, sizeof w);
        if (wordStops(w, html))
            break;
    }
    const unsigned char want = html ? 2 : 1;
    while (i < n && (kPlain.bits[s[i]] & want))
        i++;
    return i;
}

void key(std::string* out, const char* name)
{
    out->push_back('"');
    out->append(name);
    lit(out, "\":");
}

void number(std::string* out, int64_t v)
{
    char text[24];
    auto res = std::to_chars(text, text + sizeof text, v);
    out->append(text, static_cast<size_t>(res.ptr - text));
}

void area(std::string* out, const Area& a)
{
    out->push_back('[');
    number(out, a.pos);
    out->push_back(',');
    number(out, a.len);
    out->push_back(']');
}

void areas(std::string* out, const std::vector<Area>& list)
{
    out->push_back('[');
    for (size_t i = 0; i < list.size(); i++) {
        if (i)
            out->push_back(',');
        area(out, list[i]);
    }
    out->push_back(']');
}

void processes(std::string* out, const MemState& st)
{
    out->push_back('[');
    bool first = true;
    for (int32_t id = 0; id < KMM_PROCESS_SLOTS; id++) {
        if (!st.live[id])
            continue;
        out->append(first ? "{\"id\":" : ",{\"id\":");
        first = false;
        number(out, id);
        lit(out, ",\"segments\":");
        areas(out, st.segs[id]);
        out->push_back('}');
    }
    out->push_back(']');
}

void cell(std::string* out, const CellChange& c, bool html)
{
    out->push_back('[');
    number(out, c.addr);
    switch (c.kind) {
    case CellKind::Int:
        lit(out, ",\"int\",");
        number(out, c.value);
        break;
    case CellKind::Str:
        lit(out, ",\"str\",");
        kv_JsonString(out, c.text, html);
        break;
    case CellKind::Ins:
        lit(out, ",\"ins\",");
        if (c.text.empty())
            number(out, c.value);
        else
            kv_JsonString(out, c.text, html);
        break;
    case CellKind::Empty:
        lit(out, ",\"empty\",null");
        break;
    case CellKind::Unset:
        lit(out, ",\"unset\",null");
        break;
    }
    out->push_back(']');
}

// A fraction in ten-thousandths as a JSON number: 1041 -> 0.1041, 0 -> 0.
void fraction(std::string* out, int32_t tenThousandths)
{
    if (tenThousandths < 0) {
        lit(out, "null");
        return;
    }
    number(out, tenThousandths / 10000);
    int32_t rest = tenThousandths % 10000;
    if (rest == 0)
        return;
    char digits[5] = {'.', '0', '0', '0', '0'};
    for (int i = 4; i >= 1; i--, rest /= 10)
        digits[i] = static_cast<char>('0' + rest % 10);
    size_t len = 5;
    while (digits[len - 1] == '0')
        len--;
    out->append(digits, len);
}

void stats(std::string* out, const Stats& s)
{
    lit(out, "{\"free\":");
    number(out, s.free);
    lit(out, ",\"holes\":");
    number(out, s.holes);
    lit(out, ",\"largest\":");
    number(out, s.largest);
    lit(out, ",\"fragmentation\":");
    fraction(out, s.fragmentation);
    lit(out, ",\"histogram\":[");
    for (size_t i = 0; i < s.histogram.size(); i++) {
        if (i)
            out->push_back(',');
        number(out, s.histogram[i]);
    }
    lit(out, "]}");
}

void position(std::string* out, const char* name, int32_t pos)
{
    key(out, name);
    if (pos < 0)
        lit(out, "null");
    else
        number(out, pos);
}

void request(std::string* out, const Step& s)
{
    lit(out, ",\"request\":{\"cells\":");
    number(out, s.requestCells);
    lit(out, ",\"sizes\":[");
    for (size_t i = 0; i < s.requestSizes.size(); i++) {
        if (i)
            out->push_back(',');
        number(out, s.requestSizes[i]);
    }
    lit(out, "]},\"placements\":{");
    position(out, "first", s.placements.first);
    out->push_back(',');
    position(out, "best", s.placements.best);
    out->push_back(',');
    position(out, "worst", s.placements.worst);
    out->push_back(',');
    position(out, "next", s.placements.next);
    out->push_back('}');
}

} // namespace

void kv_JsonString(std::string* out, std::string_view bytes, bool html)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    // Room for the worst case is made once and written through a pointer,
    // then cut back: one size check for the string, not one per piece.
    const size_t at = out->size();
    out->resize(at + kEscapeMax * n + 2);
    char* w = &(*out)[at];
    *w++ = '"';
    size_t i = 0;
    while (i < n) {
        // Runs of bytes that go through as they are, copied at once.
        const size_t plain = plainRun(s + i, n - i, html);
        std::memcpy(w, s + i, plain);
        w += plain;
        i += plain;
        if (i == n)
            break;
        if (s[i] < 0x80) {
            w = asciiByte(w, s[i], html);
            i++;
            continue;
        }
        size_t len = utf8Length(s + i, n - i);
        if (len == 0) {
            w = hexEscape(w, 0xDC00U + s[i]);
            i++;
            continue;
        }
        // U+2028 and U+2029 end a line in older JavaScript.
        if (html && len == 3 && s[i] == 0xE2 && s[i + 1] == 0x80 &&
            (s[i + 2] == 0xA8 || s[i + 2] == 0xA9)) {
            w = hexEscape(w, s[i + 2] == 0xA8 ? 0x2028U : 0x2029U);
        } else {
            std::memcpy(w, s + i, len);
            w += len;
        }
        i += len;
    }
    *w++ = '"';
    out->resize(static_cast<size_t>(w - out->data()));
}

void kv_JsonMeta(std::string* out, const std::vector<std::string>& files, bool html)
{
    lit(out, "{\"type\":\"meta\",\"schema\":\"kelmem-trace/1\",\"version\":");
    kv_JsonString(out, KELMEM_VERSION, html);
    lit(out, ",\"memory\":");
    number(out, kCells);
    lit(out, ",\"files\":[");
    for (size_t i = 0; i < files.size(); i++) {
        if (i)
            out->push_back(',');
        kv_JsonString(out, files[i], html);
    }
    // The text of each result code 0 to 11, then that of ERR_UNKNOWN.
    lit(out, "],\"errors\":[");
    for (int32_t code = ERR_INVALIDINPUT; code < ERR_NONE; code++) {
        kv_JsonString(out, KMM_ErrorText(static_cast<ErrMessage_t>(code)), html);
        out->push_back(',');
    }
    kv_JsonString(out, KMM_ErrorText(ERR_UNKNOWN), html);
    lit(out, "]}");
}

void kv_JsonBanner(std::string* out, std::string_view file, std::string_view output, bool html)
{
    lit(out, "{\"type\":\"banner\",\"file\":");
    kv_JsonString(out, file, html);
    lit(out, ",\"output\":");
    kv_JsonString(out, output, html);
    out->push_back('}');
}

namespace {

void stepStart(std::string* out, std::string_view file, bool html)
{
    lit(out, "{\"type\":\"step\",\"file\":");
    kv_JsonString(out, file, html);
    lit(out, ",\"line\":");
}

// The line number, the line and kelmem's text for it.
void stepLine(std::string* out, const Step& s, bool html)
{
    number(out, s.line);
    lit(out, ",\"text\":");
    kv_JsonString(out, s.text, html);
    lit(out, ",\"output\":");
    kv_JsonString(out, s.output, html);
}

void stepError(std::string* out, ErrMessage_t code, bool html)
{
    lit(out, ",\"error\":");
    const char* error = KMM_ErrorText(code);
    if (error)
        kv_JsonString(out, error, html);
    else
        lit(out, "null");
}

void stepState(std::string* out, const MemState& st)
{
    lit(out, ",\"processes\":");
    processes(out, st);
    lit(out, ",\"free\":");
    areas(out, st.free);
    lit(out, ",\"cells\":[");
}

void stepCells(std::string* out, const Step& s, bool html)
{
    for (size_t i = 0; i < s.cells.size(); i++) {
        if (i)
            out->push_back(',');
        cell(out, s.cells[i], html);
    }
}

void stepStats(std::string* out, const Stats& st)
{
    lit(out, "],\"stats\":");
    stats(out, st);
}

void stepTail(std::string* out, const Step& s, bool html)
{
    if (s.hasRequest)
        request(out, s);
    lit(out, ",\"explain\":");
    if (s.hasExplain)
        kv_JsonString(out, s.explain, html);
    else
        lit(out, "null");
    out->push_back('}');
}

} // namespace

void kv_JsonStep(std::string* out, const Step& s, bool html)
{
    stepStart(out, s.file, html);
    stepLine(out, s, html);
    stepError(out, s.error, html);
    stepState(out, *s.state);
    stepCells(out, s, html);
    stepStats(out, s.stats);
    stepTail(out, s, html);
}

void kv_JsonStepKept(std::string* out, const Step& s, bool html, JsonStateText* kept)
{
    if (!kept->valid || !s.stateKept) {
        kept->state.clear();
        stepState(&kept->state, *s.state);
        kept->stats.clear();
        stepStats(&kept->stats, s.stats);
        kept->valid = true;
    }
    if (kept->start.empty() || kept->file != s.file) {
        kept->file = s.file;
        kept->start.clear();
        stepStart(&kept->start, s.file, html);
    }
    out->append(kept->start);
    stepLine(out, s, html);
    if (s.error >= ERR_UNKNOWN && s.error <= ERR_NONE) {
        std::string& error = kept->errors[s.error - ERR_UNKNOWN];
        if (error.empty())
            stepError(&error, s.error, html);
        out->append(error);
    } else {
        stepError(out, s.error, html);
    }
    out->append(kept->state);
    stepCells(out, s, html);
    out->append(kept->stats);
    stepTail(out, s, html);
}

void kv_JsonEnd(std::string* out, uint64_t steps)
{
    lit(out, "{\"type\":\"end\",\"steps\":");
    number(out, static_cast<int64_t>(steps));
    out->push_back('}');
}

void JsonLinesSink::begin(const std::vector<std::string>& files)
{
    kv_JsonMeta(&out_->text(), files, false);
    out_->write("\n");
}

void JsonLinesSink::banner(std::string_view file, std::string_view output)
{
    kv_JsonBanner(&out_->text(), file, output, false);
    out_->write("\n");
}

void JsonLinesSink::step(const Step& step)
{
    kv_JsonStepKept(&out_->text(), step, false, &kept_);
    out_->write("\n");
}

void JsonLinesSink::end(uint64_t steps, const MemState&)
{
    kv_JsonEnd(&out_->text(), steps);
    out_->write("\n");
    out_->flush(true);
}

} // namespace kv
