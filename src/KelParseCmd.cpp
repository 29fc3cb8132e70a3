// The script runner and the command interpreter. A script line is cut into
// tokens, echoed with its number, checked against the command grammar and
// carried out by exactly one manager operation or the loader. Only the runner
// prints error lines; every check here answers with a result code.

#include "KelParseCmd.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "KelLoad.h"
#include "KelMem_Internal.h"
#include "kelparse.h"

// constexpr: the index of their first characters is made when compiling.
constexpr const char* const ArgType_Process[] = {"P%u", nullptr};
constexpr const char* const ArgType_Command[] = {"LoadFile",
                                                 "PrintProcessTable",
                                                 "PrintProcessMemory",
                                                 "STORE",
                                                 "TerminateProcess",
                                                 "PrintAllMemory",
                                                 "END",
                                                 nullptr};
constexpr const char* const ArgType_Address[] = {"@%u", nullptr};
constexpr const char* const ArgType_Integer[] = {"#%u", nullptr};
constexpr const char* const ArgType_String[] = {"\"%s", nullptr};
constexpr const char* const* const Arguments[] = {ArgType_Process, ArgType_Command, ArgType_Address,
                                                  ArgType_Integer, ArgType_String,  nullptr};

namespace {

constexpr KP_FirstIndex kArgumentsIndex = KP_IndexOf(Arguments);

// Tokens the grammar reads: the process, the command and two arguments.
constexpr int32_t kGrammarTokens = 4;

// Bytes of the script read at a time.
constexpr size_t kReadBlock = size_t{32} * 1024;

// A token where it stands in the line, and what the grammar made of it.
struct Token {
    const char* at;
    int32_t len;
    int32_t type;   // the list of the table it matched, -1 when none
    int32_t sub;    // the pattern of that list it matched, -1 when none
    uint64_t value; // its number as the matcher read it, or KP_NO_VALUE
};

// Width of the line number in an echo ("%4d").
constexpr int32_t kLabelWidth = 4;

// A line's number as its echo begins it. The runner counts it up in place:
// writing each number anew cost about 3% of a run's time.
struct Label {
    char text[KO_INT_TEXT];
    size_t len;
};

Label labelOf(int32_t line)
{
    Label lb;
    lb.len = KO_IntText(lb.text, line, kLabelWidth);
    return lb;
}

// Makes lb the label of the next line; lb holds a number from 0 up.
void labelNext(Label* lb)
{
    char* p = lb->text + lb->len;
    while (p > lb->text && p[-1] == '9')
        *--p = '0';
    if (p > lb->text) {
        // A digit counts up; a blank of the padding becomes a new leading 1.
        p[-1] = p[-1] == ' ' ? '1' : static_cast<char>(p[-1] + 1);
        return;
    }
    // All nines and no padding left: one column more. INT32_MAX has ten
    // digits, so the text never fills.
    std::memmove(lb->text + 1, lb->text, lb->len);
    lb->text[0] = '1';
    lb->len++;
}

// A script line's first tokens, each classified once, and the number of
// all its tokens.
struct Line {
    Token tok[kGrammarTokens];
    int32_t n;
    const char* const* const* table; // the grammar: Arguments, or a table of its shape
    const KP_FirstIndex* index;      // KP_IndexOf(table)
};

// Cuts strIn into tokens, echoing them after the line number and keeping
// the first ones in *ln. Nothing is echoed for a line without tokens.
void cutAndEcho(const char* strIn, KelOut* out, const Label& label, Line* ln)
{
    KelLine echo;
    ln->n = 0;
    // Tokens one blank apart are echoed in one copy, as the line has them.
    const char* run = nullptr;
    const char* runEnd = nullptr;
    const char* tok = nullptr;
    for (int32_t len = KP_NextToken(strIn, &tok); len > 0; len = KP_NextToken(tok + len, &tok)) {
        if (ln->n == 0) {
            KO_LineBegin(&echo, out);
            KO_LinePut(&echo, label.text, label.len);
        }
        if (run && tok == runEnd + 1 && *runEnd == ' ') {
            runEnd = tok + len;
        } else {
            if (run) {
                KO_LineLit(&echo, " ");
                KO_LinePut(&echo, run, static_cast<size_t>(runEnd - run));
            }
            run = tok;
            runEnd = tok + len;
        }
        if (ln->n < kGrammarTokens) {
            Token& t = ln->tok[ln->n];
            t.at = tok;
            t.len = len;
            t.type = KP_ClassifyIndexed(tok, len, ln->table, *ln->index, &t.sub, &t.value);
        }
        if (ln->n < INT32_MAX) // GCOVR_EXCL_BR_LINE: 2^31 tokens do not fit in memory
            ln->n++;
    }
    if (ln->n == 0)
        return;
    KO_LineLit(&echo, " ");
    KO_LinePut(&echo, run, static_cast<size_t>(runEnd - run));
    KO_LineLit(&echo, "\n");
    KO_LineEnd(&echo);
}

// The grammar: every token is classified against the table by the pattern
// matcher (as it is cut), and only then converted by ReadFromType's rule.
// ReadFromType over a token where it stands: the value after the token's
// first character, into *number or text (KMM_STRING_MAX + 1 bytes).
int32_t readToken(ArgType_e type, const Token& t, uint32_t* number, char* text)
{
    if (t.len < 1)
        return -1;
    const char* rest = t.at + 1;
    const int32_t n = t.len - 1;
    switch (type) {
    case TYPE_PROCESS:
    case TYPE_ADDRESS:
    case TYPE_INTEGER:
        if (t.value == KP_NO_VALUE)
            return KP_ReadDecimal(rest, n, UINT32_MAX, number);
        if (t.value > UINT32_MAX)
            return -1;
        *number = static_cast<uint32_t>(t.value);
        return 0;
    case TYPE_STRING:
        if (n > KMM_STRING_MAX)
            return -1;
        std::memcpy(text, rest, static_cast<size_t>(n));
        text[n] = '\0';
        return 0;
    default:
        return -1;
    }
}

// True when the line's token i has the type `type` and its value converts
// by ReadFromType's rule, into *number or text.
bool readArg(const Line& ln, int32_t i, ArgType_e type, uint32_t* number, char* text)
{
    return ln.tok[i].type == type && readToken(type, ln.tok[i], number, text) == 0;
}

// The address of the line's third token, below memSize, compared unsigned.
bool readAddress(const Line& ln, const KelMM* kmm, int32_t* addr)
{
    uint32_t value = 0;
    if (!readArg(ln, 2, TYPE_ADDRESS, &value, nullptr) ||
        value >= static_cast<uint32_t>(kmm->memSize))
        return false;
    *addr = static_cast<int32_t>(value);
    return true;
}

// The process token and the command keyword.
bool readHead(const Line& ln, KelCommand* cmd)
{
    uint32_t process = 0;
    if (ln.n < 2 || !readArg(ln, 0, TYPE_PROCESS, &process, nullptr) ||
        process >= static_cast<uint32_t>(KMM_PROCESS_SLOTS) || ln.tok[1].type != TYPE_COMMAND)
        return false;
    cmd->process = static_cast<int32_t>(process);
    cmd->command = static_cast<CommandType_e>(ln.tok[1].sub);
    return true;
}

// The value of a STORE: an integer token, or a string of at most 20 characters.
bool readValue(const Line& ln, KelCommand* cmd)
{
    cmd->valueType = ln.tok[3].type == TYPE_STRING ? TYPE_STRING : TYPE_INTEGER;
    return readArg(ln, 3, cmd->valueType, &cmd->value, cmd->text);
}

// The arguments of the command, checked by the command table's rows.
bool readArguments(const Line& ln, const KelMM* kmm, KelCommand* cmd)
{
    switch (cmd->command) {
    case COMMAND_LOADFILE:
        return ln.n == 4 && readAddress(ln, kmm, &cmd->addr) &&
               readArg(ln, 3, TYPE_STRING, nullptr, cmd->text);
    case COMMAND_STORE:
        return ln.n == 4 && readAddress(ln, kmm, &cmd->addr) && readValue(ln, cmd);
    case COMMAND_END:
        return true;
    default:
        return ln.n == 2;
    }
}

// Carries out a command that passed the grammar; a load hands the header
// it read to cmd. *fx receives what the command may have changed.
ErrMessage_t runCommand(KelCommand& cmd, KelMM* kmm, KelEffect* fx)
{
    switch (cmd.command) { // GCOVR_EXCL_BR_LINE: readHead passes the seven commands only
    case COMMAND_LOADFILE: {
        const ErrMessage_t err =
            kmm_LoadFile(kmm, cmd.process, cmd.text, cmd.addr, &cmd.nSegs, cmd.sizes);
        // A load changes the area from its address on, as long as the sizes it read.
        fx->layout = true;
        fx->pos = cmd.addr;
        for (int32_t i = 0; i < cmd.nSegs; i++)
            fx->len += cmd.sizes[i];
        return err;
    }
    case COMMAND_STORE: {
        const ErrMessage_t err = cmd.valueType == TYPE_INTEGER
                                     ? KMM_StoreInteger(kmm, cmd.process, cmd.addr, cmd.value)
                                     : KMM_StoreString(kmm, cmd.process, cmd.addr, cmd.text);
        fx->pos = cmd.addr;
        fx->len = err == ERR_NONE ? 1 : 0;
        return err;
    }
    case COMMAND_PRINTPROCESSTABLE:
        return KMM_PrintProcessTable(kmm, cmd.process);
    case COMMAND_PRINTPROCESSMEMORY:
        return KMM_PrintProcessMemory(kmm, cmd.process);
    case COMMAND_TERMINATEPROCESS:
        // Segments go back; their cells keep their values.
        fx->layout = true;
        return KMM_TerminateProcess(kmm, cmd.process);
    case COMMAND_PRINTALLMEMORY:
        return cmd.process == 0 ? KMM_PrintAllMemory(kmm) : ERR_NOPRIVILEGE;
    case COMMAND_END:
        return ERR_PARSEEND;
    default: // GCOVR_EXCL_START: readHead passes the seven commands only
        return ERR_INVALIDINPUT;
    } // GCOVR_EXCL_STOP
}

// KMM_ParseLine against the grammar `table`; *cmd receives the command,
// COMMAND_ERROR when the line did not pass the grammar, and *fx what it may
// have changed.
ErrMessage_t parseLine(const char* strIn, KelMM* kmm, const Label& label,
                       const char* const* const* table, const KP_FirstIndex& index, KelCommand* cmd,
                       KelEffect* fx)
{
    *cmd = KelCommand{};
    cmd->command = COMMAND_ERROR;
    cmd->valueType = TYPE_ERROR;
    *fx = KelEffect{false, 0, 0};
    if (!strIn)
        return ERR_UNKNOWN;
    Line ln;
    ln.table = table;
    ln.index = &index;
    cutAndEcho(strIn, kmm ? kmm->out : nullptr, label, &ln);
    if (ln.n == 0 || !kmm)
        return ERR_UNKNOWN;
    if (readHead(ln, cmd) && readArguments(ln, kmm, cmd))
        return runCommand(*cmd, kmm, fx);
    cmd->command = COMMAND_ERROR;
    return ERR_INVALIDINPUT;
}

// Writes the error line for a failed command, in one piece.
void reportError(KelOut* out, ErrMessage_t error)
{
    if (error == ERR_NONE)
        return;
    const char* message = KMM_ErrorText(error);
    KelLine ln;
    KO_LineBegin(&ln, out);
    KO_LineLit(&ln, "******* ERROR: ");
    KO_LinePut(&ln, message, std::strlen(message));
    KO_LineLit(&ln, "\n");
    KO_LineEnd(&ln);
}

void tell(const KelObserver* obs, const KelEvent& ev)
{
    if (obs && obs->seen)
        obs->seen(obs->ctx, &ev);
}

// Writes "---------------<what> <file><dashes>\n" and tells the observer.
void banner(KelMM* kmm, const char* what, const char* file, const char* dashes,
            const KelObserver* obs)
{
    KO_Puts(kmm->out, "---------------");
    KO_Puts(kmm->out, what);
    KO_Puts(kmm->out, " ");
    KO_Puts(kmm->out, file);
    KO_Puts(kmm->out, dashes);
    tell(obs,
         KelEvent{EVENT_BANNER, file, 0, nullptr, ERR_NONE, nullptr, KelEffect{false, 0, 0}, 0});
}

void bannerResult(KelMM* kmm, const char* file, int32_t result, const KelObserver* obs)
{
    if (result >= 0)
        banner(kmm, "Parsed", file, "-------------------------\n", obs);
    else
        banner(kmm, "Couldn't parse", file, "-----------------\n", obs);
}

// A script being read: the file and a block of it not yet cut into pieces.
struct Script {
    int fd;
    size_t at;  // next byte of block to hand out
    size_t end; // bytes of block read; at <= end <= sizeof block
    bool eof;   // a read found the end of the file; the block is empty then
    char block[kReadBlock];
};

// Reads more of the script into its empty block; false at the end of the
// file or on a read error (*failed set).
bool refill(Script* sc, bool* failed)
{
    ssize_t got = 0;
    do {
        got = read(sc->fd, sc->block, sizeof sc->block);
    } while (got < 0 && errno == EINTR);
    sc->at = 0;
    sc->end = got > 0 ? static_cast<size_t>(got) : 0;
    if (got == 0)
        sc->eof = true;
    if (got < 0)
        *failed = true;
    return got > 0;
}

// Reads the next piece of the script into buf as fgets(buf,
// KMM_LINE_BUFFER) would: through the next line feed, at most
// KMM_LINE_BUFFER - 1 bytes, NUL-terminated; "" at the end of the file.
// False when a read failed: the file ends there, the piece is lost.
// *lineEnd tells whether the piece ends a line of the file.
// A block of our own rather than stdio: fgets cost as much as running the
// line.
bool nextPiece(Script* sc, char* buf, bool* lineEnd)
{
    constexpr size_t kMax = KMM_LINE_BUFFER - 1;
    size_t len = 0;
    bool failed = false;
    while (len < kMax && (sc->at < sc->end || refill(sc, &failed))) {
        const char* from = sc->block + sc->at;
        const size_t avail = std::min(sc->end - sc->at, kMax - len);
        const void* feed = std::memchr(from, '\n', avail);
        const size_t take =
            feed ? static_cast<size_t>(static_cast<const char*>(feed) - from) + 1 : avail;
        std::memcpy(buf + len, from, take);
        len += take;
        sc->at += take;
        if (feed)
            break;
    }
    buf[len] = '\0';
    *lineEnd = len > 0 && buf[len - 1] == '\n';
    return !failed;
}

// Runs every line of the open script; KMM_RunFile's result.
int32_t runLines(const char* fname, Script* sc, KelMM* kmm, const KelObserver* obs)
{
    char buf[KMM_LINE_BUFFER] = {};
    int32_t line = 0;
    Label label = labelOf(line);
    int32_t fileLine = 1; // the line of the file the next piece begins in
    for (;;) {
        // A read that fails short of the end (a directory, an I/O error)
        // ends the file; retrying would loop for ever.
        bool lineEnd = false;
        if (!nextPiece(sc, buf, &lineEnd))
            return -1;
        ErrMessage_t error = ERR_NONE;
        // strlen(buf) >= 2: a piece may hold NULs.
        if (buf[0] != '\0' && buf[1] != '\0') {
            if (line < INT32_MAX) { // GCOVR_EXCL_BR_LINE: 2^31 lines take hours to run
                line++;
                labelNext(&label);
            }
            KelCommand cmd;
            KelEffect fx;
            error = parseLine(buf, kmm, label, Arguments, kArgumentsIndex, &cmd, &fx);
            reportError(kmm ? kmm->out : nullptr, error);
            tell(obs, KelEvent{EVENT_LINE, fname, line, buf, error,
                               cmd.command == COMMAND_ERROR ? nullptr : &cmd, fx, fileLine});
        }
        if (lineEnd && fileLine < INT32_MAX) // GCOVR_EXCL_BR_LINE: 2^31 lines take hours
            fileLine++;
        if (error == ERR_PARSEEND)
            return -1;
        if (sc->eof)
            return 0;
    }
}

} // namespace

