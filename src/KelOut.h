// Where the core's text goes, and how a line of it is made. Every echo,
// report, error line and banner is written through a KelOut, so that the
// owner of the output chooses the destination: a stream (standard output for
// kelmem) or memory, from which a companion program takes the text of each
// line as it is made. Numbers are written here too, in decimal, for the core
// and its companions alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

// How a KelOut writes; each mode is set up by its own function below, and
// fixed from then on.
enum KelOutMode_e : int32_t {
    KO_MODE_MEMORY, // text is kept in a heap block of the KelOut's own
    KO_MODE_STREAM, // every write goes straight to fp
    KO_MODE_GATHER  // text gathers in the owner's block, written to fp a block at a time
};

struct KelOut {
    KelOutMode_e mode;
    std::FILE* fp;  // STREAM, GATHER: where text is written
    char* buf;      // GATHER: the owner's block; MEMORY: the kept text, grown as needed
    size_t len;     // bytes in buf; MEMORY: the owner may reset it to 0 once it took them
    size_t cap;     // bytes buf can hold
    int32_t failed; // nonzero once a write failed or memory ran out; text is lost from then
};

// Writes straight to fp. A null KelOut* is standard output in this mode.
void KO_InitStream(KelOut* out, std::FILE* fp);

// Gathers text in block (size bytes, the caller's, never grown or freed
// here) and writes it to fp a full block at a time; KO_Flush writes the
// rest. A block of no bytes makes a stream.
void KO_InitGather(KelOut* out, std::FILE* fp, char* block, size_t size);

// Keeps the text in memory: buf[0, len) was written since the owner last
// reset len; KO_Free releases it. A KelOut of all zeros is in this mode too.
void KO_InitMemory(KelOut* out);

// KO_Write for what does not fit in the room buf has left, and for a stream.
void ko_WriteOther(KelOut* out, const char* s, size_t n);

