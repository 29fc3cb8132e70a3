// The program loader: reads a load file (magic line, segment count, sizes,
// value lines), creates the process and fills its first two segments.
#pragma once

#include <cstdint>
#include <cstdio>

#include "KelMem.h"

// The load-file vocabulary; a list's index in DataType_List is its DataType_e,
// a pattern's index in DataType_Instruction its InstructionType_e.
extern const char* const DataType_Magic[];
extern const char* const DataType_Integer[];
extern const char* const DataType_String[];
extern const char* const DataType_Instruction[];
extern const char* const* const DataType_List[];

// The caller's say in where a load goes, asked once the load file's sizes
// are read: place(ctx, kmm, process, addr, nSegs, sizes) returns the cell at
// which segment 0 is to start, the segments following back to back as
// always, or -1 when the caller finds no room (the load then fails with
// ERR_INSUFFICIENTMEM). addr is the cell the script gave; place is never
// nullptr. A KelMM whose placer is nullptr places every load at its addr.
struct KelPlacer {
    int32_t (*place)(void* ctx, const KelMM* kmm, int32_t process, int32_t addr, int32_t nSegs,
                     const int32_t* sizes);
    void* ctx;
};

// Loads the file as process `process` (0-9) with its segments placed back to
// back from cell addr. On ERR_NONE the process exists with the file's values
// in its cells; on any other result no process is left in the slot (or the
// one that was there is untouched) and the file is closed. ERR_UNKNOWN when
// memory runs out; the free list and the slot are then as they were.
ErrMessage_t KelMM_Load(KelMM* kmm, int32_t process, const char* filename, int32_t addr);

// Reads the next whole line of fp and returns its tokens (see Explode), or
// nullptr at the end of the file, on a read error, for a line without tokens
// or when memory runs out. buf (len bytes) receives as much of the line as
// fits. *n, when n is not nullptr, receives the token count or -1. The
// caller owns the list.
char** GetExplodedLine(char* buf, int32_t len, std::FILE* fp, int32_t* n);
