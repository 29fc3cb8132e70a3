// The core's text writer. Numbers are formatted by hand into a small buffer
// rather than with printf, whose format parsing dominated the cost of a run;
// a stream may gather its text in a block of its owner's and take it in
// large writes, as one stdio call per piece cost more than the rest of a line.

#include "KelOut.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "KelAlloc.h"

namespace {

// "00" to "99", the two-digit numbers one after another.
constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536"
    "37383940414243444546474849505152535455565758596061626364656667686970717273"
    "7475767778798081828384858687888990919293949596979899";
static_assert(sizeof kPairs == 201, "a hundred pairs and the NUL");

// Makes room for n more bytes in the kept text; false when memory ran out.
bool reserve(KelOut* out, size_t n)
{
    if (out->cap - out->len >= n)
        return true;
    size_t cap = out->cap ? out->cap : 4096;
    while (cap - out->len < n)
        cap *= 2;
    auto* grown = static_cast<char*>(kel_Realloc(out->buf, cap));
    if (!grown)
        return false;
    out->buf = grown;
    out->cap = cap;
    return true;
}

// Number of decimal digits of v, 1 to 10.
size_t decimalDigits(uint32_t v)
{
    // Compared from the small end: most numbers printed are addresses and
    // line numbers of three to seven digits, and a loop multiplying a bound
    // cost more than the rest of the formatting.
    if (v < 10000)
        return v < 10 ? 1 : v < 100 ? 2 : v < 1000 ? 3 : 4;
    if (v < 10000000)
        return v < 100000 ? 5 : v < 1000000 ? 6 : 7;
    return v < 100000000 ? 8 : v < 1000000000 ? 9 : 10;
}

} // namespace

void ko_WriteOther(KelOut* out, const char* s, size_t n)
{
    if (n == 0)
        return;
    if (!out) {
        std::fwrite(s, 1, n, stdout);
        return;
    }
    if (out->fp) {
        if (out->cap > 0) {
            KO_Flush(out);
            if (n < out->cap) {
                std::memcpy(out->buf, s, n);
                out->len = n;
                return;
            }
        }
        if (std::fwrite(s, 1, n, out->fp) != n)
            out->failed = 1;
        return;
    }
    if (!reserve(out, n)) {
        out->failed = 1;
        return;
    }
    std::memcpy(out->buf + out->len, s, n);
    out->len += n;
}

char* ko_RoomOther(KelOut* out, size_t n)
{
    if (!out || (out->fp && out->cap < n))
        return nullptr;
    if (out->fp) {
        if (out->cap - out->len < n)
            KO_Flush(out);
        return out->buf + out->len;
    }
    if (!reserve(out, n)) {
        out->failed = 1;
        return nullptr;
    }
    return out->buf + out->len;
}

void KO_Puts(KelOut* out, const char* s)
{
    KO_Write(out, s, std::strlen(s));
}

void KO_Flush(KelOut* out)
{
    if (!out || !out->fp || out->cap == 0 || out->len == 0)
        return;
    if (std::fwrite(out->buf, 1, out->len, out->fp) != out->len)
        out->failed = 1;
    out->len = 0;
}

size_t ko_IntTextWide(char* text, int32_t value, int32_t width)
{
    // Unsigned, so that the magnitude of INT32_MIN fits.
    uint32_t mag = value < 0 ? 0U - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    const size_t digits = decimalDigits(mag);
    const size_t len = digits + (value < 0 ? 1 : 0);
    size_t n = len;
    if (width > 0 && static_cast<size_t>(width) > len) {
        n = std::min(static_cast<size_t>(width), KO_INT_TEXT);
        // The whole block blank at once: a fixed size compiles to a wide
        // store or two, where the exact padding would cost a library call.
        std::memset(text, ' ', KO_INT_TEXT);
    }
    // Digits from the right, two per division, taken from "00" to "99".
    char* p = text + n;
    while (mag >= 100) {
        const size_t pair = 2 * static_cast<size_t>(mag % 100);
        mag /= 100;
        *--p = kPairs[pair + 1];
        *--p = kPairs[pair];
    }
    if (mag >= 10) {
        const size_t pair = 2 * static_cast<size_t>(mag);
        *--p = kPairs[pair + 1];
        *--p = kPairs[pair];
    } else {
        *--p = static_cast<char>('0' + mag);
    }
    if (value < 0)
        *--p = '-';
    return n;
}

void KO_Int(KelOut* out, int32_t value, int32_t width)
{
    char text[KO_INT_TEXT];
    KO_Write(out, text, KO_IntText(text, value, width)); // GCOVR_EXCL_BR_LINE: edges for exceptions
}

void KO_Free(KelOut* out)
{
    if (!out)
        return;
    std::free(out->buf);
    out->buf = nullptr;
    out->len = 0;
    out->cap = 0;
}