int32_t ReadFromType(ArgType_e type, const char* str, void* buffer)
{
    if (!str || !buffer)
        return -1;
    const Token t{str, static_cast<int32_t>(std::strlen(str)), -1, -1, KP_NO_VALUE};
    uint32_t value = 0;
    if (readToken(type, t, &value, static_cast<char*>(buffer)) != 0)
        return -1;
    if (type != TYPE_STRING)
        std::memcpy(buffer, &value, sizeof value);
    return 0;
}

ErrMessage_t KMM_ParseLine(const char* strIn, KelMM* kmm, int32_t line)
{
    KelCommand cmd;
    KelEffect fx;
    return parseLine(strIn, kmm, labelOf(line), Arguments, kArgumentsIndex, &cmd, &fx);
}

ErrMessage_t kmm_ParseLineWith(const char* strIn, KelMM* kmm, int32_t line,
                               const char* const* const* table)
{
    KelCommand cmd;
    KelEffect fx;
    const KP_FirstIndex index = KP_IndexOf(table);
    return parseLine(strIn, kmm, labelOf(line), table, index, &cmd, &fx);
}

int32_t KMM_ParseFile(const char* fname, KelMM* kmm)
{
    return KMM_RunFile(fname, kmm, nullptr);
}

int32_t KMM_RunFile(const char* fname, KelMM* kmm, const KelObserver* obs)
{
    const int fd = fname ? open(fname, O_RDONLY) : -1;
    if (fd < 0)
        return -1;
    Script script;
    script.fd = fd;
    script.at = 0;
    script.end = 0;
    script.eof = false;
    const int32_t result = runLines(fname, &script, kmm, obs);
    close(fd);
    return result;
}

void KMM_RunFiles(KelMM* kmm, int32_t nfiles, const char* const* files, const KelObserver* obs)
{
    if (!kmm || !files)
        return;
    if (nfiles == 1) {
        if (KMM_RunFile(files[0], kmm, obs) < 0)
            bannerResult(kmm, files[0], -1, obs);
        return;
    }
    for (int32_t i = 0; i < nfiles; i++) {
        banner(kmm, "Parsing", files[i], "------------------------\n", obs);
        bannerResult(kmm, files[i], KMM_RunFile(files[i], kmm, obs), obs);
    }
}
