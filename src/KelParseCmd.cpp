// The script runner and the command interpreter. A script line is cut into
// tokens, echoed with its number, checked against the command grammar and
// carried out by exactly one manager operation or the loader. Only the runner
// prints error lines; every check here answers with a result code.

#include "KelParseCmd.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "KelLoad.h"
#include "KelMem_Internal.h"
#include "kelparse.h"

const char* const ArgType_Process[] = {"P%u", nullptr};
// constexpr, so that the keywords' lengths are known when compiling.
constexpr const char* const ArgType_Command[] = {"LoadFile",
                                                 "PrintProcessTable",
                                                 "PrintProcessMemory",
                                                 "STORE",
                                                 "TerminateProcess",
                                                 "PrintAllMemory",
                                                 "END",
                                                 nullptr};
const char* const ArgType_Address[] = {"@%u", nullptr};
const char* const ArgType_Integer[] = {"#%u", nullptr};
const char* const ArgType_String[] = {"\"%s", nullptr};
const char* const* const Arguments[] = {ArgType_Process, ArgType_Command, ArgType_Address,
                                        ArgType_Integer, ArgType_String,  nullptr};

namespace {

// The number of keywords of ArgType_Command.
constexpr size_t kCommands = sizeof ArgType_Command / sizeof ArgType_Command[0] - 1;

// The length of each keyword of ArgType_Command, in its order.
constexpr std::array<size_t, kCommands> kCommandLength = [] {
    std::array<size_t, kCommands> length{};
    for (size_t i = 0; i < kCommands; i++)
        length[i] = std::char_traits<char>::length(ArgType_Command[i]);
    return length;
}();

// Tokens the grammar reads: the process, the command and two arguments.
constexpr int32_t kGrammarTokens = 4;

// Bytes in which a run gathers text bound for a stream before writing it.
constexpr size_t kGatherBlock = size_t{64} * 1024;

// Bytes of the script read at a time.
constexpr size_t kReadBlock = size_t{32} * 1024;

// A token where it stands in the line.
struct Token {
    const char* at;
    int32_t len;
};

// A script line's first tokens and the number of all its tokens.
struct Line {
    Token tok[kGrammarTokens];
    int32_t n;
};

// A line's number as its echo begins it ("%4d"). The runner counts it up
// in place rather than formatting each number anew, which cost as much as
// the rest of the echo.
struct Label {
    char text[KO_INT_TEXT];
    size_t len;
};

Label labelOf(int32_t line)
{
    Label lb;
    lb.len = KO_IntText(lb.text, line, 4);
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
    // All nines and no padding left: one column more.
    std::memmove(lb->text + 1, lb->text, lb->len);
    lb->text[0] = '1';
    lb->len++;
}

// A line's echo as it is made: the line's label, then its tokens, each
// after one blank. Made in place in the output where it has room (KO_Room),
// else in own; written in one piece unless a line of more than 160
// characters fills it first.
constexpr size_t kEchoText = 256;

struct Echo {
    KelOut* out; // nullptr: standard output
    char* text;  // kEchoText bytes: in the output, or own
    size_t len;
    char own[kEchoText];
};

void echoBegin(Echo* e)
{
    e->text = KO_Begin(e->out, e->own, kEchoText);
    e->len = 0;
}

// Writes out what the echo holds.
void echoEnd(Echo* e)
{
    KO_End(e->out, e->text, e->own, e->len);
}

// Adds a blank and the n bytes of s, one token or several that stand one
// blank apart in the line.
void echoRun(Echo* e, const char* s, size_t n)
{
    if (kEchoText - e->len < n + 1) {
        echoEnd(e);
        if (kEchoText < n + 1) {
            KO_Write(e->out, " ", 1);
            KO_Write(e->out, s, n);
            echoBegin(e);
            return;
        }
        echoBegin(e);
    }
    e->text[e->len++] = ' ';
    std::memcpy(e->text + e->len, s, n);
    e->len += n;
}

// Cuts strIn into tokens, echoing them after the label and keeping the
// first ones in *ln. Nothing is echoed for a line without tokens.
void cutAndEcho(const char* strIn, KelOut* out, const Label& label, Line* ln)
{
    Echo echo;
    echo.out = out;
    ln->n = 0;
    // Tokens one blank apart are echoed as the line has them, in one copy:
    // a copy per token cost more than cutting them.
    const char* run = nullptr;
    const char* runEnd = nullptr;
    const char* tok = nullptr;
    for (int32_t len = KP_NextToken(strIn, &tok); len > 0; len = KP_NextToken(tok + len, &tok)) {
        if (ln->n == 0) {
            echoBegin(&echo);
            std::memcpy(echo.text, label.text, sizeof label.text);
            echo.len = label.len;
        }
        if (run && tok == runEnd + 1 && *runEnd == ' ') {
            runEnd = tok + len;
        } else {
            if (run)
                echoRun(&echo, run, static_cast<size_t>(runEnd - run));
            run = tok;
            runEnd = tok + len;
        }
        if (ln->n < kGrammarTokens)
            ln->tok[ln->n] = Token{tok, len};
        if (ln->n < INT32_MAX) // GCOVR_EXCL_BR_LINE: 2^31 tokens do not fit in memory
            ln->n++;
    }
    if (run)
        echoRun(&echo, run, static_cast<size_t>(runEnd - run));
    if (ln->n == 0)
        return;
    if (echo.len == kEchoText) {
        echoEnd(&echo);
        echoBegin(&echo);
    }
    echo.text[echo.len++] = '\n';
    echoEnd(&echo);
}

// The grammar reads tokens where they stand, by what the patterns of
// Arguments mean: "P%u", "@%u" and "#%u" are their first character and a run
// of decimal digits, "\"%s" a quote and at least one character, and the
// keywords are literal. No token can match two of them.

// True when t is `lead` and a run of decimal digits.
bool isNumber(const Token& t, char lead)
{
    if (t.len < 2 || t.at[0] != lead)
        return false;
    for (int32_t i = 1; i < t.len; i++) {
        if (t.at[i] < '0' || t.at[i] > '9')
            return false;
    }
    return true;
}

// A number token `lead` and digits whose value fits in uint32_t, into *value
// (ReadFromType's rule).
bool readNumber(const Token& t, char lead, uint32_t* value)
{
    if (t.len < 2 || t.at[0] != lead)
        return false;
    // By hand rather than with from_chars, whose setup cost more than the
    // digits; the sum is checked at each digit, so it never passes 2^36.
    uint64_t read = 0;
    for (int32_t i = 1; i < t.len; i++) {
        const auto digit = static_cast<uint32_t>(static_cast<unsigned char>(t.at[i]) - '0');
        if (digit > 9)
            return false;
        read = read * 10 + digit;
        if (read > UINT32_MAX)
            return false;
    }
    *value = static_cast<uint32_t>(read);
    return true;
}

// A string token, a quote and 1 to 20 characters, into text (NUL-terminated).
bool readString(const Token& t, char* text)
{
    if (t.len < 2 || t.len - 1 > KMM_STRING_MAX || t.at[0] != '"')
        return false;
    std::memcpy(text, t.at + 1, static_cast<size_t>(t.len - 1));
    text[t.len - 1] = '\0';
    return true;
}

// The index of the keyword t in ArgType_Command, or -1. Lengths are
// compared first: no two keywords share one, so at most one is compared
// character by character.
int32_t findCommand(const Token& t)
{
    const auto n = static_cast<size_t>(t.len);
    for (int32_t i = 0; ArgType_Command[i]; i++) {
        const char* kw = ArgType_Command[i];
        if (kCommandLength[i] == n && std::memcmp(kw, t.at, n) == 0)
            return i;
    }
    return -1;
}

// The address of the line's third token (index 2), below memSize, compared
// unsigned.
bool readAddress(const Line& ln, const KelMM* kmm, int32_t* addr)
{
    uint32_t value = 0;
    if (!readNumber(ln.tok[2], '@', &value) || value >= static_cast<uint32_t>(kmm->memSize))
        return false;
    *addr = static_cast<int32_t>(value);
    return true;
}

// The process token and the command keyword.
bool readHead(const Line& ln, KelCommand* cmd)
{
    uint32_t process = 0;
    if (ln.n < 2 || !readNumber(ln.tok[0], 'P', &process) ||
        process >= static_cast<uint32_t>(KMM_PROCESS_SLOTS))
        return false;
    const int32_t command = findCommand(ln.tok[1]);
    if (command < 0)
        return false;
    cmd->process = static_cast<int32_t>(process);
    cmd->command = static_cast<CommandType_e>(command);
    return true;
}

// The value of a STORE: an integer token, or a string of at most 20 characters.
bool readValue(const Line& ln, KelCommand* cmd)
{
    if (isNumber(ln.tok[3], '#')) {
        cmd->valueType = TYPE_INTEGER;
        return readNumber(ln.tok[3], '#', &cmd->value);
    }
    cmd->valueType = TYPE_STRING;
    return readString(ln.tok[3], cmd->text);
}

// The arguments of the command, checked by the command table's rows.
bool readArguments(const Line& ln, const KelMM* kmm, KelCommand* cmd)
{
    switch (cmd->command) {
    case COMMAND_LOADFILE:
        return ln.n == 4 && readAddress(ln, kmm, &cmd->addr) && readString(ln.tok[3], cmd->text);
    case COMMAND_STORE:
        return ln.n == 4 && readAddress(ln, kmm, &cmd->addr) && readValue(ln, cmd);
    case COMMAND_END:
        return true;
    default:
        return ln.n == 2;
    }
}

// Carries out a command that passed the grammar; a load hands the header
// it read to cmd.
ErrMessage_t runCommand(KelCommand& cmd, KelMM* kmm)
{
    switch (cmd.command) { // GCOVR_EXCL_BR_LINE: readHead passes the seven commands only
    case COMMAND_LOADFILE:
        return kmm_LoadFile(kmm, cmd.process, cmd.text, cmd.addr, &cmd.nSegs, cmd.sizes);
    case COMMAND_STORE:
        if (cmd.valueType == TYPE_INTEGER)
            return KMM_StoreInteger(kmm, cmd.process, cmd.addr, cmd.value);
        return KMM_StoreString(kmm, cmd.process, cmd.addr, cmd.text);
    case COMMAND_PRINTPROCESSTABLE:
        return KMM_PrintProcessTable(kmm, cmd.process);
    case COMMAND_PRINTPROCESSMEMORY:
        return KMM_PrintProcessMemory(kmm, cmd.process);
    case COMMAND_TERMINATEPROCESS:
        return KMM_TerminateProcess(kmm, cmd.process);
    case COMMAND_PRINTALLMEMORY:
        return cmd.process == 0 ? KMM_PrintAllMemory(kmm) : ERR_NOPRIVILEGE;
    case COMMAND_END:
        return ERR_PARSEEND;
    default: // GCOVR_EXCL_START: readHead passes the seven commands only
        return ERR_INVALIDINPUT;
    } // GCOVR_EXCL_STOP
}

// KMM_ParseLine; *cmd receives the command, COMMAND_ERROR when the line did
// not pass the grammar.
ErrMessage_t parseLine(const char* strIn, KelMM* kmm, const Label& label, KelCommand* cmd)
{
    *cmd = KelCommand{};
    cmd->command = COMMAND_ERROR;
    cmd->valueType = TYPE_ERROR;
    if (!strIn)
        return ERR_UNKNOWN;
    Line ln;
    cutAndEcho(strIn, kmm ? kmm->out : nullptr, label, &ln);
    if (ln.n == 0 || !kmm)
        return ERR_UNKNOWN;
    if (readHead(ln, cmd) && readArguments(ln, kmm, cmd))
        return runCommand(*cmd, kmm);
    cmd->command = COMMAND_ERROR;
    return ERR_INVALIDINPUT;
}

// Writes the error line for a failed command, in one piece.
void reportError(KelOut* out, ErrMessage_t error)
{
    if (error == ERR_NONE)
        return;
    static constexpr char kPrefix[] = "******* ERROR: ";
    const char* message = KMM_ErrorText(error);
    char text[128];
    const size_t prefix = sizeof kPrefix - 1;
    // Each copy takes its NUL (or one more character) along; the line feed
    // then takes the NUL's place.
    const size_t len = prefix + std::min(std::strlen(message), sizeof text - prefix - 2);
    std::memcpy(text, kPrefix, sizeof kPrefix);
    std::memcpy(text + prefix, message, len - prefix + 1);
    text[len] = '\n';
    KO_Write(out, text, len + 1);
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
    tell(obs, KelEvent{EVENT_BANNER, file, 0, nullptr, ERR_NONE, nullptr, 0});
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
        const size_t take = feed ? static_cast<size_t>(static_cast<const char*>(feed) - from) + 1 : avail;
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
    int32_t fileLine = 1; // the line of the file the next piece begins in
    Label label = labelOf(0);
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
            error = parseLine(buf, kmm, label, &cmd);
            reportError(kmm ? kmm->out : nullptr, error);
            tell(obs, KelEvent{EVENT_LINE, fname, line, buf, error,
                               cmd.command == COMMAND_ERROR ? nullptr : &cmd, fileLine});
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
    if (!str || !buffer || str[0] == '\0')
        return -1;
    const char* rest = str + 1;
    switch (type) {
    case TYPE_PROCESS:
    case TYPE_ADDRESS:
    case TYPE_INTEGER: {
        uint32_t value = 0;
        if (ReadDecimal(rest, UINT32_MAX, &value) != 0)
            return -1;
        std::memcpy(buffer, &value, sizeof value);
        return 0;
    }
    case TYPE_STRING: {
        const void* nul = std::memchr(rest, '\0', KMM_STRING_MAX + 1);
        if (!nul)
            return -1;
        std::memcpy(buffer, rest, static_cast<size_t>(static_cast<const char*>(nul) - rest) + 1);
        return 0;
    }
    default:
        return -1;
    }
}

ErrMessage_t KMM_ParseLine(const char* strIn, KelMM* kmm, int32_t line)
{
    KelCommand cmd;
    return parseLine(strIn, kmm, labelOf(line), &cmd);
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
    // Text bound for a plain stream is gathered in a block on the stack and
    // written a block at a time. Not with an observer: it is told of a line
    // once the line's text is out.
    KelOut* dest = kmm ? kmm->out : nullptr;
    const bool gather = kmm && !obs && (!dest || (dest->fp && dest->cap == 0));
    char block[kGatherBlock];
    KelOut gathered = {dest ? dest->fp : stdout, block, 0, sizeof block, 0};
    if (gather)
        kmm->out = &gathered;
    Script script;
    script.fd = fd;
    script.at = 0;
    script.end = 0;
    script.eof = false;
    const int32_t result = runLines(fname, &script, kmm, obs);
    close(fd);
    if (gather) {
        KO_Flush(&gathered);
        kmm->out = dest;
        if (gathered.failed && dest)
            dest->failed = 1;
    }
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
