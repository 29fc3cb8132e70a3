// The memory manager: a process table of ten slots, main memory as an array
// of tagged cells, and the free list of unallocated areas. Every operation
// takes the manager first and reports failure by its result code alone; no
// operation prints an error.
#pragma once

#include <cstdint>

#include "KelMemType.h"
#include "KelOut.h"
#include "KelProcess.h"
#include "KelSegmentList.h"

// Result codes; 0 to 12 index ErrMessages.
enum ErrMessage_t : int32_t {
    ERR_UNKNOWN = -1, // an argument out of range, or a record that cannot be had
    ERR_INVALIDINPUT = 0,
    ERR_PROCESSEXISTS,
    ERR_NOFILE,
    ERR_INVALIDFILE,
    ERR_DATAOVERFLOW,
    ERR_INVALIDINSTRUCTION,
    ERR_INVALIDDATA,
    ERR_INSUFFICIENTMEM,
    ERR_INVALIDADDRESS,
    ERR_NOPROCESS,
    ERR_NOPRIVILEGE,
    ERR_PARSEEND,
    ERR_NONE
};

// Message text of each code from 0 to 12, without newline; nullptr for ERR_NONE.
extern const char* const ErrMessages[13];

// The text of an error line for code, without its prefix: ErrMessages[code],
// "Unknown error." for ERR_UNKNOWN or any code outside the table, nullptr
// for ERR_NONE.
const char* KMM_ErrorText(ErrMessage_t code);

// Number of process slots, P0 to P9.
constexpr int32_t KMM_PROCESS_SLOTS = 10;

// Most segments a load file may declare, and columns of the process table.
constexpr int32_t KMM_MAX_SEGMENTS = 4;

// Decides where loads go instead of their lines (KelLoad.h).
struct KelPlacer;

struct KelMM {
    // Slot n holds process n; nullptr when it does not exist.
    Process* processList[KMM_PROCESS_SLOTS];
    KelMem* mem;      // memSize cells; the cell at address i is mem[i]
    int32_t memSize;  // number of cells
    SegList* memFree; // head of the free list, sorted by pos; nullptr when empty
    KelOut* out;      // where reports and the run's text go; nullptr: standard output
    // Asked where each load goes; nullptr (kelmem): where its line says.
    const KelPlacer* placer;
};

// Cells of the machine that kelmem runs.
constexpr int32_t KMM_MEMORY_CELLS = 1000;

// Returns a new manager of memSize cells, all tagged DATA_MAGIC, with empty
// slots, a free list of the one area {0, memSize} and its text going to
// standard output; nullptr when memSize is below 1 or memory cannot be had
// (nothing is left allocated).
KelMM* KMM_Create(int32_t memSize);

// Reserves the area {pos, size} unless it runs past the last cell or meets a
// segment of an existing process; tags its cells empty and cuts it out of the
// free list. ERR_NONE, ERR_INSUFFICIENTMEM, or ERR_UNKNOWN for a negative
// pos or size or when the free list needs a node that cannot be had (nothing
// is changed then). A segment of size 0 covers no cell and changes nothing.
ErrMessage_t KMM_AllocateSegmentAt(KelMM* kmm, int32_t pos, int32_t size);

// Reserves size cells at the front of the lowest free area long enough.
// Returns the position, or -1 when no area is long enough or size is negative.
int32_t KMM_AllocateSegment(KelMM* kmm, int32_t size);

// Gives the segment {pos, size} of an existing process back to the free list.
// ERR_UNKNOWN when no process owns exactly this segment, or when the free
// list needs a node that cannot be had (nothing is changed then). The owner's
// segment list and the cells stay as they are.
ErrMessage_t KMM_FreeSegment(KelMM* kmm, int32_t pos, int32_t size);

// Creates process ID with nSegs segments of the given sizes back to back from
// pos. ERR_UNKNOWN for bad arguments or a record that cannot be had,
// ERR_PROCESSEXISTS, ERR_INSUFFICIENTMEM; on failure nothing stays reserved
// and the free list is as it was. ERR_UNKNOWN also when memory runs out.
ErrMessage_t KMM_AllocateProcessAt(KelMM* kmm, int32_t ID, int32_t pos, int32_t nSegs,
                                   const int32_t* size);

// Creates process ID with each segment placed by first fit. Carries ERR_NONE,
// ERR_INSUFFICIENTMEM or ERR_UNKNOWN (also when memory runs out) as an
// unsigned number; on failure the free list is as it was.
uint32_t KMM_AllocateProcess(KelMM* kmm, int32_t ID, int32_t nSegs, const int32_t* size);

// Gives every segment of process ID back and empties its slot; its cells keep
// their values. ERR_NONE, ERR_NOPROCESS, or ERR_UNKNOWN for an ID outside 0-9.
// Needs no memory, so it never fails half way.
ErrMessage_t KMM_TerminateProcess(KelMM* kmm, int32_t ID);

// Terminates every process and releases the cells and the free list. The
// record itself stays with the caller, its pointers cleared and memSize 0.
ErrMessage_t KMM_Free(KelMM* kmm);

// Write a value into a cell of the second or a later segment of the process.
// ERR_NONE, ERR_NOPROCESS or ERR_INVALIDADDRESS; ERR_UNKNOWN for bad
// arguments, among them a string of more than 20 characters (nothing written).
ErrMessage_t KMM_StoreInteger(KelMM* kmm, int32_t process, int32_t addr, uint32_t val);
ErrMessage_t KMM_StoreString(KelMM* kmm, int32_t process, int32_t addr, const char* str);

// The tag of a cell, whichever variant it holds.
DataType_e KMM_CellTag(const KelMem* cell);

// The name of an instruction value ("RUN", "HALT"), or nullptr when it has none.
const char* KMM_InstructionName(int32_t value);

// Prints one report line for the cell at addr; nothing for an empty cell.
void KMM_PrintMem(KelMM* kmm, int32_t addr);

// The framed reports. ERR_UNKNOWN for a process outside 0-9; ERR_NOPROCESS
// when the process does not exist (process 0 may always print the table).
// KMM_PrintAllMemory needs memory for a sorted copy of the segments; when it
// cannot be had it prints nothing and returns ERR_UNKNOWN.
ErrMessage_t KMM_PrintProcessTable(KelMM* kmm, int32_t process);
ErrMessage_t KMM_PrintProcessMemory(KelMM* kmm, int32_t process);
ErrMessage_t KMM_PrintAllMemory(KelMM* kmm);
