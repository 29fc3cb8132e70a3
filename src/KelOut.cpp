// The core's text writer. Numbers are formatted by hand into a small buffer
// rather than with printf, whose format parsing dominated the cost of a run;
// a stream may gather its text in a block of its owner's and take it in
// large writes, as one stdio call per piece cost more than the rest of a line.

#include "KelOut.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Makes room for n more bytes in the kept text; false when memory ran out.
bool reserve(KelOut* out, size_t n)
{
    if (out->cap - out->len >= n)
        return true;
    size_t cap = out->cap ? out->cap : 4096;
    while (cap - out->len < n)
        cap *= 2;
    auto* grown = static_cast<char*>(std::realloc(out->buf, cap));
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
        if (out->cap > 0) {
            if (out->cap - out->len >= n) {
                std::memcpy(out->buf + out->len, s, n);
                out->len += n;
                return;
            }
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

size_t KO_IntText(char* text, int32_t value, int32_t width)
{
    // Formed from the end of a scratch block, then moved to the front.
    char scratch[KO_INT_TEXT];
    char* end = scratch + sizeof scratch;
    char* p = end;
    // In 64 bits, so that the magnitude of INT32_MIN fits.
    int64_t mag = value < 0 ? -static_cast<int64_t>(value) : value;
    do {
        *--p = static_cast<char>('0' + mag % 10);
        mag /= 10;
    } while (mag > 0);
    if (value < 0)
        *--p = '-';
    while (end - p < width && p > scratch)
        *--p = ' ';
    const auto n = static_cast<size_t>(end - p);
    std::memcpy(text, p, n);
    return n;
}

void KO_Int(KelOut* out, int32_t value, int32_t width)
{
    char text[KO_INT_TEXT];
    KO_Write(out, text, KO_IntText(text, value, width));
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