// Writes n bytes of s; inline where a block or kept text has room for them.
inline void KO_Write(KelOut* out, const char* s, size_t n)
{
    if (out && out->mode != KO_MODE_STREAM && out->cap - out->len >= n) {
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

// GATHER: writes the gathered text to fp; nothing in the other modes.
void KO_Flush(KelOut* out);

// MEMORY: releases the kept text; out stays usable, empty.
void KO_Free(KelOut* out);

// Bytes any int64_t takes in decimal: 19 digits and a sign.
constexpr size_t KO_DECIMAL_ROOM = 20;

// Columns a padded number (KO_IntText) is padded to at most.
constexpr size_t KO_INT_TEXT = 32;

// "00" to "99", the two-digit numbers one after another: the one digit
// table of the program and its companions.
inline constexpr char KO_PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536"
    "37383940414243444546474849505152535455565758596061626364656667686970717273"
    "7475767778798081828384858687888990919293949596979899";

// Number of decimal digits of v, 1 to 20. U is the narrowest unsigned type
// that holds v: division in 32 bits is cheaper than in 64.
template <typename U> size_t ko_DecimalDigits(U v)
{
    // Four digits a step: most numbers written have one to seven.
    size_t n = 1;
    for (; v >= 10000; v /= 10000)
        n += 4;
    return n + (v >= 10) + (v >= 100) + (v >= 1000);
}

// Writes the digits of v so that they end just before end; the first digit.
template <typename U> char* ko_DigitsBefore(char* end, U v)
{
    for (; v >= 100; v /= 100) {
        end -= 2;
        std::memcpy(end, KO_PAIRS + 2 * (v % 100), 2);
    }
    if (v < 10) {
        *--end = static_cast<char>('0' + v);
        return end;
    }
    end -= 2;
    std::memcpy(end, KO_PAIRS + 2 * v, 2);
    return end;
}

// Writes v in decimal at w, into KO_DECIMAL_ROOM bytes; the end of what it
// wrote.
inline char* KO_Decimal(char* w, int64_t v)
{
    // Unsigned, so that the magnitude of INT64_MIN fits.
    const uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    if (v < 0)
        *w++ = '-';
    char* end = w + ko_DecimalDigits(mag);
    ko_DigitsBefore(end, mag);
    return end;
}

// Writes into text (KO_INT_TEXT bytes, no NUL) what KO_Int writes, and
// returns its length; the bytes after it are overwritten with no meaning.
inline size_t KO_IntText(char* text, int32_t value, int32_t width)
{
    // Addresses, sizes, ids and counts: below 10,000 in at most four columns.
    if (value >= 0 && value < 10000 && width <= 4) {
        const auto v = static_cast<uint32_t>(value);
        const size_t digits = 1 + (v >= 10) + (v >= 100) + (v >= 1000);
        const size_t n =
            width > 0 && static_cast<size_t>(width) > digits ? static_cast<size_t>(width) : digits;
        std::memset(text, ' ', 4);
        ko_DigitsBefore(text + n, v);
        return n;
    }
    const uint32_t mag =
        value < 0 ? 0U - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    const size_t len = ko_DecimalDigits(mag) + (value < 0 ? 1 : 0);
    size_t n = len;
    if (width > 0 && static_cast<size_t>(width) > len)
        n = static_cast<size_t>(width) < KO_INT_TEXT ? static_cast<size_t>(width) : KO_INT_TEXT;
    // Four blanks at once, a constant size: most padding is shorter.
    std::memset(text, ' ', 4);
    if (n - len > 4)
        std::memset(text, ' ', n - len);
    char* first = ko_DigitsBefore(text + n, mag);
    if (value < 0)
        first[-1] = '-';
    return n;
}

// A line of text as it is made, written out in one piece: a write per piece
// cost more than the rest of a report line. It is made in place where the
// output has room, else in own. A line longer than KO_LINE bytes is written
// in several pieces, with the same bytes.
constexpr size_t KO_LINE = 256;

struct KelLine {
    KelOut* out;
    char* text; // KO_LINE bytes: in the output, or own
    size_t len;
    char own[KO_LINE];
};

// KO_LineBegin where the output has too little room left.
char* ko_LineRoom(KelOut* out);

inline void KO_LineBegin(KelLine* ln, KelOut* out)
{
    ln->out = out;
    // Standard output and streams have no room of their own: own is used.
    char* room = nullptr;
    if (out && out->mode != KO_MODE_STREAM)
        room = out->cap - out->len >= KO_LINE ? out->buf + out->len : ko_LineRoom(out);
    ln->text = room ? room : ln->own;
    ln->len = 0;
}

// Writes out what the line holds.
inline void KO_LineEnd(KelLine* ln)
{
    if (ln->text == ln->own)
        KO_Write(ln->out, ln->own, ln->len);
    else
        ln->out->len += ln->len;
}

// KO_LinePut for a piece that does not fit.
void ko_LineSpill(KelLine* ln, const char* s, size_t n);

// Adds the n bytes of s.
inline void KO_LinePut(KelLine* ln, const char* s, size_t n)
{
    if (KO_LINE - ln->len < n) {
        ko_LineSpill(ln, s, n);
        return;
    }
    std::memcpy(ln->text + ln->len, s, n);
    ln->len += n;
}

// Adds a string literal, of a size known when compiling.
template <size_t N> void KO_LineLit(KelLine* ln, const char (&text)[N])
{
    KO_LinePut(ln, text, N - 1);
}

// Adds value as KO_Int writes it.
inline void KO_LineInt(KelLine* ln, int32_t value, int32_t width)
{
    if (KO_LINE - ln->len < KO_INT_TEXT) {
        char text[KO_INT_TEXT];
        ko_LineSpill(ln, text, KO_IntText(text, value, width));
        return;
    }
    ln->len += KO_IntText(ln->text + ln->len, value, width);
}
