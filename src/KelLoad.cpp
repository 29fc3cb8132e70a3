// The program loader. A load file is a magic line ("8585"), a segment-count
// line (1 to 4), a sizes line (one plain number per segment) and value lines:
// instructions for segment 0, integers and strings for segment 1. The process
// is created with its segments back to back from the given cell; a load that
// fails leaves no process behind and always closes its file.

#include "KelLoad.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "KelAlloc.h"
#include "KelMem_Internal.h"
#include "kelparse.h"

// constexpr: the index of their first characters is made when compiling.
constexpr const char* const DataType_Magic[] = {"8585", nullptr};
constexpr const char* const DataType_Integer[] = {"%u", "#%u", nullptr};
constexpr const char* const DataType_String[] = {"\"%s", nullptr};
constexpr const char* const DataType_Instruction[] = {"RUN", "HALT", nullptr};
constexpr const char* const* const DataType_List[] = {
    DataType_Magic, DataType_Integer, DataType_String, DataType_Instruction, nullptr};

namespace {

constexpr KP_FirstIndex kDataTypeIndex = KP_IndexOf(DataType_List);

// Sub-types within DataType_Integer.
constexpr int32_t kIntegerPlain = 0; // "%u"
constexpr int32_t kIntegerHash = 1;  // "#%u"

// Longest load-file line, in characters. Lines are read whole so that no
// token is cut in two; a longer line is refused rather than read without
// end (a device that never sends a line feed, say).
constexpr size_t kMaxLine = static_cast<size_t>(1) << 20;

// Bytes of the stream buffer of a load; load files are small.
constexpr size_t kLoadBuffer = 4096;

// How reading a line ended.
enum LineStatus : int32_t {
    LINE_OK,       // a line, or the end of the file
    LINE_TOOLONG,  // more than kMaxLine characters before the line feed
    LINE_NOMEM,    // the line did not fit in memory
    LINE_READERROR // the stream failed short of its end
};

// A growable byte buffer for one whole line; data, once allocated, is
// NUL-terminated.
struct LineBuf {
    char* data;
    size_t len;
    size_t cap;
};

// Appends c; false when memory runs out.
bool lineAppend(LineBuf* lb, char c)
{
    if (lb->len + 1 >= lb->cap) {
        size_t cap = lb->cap ? lb->cap * 2 : 256;
        auto* grown = static_cast<char*>(kel_Realloc(lb->data, cap));
        if (!grown)
            return false;
        lb->data = grown;
        lb->cap = cap;
    }
    lb->data[lb->len++] = c;
    lb->data[lb->len] = '\0';
    return true;
}

// Reads one whole line of fp, line feed included, into lb, which is emptied
// first; at the end of the file lb stays empty.
LineStatus readWholeLine(std::FILE* fp, LineBuf* lb)
{
    lb->len = 0;
    if (lb->data)
        lb->data[0] = '\0';
    if (std::feof(fp))
        return LINE_OK;
    int c = 0;
    // getc_unlocked: the stream is this load's alone, and a lock per
    // character cost more than the rest of the reading.
    while ((c = getc_unlocked(fp)) != EOF) {
        if (lb->len == kMaxLine && c != '\n')
            return LINE_TOOLONG;
        if (!lineAppend(lb, static_cast<char>(c)))
            return LINE_NOMEM;
        if (c == '\n')
            break;
    }
    return std::ferror(fp) ? LINE_READERROR : LINE_OK;
}

// A token of a load-file line where it stands, with its type in
// DataType_List and the pattern it matched.
struct Token {
    const char* at;
    int32_t len;
    int32_t type;
    int32_t sub;
};

// Cuts and classifies the token at or after *cursor and moves *cursor past
// it; false when the line holds no more.
bool takeToken(const char** cursor, Token* tok)
{
    tok->len = KP_NextToken(*cursor, &tok->at);
    if (tok->len == 0)
        return false;
    tok->type = KP_ClassifyIndexed(tok->at, tok->len, DataType_List, kDataTypeIndex, &tok->sub);
    *cursor = tok->at + tok->len;
    return true;
}

// Number of tokens of text.
int32_t countTokens(const char* text)
{
    int32_t n = 0;
    for (int32_t len = KP_NextToken(text, &text); len > 0; len = KP_NextToken(text, &text)) {
        text += len;
        n++;
    }
    return n;
}

// The state of one load: the open file, the line just read, and where the
// next value goes.
struct Load {
    KelMM* kmm;
    int32_t process;
    std::FILE* fileIn;
    LineBuf line;       // the line just read; its buffer serves every line
    int32_t n;          // tokens in it
    const SegList* seg; // current segment of the value walk
    int32_t segnum;     // its number, from 0
    int32_t segpos;     // offset of the next cell within it
};

// Reads the next line into ld->line, counts its tokens and points *text at
// it ("" at the end of the file). Returns ERR_NONE, or the code for a line
// that could not be read.
ErrMessage_t nextLine(Load* ld, const char** text)
{
    LineStatus status = readWholeLine(ld->fileIn, &ld->line);
    *text = ld->line.data ? ld->line.data : "";
    ld->n = status == LINE_OK ? countTokens(*text) : 0;
    switch (status) {
    case LINE_OK:
        return ERR_NONE;
    case LINE_TOOLONG:
        return ERR_INVALIDFILE;
    case LINE_READERROR:
        // A file that cannot be read (a directory, say) cannot be loaded.
        return ERR_NOFILE;
    default:
        return ERR_UNKNOWN;
    }
}

// The magic line's first token must be "8585".
ErrMessage_t readMagic(Load* ld)
{
    const char* cursor = nullptr;
    ErrMessage_t err = nextLine(ld, &cursor);
    if (err != ERR_NONE)
        return err;
    Token tok;
    return takeToken(&cursor, &tok) && tok.type == DATA_MAGIC ? ERR_NONE : ERR_INVALIDFILE;
}

// The count line: one plain number from 1 to KMM_MAX_SEGMENTS.
ErrMessage_t readCount(Load* ld, int32_t* numSegments)
{
    const char* cursor = nullptr;
    ErrMessage_t err = nextLine(ld, &cursor);
    if (err != ERR_NONE)
        return err;
    Token tok;
    if (ld->n != 1 || !takeToken(&cursor, &tok) || tok.type != DATA_INTEGER)
        return ERR_INVALIDFILE;
    uint32_t count = 0;
    if (KP_ReadDecimal(tok.at, tok.len, KMM_MAX_SEGMENTS, &count) != 0 || count < 1)
        return ERR_INVALIDFILE;
    *numSegments = static_cast<int32_t>(count);
    return ERR_NONE;
}

// The sizes line: exactly numSegments plain numbers. A size past INT32_MAX
// cannot be reserved in any memory this manager has.
ErrMessage_t readSizes(Load* ld, int32_t numSegments, int32_t* segSizes)
{
    const char* cursor = nullptr;
    ErrMessage_t err = nextLine(ld, &cursor);
    if (err != ERR_NONE)
        return err;
    if (ld->n == 0)
        return ERR_INVALIDFILE;
    if (ld->n != numSegments)
        return ERR_INVALIDINSTRUCTION;
    bool tooLarge = false;
    Token tok;
    for (int32_t i = 0; i < numSegments; i++) {
        takeToken(&cursor, &tok); // the line was counted: token i is there
        if (tok.type != DATA_INTEGER || tok.sub != kIntegerPlain)
            return ERR_INVALIDFILE;
        uint32_t size = 0;
        if (KP_ReadDecimal(tok.at, tok.len, INT32_MAX, &size) == 0)
            segSizes[i] = static_cast<int32_t>(size);
        else
            tooLarge = true;
    }
    return tooLarge ? ERR_INSUFFICIENTMEM : ERR_NONE;
}

// True when a segment of positive length follows s in its list.
bool cellFollows(const SegList* s)
{
    for (s = s->next; s; s = s->next) {
        if (s->seg.len > 0)
            return true;
    }
    return false;
}

// Moves the walk on when the current segment is full, at most once per
// value. A value that lands on an empty segment takes the first cell of the
// next non-empty one; with none left it would fall outside the process.
ErrMessage_t advance(Load* ld)
{
    if (ld->segpos < ld->seg->seg.len)
        return ERR_NONE;
    ld->seg = ld->seg->next;
    ld->segpos = 0;
    ld->segnum++;
    if (!ld->seg || (ld->seg->seg.len == 0 && !cellFollows(ld->seg)))
        return ERR_DATAOVERFLOW;
    return ERR_NONE;
}

// Writes an integer token ("123" or "#123") into cell.
ErrMessage_t writeInteger(KelMem* cell, const Token& tok)
{
    const int32_t skip = tok.sub == kIntegerHash ? 1 : 0;
    uint32_t value = 0;
    if (KP_ReadDecimal(tok.at + skip, tok.len - skip, UINT32_MAX, &value) != 0)
        return ERR_INVALIDDATA;
    kmm_SetInteger(cell, value);
    return ERR_NONE;
}

// Writes a string token (a quote and 1 to 19 characters) into cell.
ErrMessage_t writeString(KelMem* cell, const Token& tok)
{
    if (tok.len > KMM_STRING_MAX)
        return ERR_INVALIDDATA;
    kmm_SetString(cell, tok.at + 1, static_cast<size_t>(tok.len - 1));
    return ERR_NONE;
}

// Places one value token into the next cell of the process.
ErrMessage_t placeValue(Load* ld, const Token& tok)
{
    ErrMessage_t err = advance(ld);
    if (err != ERR_NONE)
        return err;
    KelMem* cell = &ld->kmm->mem[ld->seg->seg.pos + ld->segpos];
    const int32_t type = tok.type;
    if (ld->segnum == 0) {
        if (type != DATA_INSTRUCTION)
            return ERR_INVALIDINSTRUCTION;
        kmm_SetInstruction(cell, static_cast<InstructionType_e>(tok.sub));
    } else if (ld->segnum == 1) {
        if (type == DATA_INTEGER)
            err = writeInteger(cell, tok);
        else if (type == DATA_STRING)
            err = writeString(cell, tok);
        else
            err = ERR_INVALIDDATA;
        if (err != ERR_NONE)
            return err;
    } else {
        return ERR_DATAOVERFLOW;
    }
    ld->segpos++;
    return ERR_NONE;
}

// Reads the magic, count and sizes lines into *numSegments and segSizes and
// creates the process.
ErrMessage_t loadHeader(Load* ld, int32_t addr, int32_t* numSegments, int32_t* segSizes)
{
    ErrMessage_t err = readMagic(ld);
    if (err == ERR_NONE)
        err = readCount(ld, numSegments);
    if (err == ERR_NONE)
        err = readSizes(ld, *numSegments, segSizes);
    if (err != ERR_NONE)
        return err;
    const KelPlacer* placer = ld->kmm->placer;
    if (placer) {
        addr = placer->place(placer->ctx, ld->kmm, ld->process, addr, *numSegments, segSizes);
        if (addr < 0)
            return ERR_INSUFFICIENTMEM;
    }
    // The arguments are sound by now: ERR_UNKNOWN means the heap ran out,
    // anything else that main memory has no room.
    err = KMM_AllocateProcessAt(ld->kmm, ld->process, addr, *numSegments, segSizes);
    if (err == ERR_NONE || err == ERR_UNKNOWN)
        return err;
    return ERR_INSUFFICIENTMEM;
}

// Places the values of every line up to the end of the file or the first
// line without tokens.
ErrMessage_t loadValues(Load* ld)
{
    ld->seg = KMM_SeekSegListHead(ld->kmm->processList[ld->process]->segments);
    ld->segnum = 0;
    ld->segpos = 0;
    // A line that cannot be read is no end of the values: they would be
    // cut short without a word.
    const char* cursor = nullptr;
    ErrMessage_t err = ERR_NONE;
    for (err = nextLine(ld, &cursor); err == ERR_NONE && ld->n > 0; err = nextLine(ld, &cursor)) {
        Token tok;
        while (err == ERR_NONE && takeToken(&cursor, &tok))
            err = placeValue(ld, tok);
        if (err != ERR_NONE)
            return err;
    }
    return err;
}

} // namespace

