// The script runner and the command interpreter. A script line is cut into
// tokens, echoed with its number, checked against the command grammar and
// carried out by exactly one manager operation or the loader. Only the runner
// prints error lines; every check here answers with a result code.

#include "KelParseCmd.h"

#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "KelLoad.h"
#include "KelMem_Internal.h"
#include "kelparse.h"

const char* const ArgType_Process[] = {"P%u", nullptr};
const char* const ArgType_Command[] = {"LoadFile",
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

// A script line's tokens.
struct Line {
    char** tok;
    int32_t n;
};

// The line's number right-aligned in four columns, then its tokens separated
// by single blanks. Without a manager the echo goes to standard output.
void echo(KelOut* out, char** list, int32_t line)
{
    KO_Int(out, line, 4);
    for (int32_t i = 0; list[i]; i++) {
        KO_Write(out, " ", 1);
        KO_Puts(out, list[i]);
    }
    KO_Write(out, "\n", 1);
}

// Token i is of the given type and converts into *out.
bool readArg(const Line& ln, int32_t i, ArgType_e type, void* out)
{
    return DetermineType(ln.tok[i], Arguments) == type && ReadFromType(type, ln.tok[i], out) == 0;
}

// The address of the line's third token (index 2), below memSize, compared
// unsigned.
bool readAddress(const Line& ln, const KelMM* kmm, int32_t* addr)
{
    uint32_t value = 0;
    if (!readArg(ln, 2, TYPE_ADDRESS, &value) || value >= static_cast<uint32_t>(kmm->memSize))
        return false;
    *addr = static_cast<int32_t>(value);
    return true;
}

// The process token and the command keyword.
bool readHead(const Line& ln, KelCommand* cmd)
{
    uint32_t process = 0;
    if (ln.n < 2 || !readArg(ln, 0, TYPE_PROCESS, &process) ||
        process >= static_cast<uint32_t>(KMM_PROCESS_SLOTS))
        return false;
    if (DetermineType(ln.tok[1], Arguments) != TYPE_COMMAND)
        return false;
    cmd->process = static_cast<int32_t>(process);
    cmd->command = static_cast<CommandType_e>(DetermineSubType(TYPE_COMMAND, ln.tok[1], Arguments));
    return cmd->command != COMMAND_ERROR;
}

// The value of a STORE: an integer token, or a string of at most 20 characters.
bool readValue(const Line& ln, KelCommand* cmd)
{
    if (DetermineType(ln.tok[3], Arguments) == TYPE_INTEGER) {
        cmd->valueType = TYPE_INTEGER;
        return ReadFromType(TYPE_INTEGER, ln.tok[3], &cmd->value) == 0;
    }
    cmd->valueType = TYPE_STRING;
    return readArg(ln, 3, TYPE_STRING, cmd->text);
}

// The arguments of the command, checked by the command table's rows.
bool readArguments(const Line& ln, const KelMM* kmm, KelCommand* cmd)
{
    switch (cmd->command) {
    case COMMAND_LOADFILE:
        return ln.n == 4 && readAddress(ln, kmm, &cmd->addr) &&
               readArg(ln, 3, TYPE_STRING, cmd->text);
    case COMMAND_STORE:
        return ln.n == 4 && readAddress(ln, kmm, &cmd->addr) && readValue(ln, cmd);
    case COMMAND_END:
        return true;
    default:
        return ln.n == 2;
    }
}

// Carries out a command that passed the grammar.
ErrMessage_t runCommand(const KelCommand& cmd, KelMM* kmm)
{
    switch (cmd.command) {
    case COMMAND_LOADFILE:
        return KelMM_Load(kmm, cmd.process, cmd.text, cmd.addr);
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
    default:
        return ERR_INVALIDINPUT;
    }
}

// KMM_ParseLine; *cmd receives the command, COMMAND_ERROR when the line did
// not pass the grammar.
ErrMessage_t parseLine(const char* strIn, KelMM* kmm, int32_t line, KelCommand* cmd)
{
    *cmd = KelCommand{};
    cmd->command = COMMAND_ERROR;
    cmd->valueType = TYPE_ERROR;
    char** list = Explode(strIn);
    if (!list)
        return ERR_UNKNOWN;
    echo(kmm ? kmm->out : nullptr, list, line);
    const Line ln = {list, CountStrList(list)};
    ErrMessage_t result = ERR_INVALIDINPUT;
    if (!kmm)
        result = ERR_UNKNOWN;
    else if (readHead(ln, cmd) && readArguments(ln, kmm, cmd))
        result = runCommand(*cmd, kmm);
    else
        cmd->command = COMMAND_ERROR;
    FreeStrList(list);
    return result;
}

void reportError(KelOut* out, ErrMessage_t error)
{
    if (error == ERR_NONE)
        return;
    KO_Puts(out, "******* ERROR: ");
    if (error >= ERR_INVALIDINPUT && error < ERR_NONE)
        KO_Puts(out, ErrMessages[error]);
    else
        KO_Puts(out, "Unknown error.");
    KO_Write(out, "\n", 1);
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
    tell(obs, KelEvent{EVENT_BANNER, file, 0, nullptr, ERR_NONE, nullptr});
}

void bannerResult(KelMM* kmm, const char* file, int32_t result, const KelObserver* obs)
{
    if (result >= 0)
        banner(kmm, "Parsed", file, "-------------------------\n", obs);
    else
        banner(kmm, "Couldn't parse", file, "-----------------\n", obs);
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
        const char* end = rest + std::strlen(rest);
        uint32_t value = 0;
        auto res = std::from_chars(rest, end, value);
        if (res.ec != std::errc() || res.ptr != end)
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
    return parseLine(strIn, kmm, line, &cmd);
}

int32_t KMM_ParseFile(const char* fname, KelMM* kmm)
{
    return KMM_RunFile(fname, kmm, nullptr);
}

int32_t KMM_RunFile(const char* fname, KelMM* kmm, const KelObserver* obs)
{
    char buf[KMM_LINE_BUFFER] = {};
    int32_t line = 0;
    std::FILE* fp = fname ? std::fopen(fname, "r") : nullptr;
    if (!fp)
        return -1;
    KelOut* out = kmm ? kmm->out : nullptr;
    for (;;) {
        buf[0] = '\0';
        if (!std::fgets(buf, KMM_LINE_BUFFER, fp) && std::ferror(fp)) {
            // A read that fails short of the end (a directory, an I/O error)
            // ends the file; retrying would loop for ever.
            std::fclose(fp);
            return -1;
        }
        ErrMessage_t error = ERR_NONE;
        if (std::strlen(buf) >= 2) {
            if (line < INT32_MAX)
                line++;
            KelCommand cmd;
            error = parseLine(buf, kmm, line, &cmd);
            reportError(out, error);
            tell(obs, KelEvent{EVENT_LINE, fname, line, buf, error,
                               cmd.command == COMMAND_ERROR ? nullptr : &cmd});
        }
        if (error == ERR_PARSEEND || std::feof(fp)) {
            std::fclose(fp);
            return error == ERR_PARSEEND ? -1 : 0;
        }
    }
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
