// Where the core's text goes. Every echo, report, error line and banner is
// written through a KelOut, so that a caller chooses the destination: a
// stream (standard output for kelmem) or memory, from which a companion
// program takes the text of each line as it is made.
#pragma once

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

// KO_Write for what does not fit in a gathering stream's block, and for
// every other output.
void ko_WriteOther(KelOut* out, const char* s, size_t n);

// Writes n bytes of s to out; out nullptr stands for standard output.
// Inline for the common case, text that fits in the block of a gathering
// stream: a call per piece cost more than the copy.
inline void KO_Write(KelOut* out, const char* s, size_t n)
{
    if (out && out->fp && out->cap - out->len >= n && n > 0) {
        std::memcpy(out->buf + out->len, s, n);
        out->len += n;
        return;
    }
    ko_WriteOther(out, s, n);
}

// Writes the NUL-terminated text s.
void KO_Puts(KelOut* out, const char* s);

// Writes value in decimal, right-aligned in at least width columns ("%*d").
void KO_Int(KelOut* out, int32_t value, int32_t width);

// Writes the text gathered for fp to it; nothing to do for other outputs.
void KO_Flush(KelOut* out);

// Room for what KO_IntText writes: padding stops at this many columns.
constexpr size_t KO_INT_TEXT = 32;

// Writes into text (KO_INT_TEXT bytes, no NUL) exactly what KO_Int would
// write, and returns its length; the rest of the KO_INT_TEXT bytes are
// overwritten with no meaning.
size_t KO_IntText(char* text, int32_t value, int32_t width);

// Releases the kept text; out stays usable, empty.
void KO_Free(KelOut* out);
