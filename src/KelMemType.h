// The encoding of one memory cell: a union of variants that all begin with
// the same tag, so `type` reads the tag of whatever the cell holds.
#pragma once

#include <cstdint>

// Doubles as the class of a load-file token (its index in DataType_List) and
// as the tag of a cell: DATA_MAGIC marks a cell never allocated since the
// manager was made, DATA_ERROR a cell of a segment that holds no value.
enum DataType_e : int32_t {
    DATA_ERROR = -1,
    DATA_MAGIC = 0,
    DATA_INTEGER = 1,
    DATA_STRING = 2,
    DATA_INSTRUCTION = 3
};

// The values are the indices of "RUN" and "HALT" in DataType_Instruction.
enum InstructionType_e : int32_t { INSTRUCTION_RUN = 0, INSTRUCTION_HALT = 1 };

struct KelMem_Integer {
    DataType_e type;
    uint32_t value;
};

// Characters a string cell holds, without its terminating NUL.
constexpr int32_t KMM_STRING_MAX = 20;

struct KelMem_String {
    DataType_e type;
    char value[KMM_STRING_MAX + 1]; // up to KMM_STRING_MAX characters and the terminating NUL
};

struct KelMem_Instruction {
    DataType_e type;
    InstructionType_e value;
};

union KelMem {
    DataType_e type;
    KelMem_Instruction instruction;
    KelMem_String string;
    KelMem_Integer integer;
};
