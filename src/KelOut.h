// Where the core's text goes. Every echo, report, error line and banner is
// written through a KelOut, so that a caller chooses the destination: a
// stream (standard output for kelmem) or memory, from which a companion
// program takes the text of each line as it is made.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

// A KelOut is used in one of three ways, fixed when its owner sets it up:
// - stream: fp set, cap 0: every write goes straight to fp;
// - gathering stream: fp set, buf the owner's own block of cap bytes: text
//   gathers there and goes to fp a block at a time (KO_Flush writes the
//   rest); buf is never grown or freed here, so such a KelOut is not for
//   KO_Free;
// - memory: fp nullptr: text is kept in buf, a heap block grown as needed
//   and owned by the KelOut (KO_Free releases it).
// A null KelOut* stands for standard output, written straight.
struct KelOut {
    std::FILE* fp;  // text is written here; nullptr keeps it in buf instead
    char* buf;      // kept text, len bytes, not NUL-terminated; heap, grows as needed
    size_t len;     // bytes kept; the owner may reset it to 0 once it has taken them
    size_t cap;     // bytes buf can hold
    int32_t failed; // nonzero once a write failed or memory ran out; text is lost from then
};

// KO_Write for what does not fit in the room a block or kept text has left,
// and for a plain stream.
void ko_WriteOther(KelOut* out, const char* s, size_t n);

// Writes n bytes of s to out; out nullptr stands for standard output.
// Inline for the common case, text that fits in the room left in a
// gathering stream's block or in kept text (a plain stream has cap 0): a
// call per piece cost more than the copy.
inline void KO_Write(KelOut* out, const char* s, size_t n)
{
    if (out && out->cap - out->len >= n && n > 0) {
        std::memcpy(out->buf + out->len, s, n);
        out->len += n;
        return;
    }
    ko_WriteOther(out, s, n);
}

// Writes the NUL-terminated text s.
void KO_Puts(KelOut* out, const char* s);

// KO_Room for what the inline case does not handle.
char* ko_RoomOther(KelOut* out, size_t n);

// Where up to n bytes may be written in place, saving a copy: the free end
// of a gathering stream's block (written out first if too full) or of a
// memory KelOut (grown), or nullptr when out writes straight to a stream,
// n does not fit, or memory ran out; the caller then writes with KO_Write.
// KO_Commit keeps what was written there. Inline for the common case, room
// left in a gathering stream's block or in kept text.
inline char* KO_Room(KelOut* out, size_t n)
{
    if (out && out->cap > 0 && out->cap - out->len >= n)
        return out->buf + out->len;
    return ko_RoomOther(out, n);
}

// Keeps the first k bytes written at KO_Room(out, n), k <= n, with no other
// write in between.
inline void KO_Commit(KelOut* out, size_t k)
{
    out->len += k;
}

// Where a piece of text of up to n bytes is made: in place in out when it
// has room (KO_Room), else in own, the caller's n bytes.
inline char* KO_Begin(KelOut* out, char* own, size_t n)
{
    char* room = KO_Room(out, n);
    return room ? room : own;
}

// Keeps the len bytes made at text, as KO_Begin(out, own, n) gave it.
inline void KO_End(KelOut* out, const char* text, const char* own, size_t len)
{
    if (text == own)
        KO_Write(out, own, len);
    else
        KO_Commit(out, len);
}

// Writes value in decimal, right-aligned in at least width columns ("%*d").
void KO_Int(KelOut* out, int32_t value, int32_t width);

// Writes the text gathered for fp to it; nothing to do for other outputs.
void KO_Flush(KelOut* out);

// Room for what KO_IntText writes: padding stops at this many columns.
constexpr size_t KO_INT_TEXT = 32;

// KO_IntText for the numbers not below: the general case.
size_t ko_IntTextWide(char* text, int32_t value, int32_t width);

// Every number below 1000 right-aligned in four columns, " htu", and four
// blanks that a shorter text reads past its end.
inline constexpr std::array<std::array<char, 8>, 1000> ko_Small = [] {
    std::array<std::array<char, 8>, 1000> table{};
    for (uint32_t v = 0; v < 1000; v++) {
        table[v] = {' ',
                    v >= 100 ? static_cast<char>('0' + v / 100) : ' ',
                    v >= 10 ? static_cast<char>('0' + v / 10 % 10) : ' ',
                    static_cast<char>('0' + v % 10),
                    ' ',
                    ' ',
                    ' ',
                    ' '};
    }
    return table;
}();

// Writes into text (KO_INT_TEXT bytes, no NUL) exactly what KO_Int would
// write, and returns its length; the rest of the KO_INT_TEXT bytes are
// overwritten with no meaning. Inline for the numbers below 1000 with a
// width of at most 4, the addresses, sizes and ids of the reports and most
// numbers printed: taken from a table, without a division or a branch.
inline size_t KO_IntText(char* text, int32_t value, int32_t width)
{
    if (value < 0 || value >= 1000 || width < 0 || width > 4)
        return ko_IntTextWide(text, value, width);
    const auto v = static_cast<size_t>(value);
    const size_t digits = 1 + static_cast<size_t>(v >= 10) + static_cast<size_t>(v >= 100);
    const size_t n = std::max(digits, static_cast<size_t>(width));
    // Always four bytes, from where the last n of the four columns start;
    // straight from the table, as a copy assembled on the stack and read
    // back at another offset stalled the load.
    std::memcpy(text, ko_Small[v].data() + 4 - n, 4);
    return n;
}

// Releases the kept text; out stays usable, empty.
void KO_Free(KelOut* out);
