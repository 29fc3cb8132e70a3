// What the manager's own files share: the fixed sizes of the machine and the
// small helpers that keep the free list and the cells consistent.
#pragma once

#include <cstddef>
#include <cstdint>

#include "KelMem.h"

// Every cell variant begins with its tag, so the tag reads alike through any.
static_assert(offsetof(KelMem_Integer, type) == 0 && offsetof(KelMem_String, type) == 0 &&
                  offsetof(KelMem_Instruction, type) == 0,
              "the tag leads every cell variant");

inline bool kmm_IsSlot(int32_t id)
{
    return id >= 0 && id < KMM_PROCESS_SLOTS;
}

// The one encoding of a value in a cell: tag and value, the rest of the
// cell's bytes cleared so that a string is always NUL-terminated.
void kmm_SetInteger(KelMem* cell, uint32_t value);
void kmm_SetInstruction(KelMem* cell, InstructionType_e value);
// Stores the first len characters of text; len is at most KMM_STRING_MAX.
void kmm_SetString(KelMem* cell, const char* text, size_t len);

// KelMM_Load, also handing over the header it read: *nSegs receives the
// segment count and sizes[0..*nSegs) the sizes once the sizes line was read
// whole, else *nSegs is 0 (the process existed, the file could not be opened,
// or its header broke off or held a size past INT32_MAX).
ErrMessage_t kmm_LoadFile(KelMM* kmm, int32_t process, const char* filename, int32_t addr,
                          int32_t* nSegs, int32_t* sizes);
