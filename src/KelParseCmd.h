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

// KMM_ParseLine against `table`, a pattern table of Arguments' shape (lists
// in ArgType_e order, keywords in CommandType_e order), for tests.
ErrMessage_t kmm_ParseLineWith(const char* strIn, KelMM* kmm, int32_t line,
                               const char* const* const* table);

// Runs every line of the script file against kmm, printing an error line for
// each failed command. Returns 0 when the file was read to its end, -1 when
// it cannot be opened or read or when END stopped it.
int32_t KMM_ParseFile(const char* fname, KelMM* kmm);

// What kelmem prints, and nothing else, when no script is named; it then
// exits with status 255.
constexpr const char* KMM_USAGE = "Use commandline parameter 'kelmem parse.txt [parse2.txt] ...'\n";

// The line buffer of the script runner: a line is read at most 159
// characters at a time.
constexpr int32_t KMM_LINE_BUFFER = 160;

// A line's command and its arguments, as read by the grammar.
struct KelCommand {
    CommandType_e command;
    int32_t process;               // 0 to 9
    int32_t addr;                  // LoadFile, STORE: below the manager's memSize
    ArgType_e valueType;           // STORE: TYPE_INTEGER or TYPE_STRING; else TYPE_ERROR
    uint32_t value;                // STORE of an integer
    char text[KMM_STRING_MAX + 1]; // STORE of a string, or LoadFile's file name
    // LoadFile: the segment count the loader read and sizes[0..nSegs) the
    // sizes; 0 when it did not read the sizes line whole.
    int32_t nSegs;
    int32_t sizes[KMM_MAX_SEGMENTS];
};

enum KelEventKind_e : int32_t {
    EVENT_BANNER, // a banner line around a script
    EVENT_LINE    // a line that reached the interpreter
};

// What a line may have changed, as the runner knows from the command it
// carried out: an observer reads only that much of the manager again.
struct KelEffect {
    bool layout; // a load or a termination ran: processes and free list may differ
    int32_t pos; // the cells [pos, pos + len) may hold new values
    int64_t len;
};

// What a run tells its observer, once the text of the event has been
// written to the manager's output.
struct KelEvent {
    KelEventKind_e kind;
    const char* file;   // the script's name as given
    int32_t line;       // EVENT_LINE: the number the line was given; else 0
    const char* text;   // EVENT_LINE: the line as read, its line feed included; else nullptr
    ErrMessage_t error; // EVENT_LINE: the line's result; else ERR_NONE
    // EVENT_LINE: the command carried out, or nullptr when the line broke the
    // grammar; valid during the call only.
    const KelCommand* command;
    KelEffect effect; // EVENT_LINE: what the line may have changed; else nothing
};

// An observer of a run: seen(ctx, event) is called for each event, in order.
// Observers only look; the run goes on whatever they do.
struct KelObserver {
    void (*seen)(void* ctx, const KelEvent* event);
    void* ctx;
};

// KMM_ParseFile, telling obs (unless nullptr) of every line that reaches the
// interpreter.
int32_t KMM_RunFile(const char* fname, KelMM* kmm, const KelObserver* obs);

// Runs the nfiles scripts in order against kmm, as kelmem does: with more
// than one, each is framed by its "Parsing" and "Parsed" or "Couldn't parse"
// banner lines; with one, only a "Couldn't parse" banner is written, when the
// script could not be read or END stopped it. obs, unless nullptr, is told of
// every banner and line.
void KMM_RunFiles(KelMM* kmm, int32_t nfiles, const char* const* files, const KelObserver* obs);
