// The core's text writer. Numbers are formatted by hand into a small buffer
// rather than with printf, whose format parsing dominated the cost of a run.

#include "KelOut.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "KelAlloc.h"

namespace {

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

} // namespace

void KO_Write(KelOut* out, const char* s, size_t n)
{
    if (n == 0)
        return;
    if (!out) {
        std::fwrite(s, 1, n, stdout);
        return;
    }
    if (out->fp) {
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

void KO_Puts(KelOut* out, const char* s)
{
    KO_Write(out, s, std::strlen(s));
}

void KO_Int(KelOut* out, int32_t value, int32_t width)
{
    // Ten digits, a sign, and padding up to the widest width asked for here.
    char text[32];
    char* end = text + sizeof text;
    char* p = end;
    // In 64 bits, so that the magnitude of INT32_MIN fits.
    int64_t mag = value < 0 ? -static_cast<int64_t>(value) : value;
    do {
        *--p = static_cast<char>('0' + mag % 10);
        mag /= 10;
    } while (mag > 0);
    if (value < 0)
        *--p = '-';
    while (end - p < width && p > text)
        *--p = ' ';
    KO_Write(out, p, static_cast<size_t>(end - p));
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
