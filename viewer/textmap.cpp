// The terminal map. Colour, when on, is ANSI: a foreground colour per
// process, error lines in red; nothing else changes.

#include "textmap.h"

#include <algorithm>

#include "placement.h"

namespace kv {

namespace {

constexpr int32_t kRowCells = 50;

// One colour per process, P0 to P9.
const char* const kProcColor[KMM_PROCESS_SLOTS] = {"\033[31m", "\033[32m", "\033[33m", "\033[34m",
                                                   "\033[35m", "\033[36m", "\033[91m", "\033[92m",
                                                   "\033[93m", "\033[94m"};
const char kReset[] = "\033[0m";
const char kErrorPrefix[] = "******* ERROR: ";

// "%3d " for a row's first address.
void rowLabel(std::string* out, int32_t addr)
{
    char text[KO_INT_TEXT];
    out->append(text, KO_IntText(text, addr, 3));
    out->push_back(' ');
}

// kelmem's text with its error lines in red.
void colorOutput(std::string* out, std::string_view text)
{
    while (!text.empty()) {
        size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl == std::string_view::npos ? text.size() : nl + 1);
        text.remove_prefix(line.size());
        if (line.substr(0, sizeof kErrorPrefix - 1) != kErrorPrefix) {
            out->append(line);
            continue;
        }
        // The colour ends before the line feed, so the next line starts plain.
        bool feed = line.back() == '\n';
        out->append("\033[31m");
        out->append(line.substr(0, line.size() - (feed ? 1 : 0)));
        out->append(kReset);
        if (feed)
            out->push_back('\n');
    }
}

} // namespace

void TextMapSink::banner(std::string_view, std::string_view output)
{
    buf_.append(output);
    out_->flush(false);
}

void TextMapSink::map(const MemState& st)
{
    int32_t owner[kCells]; // a process, or -1
    std::fill(owner, owner + kCells, -1);
    for (int32_t id = 0; id < KMM_PROCESS_SLOTS; id++) {
        for (const Area& a : st.segs[id]) {
            for (int64_t c = a.pos; c < a.end() && c < kCells; c++)
                owner[c] = id;
        }
    }
    for (int32_t row = 0; row < kCells; row += kRowCells) {
        rowLabel(&buf_, row);
        int32_t shown = -1; // the colour in force: a process, or -1 for none
        for (int32_t c = row; c < row + kRowCells && c < kCells; c++) {
            const int32_t o = owner[c];
            if (color_ && o != shown) {
                buf_.append(o >= 0 ? kProcColor[o] : kReset);
                shown = o;
            }
            buf_.push_back(o >= 0 ? static_cast<char>('0' + o) : '.');
        }
        if (color_ && shown >= 0)
            buf_.append(kReset);
        buf_.push_back('\n');
    }
}

// "free 893 cells in 2 holes, largest 800, fragmentation 10.4%".
void TextMapSink::figures(const Stats& s)
{
    buf_.append("free ");
    kv_AppendDecimal(&buf_, s.free);
    buf_.append(s.free == 1 ? " cell in " : " cells in ");
    kv_AppendDecimal(&buf_, s.holes);
    buf_.append(s.holes == 1 ? " hole, largest " : " holes, largest ");
    kv_AppendDecimal(&buf_, s.largest);
    buf_.append(", fragmentation ");
    if (s.fragmentation < 0) {
        buf_.append("n/a\n");
        return;
    }
    // Percent with one decimal, rounded half up from the exact figures, not
    // from the rounded fraction, so that nothing is rounded twice.
    const int64_t tenths = kv_Fragmentation(s.free, s.largest, 1000);
    kv_AppendDecimal(&buf_, tenths / 10);
    buf_.push_back('.');
    kv_AppendDecimal(&buf_, tenths % 10);
    buf_.append("%\n");
}

void TextMapSink::step(const Step& s)
{
    if (color_)
        colorOutput(&buf_, s.output);
    else
        buf_.append(s.output);
    map(*s.state);
    figures(s.stats);
    if (s.hasExplain) {
        buf_.append(s.explain);
        buf_.push_back('\n');
    }
    buf_.push_back('\n');
    out_->flush(false);
}

void TextMapSink::end(uint64_t, const MemState&)
{
    out_->flush(true);
}

} // namespace kv
