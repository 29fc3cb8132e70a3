// The core's text writer: its three modes, and the slow paths of the inline
// writers in KelOut.h (a full block, kept text that grows, a stream).

#include "KelOut.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "KelAlloc.h"

namespace {

// Bytes kept text starts with.
constexpr size_t kFirstKept = 4096;

// Grows the kept text so that n more bytes fit; false when memory ran out.
bool reserve(KelOut* out, size_t n)
{
    size_t cap = out->cap ? out->cap : kFirstKept;
    while (cap - out->len < n)
        cap *= 2;
    auto* grown = static_cast<char*>(kel_Realloc(out->buf, cap));
    if (!grown)
        return false;
    out->buf = grown;
    out->cap = cap;
    return true;
}

void writeStream(KelOut* out, std::FILE* fp, const char* s, size_t n)
{
    if (std::fwrite(s, 1, n, fp) != n && out)
        out->failed = 1;
}

} // namespace

void KO_InitStream(KelOut* out, std::FILE* fp)
{
    *out = KelOut{KO_MODE_STREAM, fp, nullptr, 0, 0, 0};
}

void KO_InitGather(KelOut* out, std::FILE* fp, char* block, size_t size)
{
    *out = KelOut{size > 0 ? KO_MODE_GATHER : KO_MODE_STREAM, fp, block, 0, size, 0};
}

void KO_InitMemory(KelOut* out)
{
    *out = KelOut{KO_MODE_MEMORY, nullptr, nullptr, 0, 0, 0};
}

void ko_WriteOther(KelOut* out, const char* s, size_t n)
{
    if (n == 0)
        return;
    if (!out || out->mode == KO_MODE_STREAM) {
        writeStream(out, out ? out->fp : stdout, s, n);
        return;
    }
    if (out->mode == KO_MODE_GATHER) {
        // Written only in whole blocks, a line cut where it falls: the kernel
        // stores aligned blocks of a file faster than pieces within pages.
        for (size_t take = 0; n > out->cap - out->len; s += take, n -= take) {
            take = out->cap - out->len;
            std::memcpy(out->buf + out->len, s, take);
            out->len = out->cap;
            KO_Flush(out);
        }
    } else if (!reserve(out, n)) {
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
    char text[KO_INT_TEXT];
    KO_Write(out, text, KO_IntText(text, value, width));
}

void KO_Flush(KelOut* out)
{
    if (!out || out->mode != KO_MODE_GATHER || out->len == 0)
        return;
    writeStream(out, out->fp, out->buf, out->len);
    out->len = 0;
}

void KO_Free(KelOut* out)
{
    if (!out || out->mode != KO_MODE_MEMORY)
        return;
    std::free(out->buf);
    out->buf = nullptr;
    out->len = 0;
    out->cap = 0;
}

char* ko_LineRoom(KelOut* out)
{
    if (!out || out->mode == KO_MODE_STREAM)
        return nullptr;
    if (out->cap - out->len >= KO_LINE)
        return out->buf + out->len;
    // A block too full for a line stays as it is: the line is made in its
    // own room and fills the block when written.
    if (out->mode == KO_MODE_GATHER)
        return nullptr;
    if (!reserve(out, KO_LINE)) {
        out->failed = 1;
        return nullptr;
    }
    return out->buf + out->len;
}

void ko_LineSpill(KelLine* ln, const char* s, size_t n)
{
    KO_LineEnd(ln);
    KO_Write(ln->out, s, n);
    KO_LineBegin(ln, ln->out);
}
