// The script runner and the command interpreter: one script line is cut into
// tokens, echoed, checked against the command grammar and carried out by one
// manager operation or the loader.
#pragma once

#include <cstdint>

#include "KelMem.h"

// A token's type is the index of its pattern list in Arguments.
enum ArgType_e : int32_t {
    TYPE_ERROR = -1,
    TYPE_PROCESS,
    TYPE_COMMAND,
    TYPE_ADDRESS,
    TYPE_INTEGER,
    TYPE_STRING
};

// A command's value is the index of its keyword in ArgType_Command.
enum CommandType_e : int32_t {
    COMMAND_ERROR = -1,
    COMMAND_LOADFILE,
    COMMAND_PRINTPROCESSTABLE,
    COMMAND_PRINTPROCESSMEMORY,
    COMMAND_STORE,
    COMMAND_TERMINATEPROCESS,
    COMMAND_PRINTALLMEMORY,
    COMMAND_END
};

extern const char* const ArgType_Process[];
extern const char* const ArgType_Command[];
extern const char* const ArgType_Address[];
extern const char* const ArgType_Integer[];
extern const char* const ArgType_String[];
extern const char* const* const Arguments[];

// Converts a token already classified as `type` (its first character is
// skipped) into buffer: a uint32_t for process, address and integer tokens,
// at least 21 bytes of text for strings. Returns 0, or -1 when the number
// exceeds 4294967295, the text exceeds 20 characters or the type has no
// value; buffer is then untouched.
int32_t ReadFromType(ArgType_e type, const char* str, void* buffer);

// Executes one script line, echoing it with the number `line` first when it
// holds a token. Returns the operation's code, ERR_INVALIDINPUT for a breach
// of the grammar, ERR_NOPRIVILEGE, ERR_PARSEEND, or ERR_UNKNOWN for a line
// without tokens or one that memory could not be had to cut (not echoed).
ErrMessage_t KMM_ParseLine(const char* strIn, KelMM* kmm, int32_t line);

// Runs every line of the script file against kmm, printing an error line for
// each failed command. Returns 0 when the file was read to its end, -1 when
// it cannot be opened or read or when END stopped it.
int32_t KMM_ParseFile(const char* fname, KelMM* kmm);