char** GetExplodedLine(char* buf, int32_t len, std::FILE* fp, int32_t* n)
{
    if (n)
        *n = -1;
    if (!buf || len < 1 || !fp)
        return nullptr;
    buf[0] = '\0';
    char** list = nullptr;
    LineBuf line = {nullptr, 0, 0};
    if (readWholeLine(fp, &line) == LINE_OK && line.data) {
        size_t keep = std::min(line.len, static_cast<size_t>(len) - 1);
        std::memcpy(buf, line.data, keep);
        buf[keep] = '\0';
        list = Explode(line.data);
    }
    std::free(line.data);
    if (list && n)
        *n = CountStrList(list);
    return list;
}

ErrMessage_t KelMM_Load(KelMM* kmm, int32_t process, const char* filename, int32_t addr)
{
    int32_t nSegs = 0;
    int32_t sizes[KMM_MAX_SEGMENTS];
    return kmm_LoadFile(kmm, process, filename, addr, &nSegs, sizes);
}

ErrMessage_t kmm_LoadFile(KelMM* kmm, int32_t process, const char* filename, int32_t addr,
                          int32_t* nSegs, int32_t* sizes)
{
    *nSegs = 0;
    if (!kmm || !filename || !kmm_IsSlot(process))
        return ERR_UNKNOWN;
    if (kmm->processList[process])
        return ERR_PROCESSEXISTS;
    Load ld = {};
    ld.kmm = kmm;
    ld.process = process;
    ld.fileIn = std::fopen(filename, "r");
    if (!ld.fileIn)
        return ERR_NOFILE;
    // A buffer of our own spares the stream a status call and an allocation
    // to size its own, once per load.
    char buffer[kLoadBuffer];
    std::setvbuf(ld.fileIn, buffer, _IOFBF, sizeof buffer);
    int32_t count = -1;
    // A size the header did not get to, or past INT32_MAX, stays kSizeUnread.
    constexpr int32_t kSizeUnread = -1;
    int32_t read[KMM_MAX_SEGMENTS];
    std::fill(read, read + KMM_MAX_SEGMENTS, kSizeUnread);
    ErrMessage_t err = loadHeader(&ld, addr, &count, read);
    if (count > 0 && std::all_of(read, read + count, [](int32_t v) { return v != kSizeUnread; })) {
        *nSegs = count;
        std::memcpy(sizes, read, sizeof(int32_t) * static_cast<size_t>(count));
    }
    if (err == ERR_NONE) {
        err = loadValues(&ld);
        if (err != ERR_NONE)
            KMM_TerminateProcess(kmm, process);
    }
    std::free(ld.line.data);
    std::fclose(ld.fileIn);
    return err;
}
