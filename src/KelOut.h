// Where the core's text goes. Every echo, report, error line and banner is
// written through a KelOut, so that a caller chooses the destination: a
// stream (standard output for kelmem) or memory, from which a companion
// program takes the text of each line as it is made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct KelOut {
    std::FILE* fp;  // text is written here; nullptr keeps it in buf instead
    char* buf;      // kept text, len bytes, not NUL-terminated; heap, grows as needed
    size_t len;     // bytes kept; the owner may reset it to 0 once it has taken them
    size_t cap;     // bytes buf can hold
    int32_t failed; // nonzero once a write failed or memory ran out; text is lost from then
};

// Writes n bytes of s to out; out nullptr stands for standard output.
void KO_Write(KelOut* out, const char* s, size_t n);

// Writes the NUL-terminated text s.
void KO_Puts(KelOut* out, const char* s);

// Writes value in decimal, right-aligned in at least width columns ("%*d").
void KO_Int(KelOut* out, int32_t value, int32_t width);

// Releases the kept text; out stays usable, empty.
void KO_Free(KelOut* out);
