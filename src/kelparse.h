// The tokenizer and the pattern matcher. Every line the system reads is cut
// into tokens here, and every token is classified against small patterns
// before anything converts it.
//
// Patterns are literal characters and the directives "%u" (a run of decimal
// digits) and "%s" (the rest of the token, at least one character); the
// directive letter may be upper or lower case. A pattern list is a
// nullptr-terminated array of patterns, a pattern table a nullptr-terminated
// array of lists; indices are sub-types and types.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

// Longest token; a longer run of token characters is cut into several tokens.
constexpr int32_t KP_TOKEN_MAX = 99;

// The six white-space characters, independent of the locale: the blank, and
// tab, line feed, vertical tab, form feed and carriage return, codes 9 to 13.
constexpr bool kp_IsSpace(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

constexpr bool kp_IsDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

// The characters that end a token: NUL and the six white-space characters.
// Looked up rather than compared, as every character of a script passes here.
inline constexpr std::array<bool, 256> kp_EndsToken = [] {
    std::array<bool, 256> ends{};
    for (int c = 0; c < 256; c++)
        ends[static_cast<size_t>(c)] = c == '\0' || kp_IsSpace(static_cast<unsigned char>(c));
    return ends;
}();

// The next token of a line as Explode cuts it, found in place: returns its
// length (1 to KP_TOKEN_MAX) and points *start at its first character, or
// returns 0 when no token begins at or after s (the end of the line, or "//"
// where a token would begin). The token after it is sought from *start plus
// its length. Inline: every character of a script passes here.
inline int32_t KP_NextToken(const char* s, const char** start)
{
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    while (*p != '\0' && kp_EndsToken[*p]) // white space
        p++;
    *start = reinterpret_cast<const char*>(p);
    if (*p == '\0' || (p[0] == '/' && p[1] == '/'))
        return 0;
    // Four characters a step while a whole step stays within the bound.
    int32_t n = 0;
    for (; n <= KP_TOKEN_MAX - 4; n += 4) {
        if (kp_EndsToken[p[n]])
            return n;
        if (kp_EndsToken[p[n + 1]])
            return n + 1;
        if (kp_EndsToken[p[n + 2]])
            return n + 2;
        if (kp_EndsToken[p[n + 3]])
            return n + 3;
    }
    while (n < KP_TOKEN_MAX && !kp_EndsToken[p[n]])
        n++;
    return n;
}

// Splits strIn at white space into tokens of at most 99 characters; "//" where
// a token would begin drops the rest of the line. Returns a nullptr-terminated
// array of heap strings that the caller releases with FreeStrList, or nullptr
// when the line holds no token, strIn is nullptr or memory ran out.
char** Explode(const char* strIn);

// Resizes the heap block `in` (or makes one when it is nullptr) to size * num
// bytes, keeping its contents. Returns nullptr when the memory cannot be had
// or size or num is below 1; `in` is then untouched and still owned by the
// caller.
void* AllocateArray(void* in, int32_t size, int32_t num);

// Releases every string up to the first nullptr, then the array. Ignores nullptr.
void FreeStrList(char** strList);

// Number of strings before the terminator; 0 for nullptr.
int32_t CountStrList(char* const* strList);

// Converts digits, a run of decimal digits and nothing else, into *out.
// Returns 0, or -1 when the run is empty, holds anything else or exceeds max;
// *out is then untouched.
int32_t ReadDecimal(const char* digits, uint32_t max, uint32_t* out);

// ReadDecimal over the n characters at digits, which need no NUL.
int32_t KP_ReadDecimal(const char* digits, int32_t n, uint32_t max, uint32_t* out);

// 0 when the whole token str matches the pattern typestr, else -1.
int32_t CompareType(const char* str, const char* typestr);

// Index of the first pattern in list that str matches, or -1.
int32_t FindInList(const char* str, const char* const* list);

// Index of the first list in table holding a pattern that str matches, or -1.
int32_t DetermineType(const char* str, const char* const* const* table);

// CompareType on the len characters at str, a token where it stands in its
// line (no NUL needed).
int32_t KP_Match(const char* str, int32_t len, const char* typestr);

// The patterns of a table that a token may match, by its first byte: those
// that begin with it or with a directive (the empty pattern under byte 0), in
// table order. Made once (when compiling, for a constant table); a byte with
// more than kMax of them, or a table too large, is searched in full.
struct KP_FirstIndex {
    static constexpr int32_t kMax = 7;
    // The common shapes of a pattern, matched without walking it: literal
    // characters alone, or followed by "%u" at its end, or by "%s".
    enum Shape : uint8_t { SHAPE_OTHER, SHAPE_LITERAL, SHAPE_DIGITS, SHAPE_REST };
    // Small and without pointers: a constant index stays in read-only data
    // and takes a few pages of the resident size.
    struct Candidate {
        int16_t list, pattern, literal; // literal: characters before a directive
        Shape shape;
        uint8_t known; // leading characters the entry's byte has matched: 0 or 1
    };
    struct alignas(64) Entry { // 64 bytes: an entry is found by a shift
        bool whole;            // search the whole table
        uint8_t n;
        Candidate c[kMax];
    };
    Entry at[256];
};

constexpr KP_FirstIndex::Shape kp_ShapeOf(const char* pat, int32_t* literal)
{
    int32_t n = 0;
    while (pat[n] != '\0' && pat[n] != '%')
        n++;
    *literal = n;
    if (pat[n] == '\0')
        return KP_FirstIndex::SHAPE_LITERAL;
    const char d = pat[n + 1];
    if ((d == 'u' || d == 'U') && pat[n + 2] == '\0')
        return KP_FirstIndex::SHAPE_DIGITS;
    return d == 's' || d == 'S' ? KP_FirstIndex::SHAPE_REST : KP_FirstIndex::SHAPE_OTHER;
}

// Enters pat, pattern `pattern` of list `list`, under each first byte it may match.
constexpr void kp_Enter(KP_FirstIndex* index, const char* pat, int32_t list, int32_t pattern)
{
    int32_t literal = 0;
    const KP_FirstIndex::Shape shape = kp_ShapeOf(pat, &literal);
    const bool fits = list <= INT16_MAX && pattern <= INT16_MAX && literal <= INT16_MAX;
    const auto first = static_cast<unsigned char>(pat[0]);
    for (int32_t c = 0; c < 256; c++) {
        KP_FirstIndex::Entry& e = index->at[c];
        if (c != first && first != '%')
            continue;
        e.whole = e.whole || !fits || e.n == KP_FirstIndex::kMax;
        if (!e.whole)
            e.c[e.n++] = {static_cast<int16_t>(list), static_cast<int16_t>(pattern),
                          static_cast<int16_t>(literal), shape,
                          literal > 0 ? uint8_t{1} : uint8_t{0}};
    }
}

constexpr KP_FirstIndex KP_IndexOf(const char* const* const* table)
{
    KP_FirstIndex index{};
    for (int32_t i = 0; table && table[i]; i++) {
        for (int32_t k = 0; table[i][k]; k++)
            kp_Enter(&index, table[i][k], i, k);
    }
    return index;
}

// DetermineType of the len characters at str, with the pattern matched in *sub
// (-1 when none): KP_ClassifyIndexed for a byte whose entry says "whole".
int32_t kp_ClassifyWhole(const char* str, int32_t len, const char* const* const* table,
                         int32_t* sub);

// KP_ClassifyIndexed's value when it read no number.
constexpr uint64_t KP_NO_VALUE = UINT64_MAX;

// Most decimal digits whose number a uint64_t always holds.
constexpr int32_t KP_U64_DIGITS = 19;

// KP_Match of pat, the pattern of candidate c, whose first c.known characters
// the token is known to have. A "%u" leaves in *digits the number its digits
// make, modulo 2^64.
inline bool kp_MatchCandidate(const char* str, int32_t len, const char* const* const* table,
                              const KP_FirstIndex::Candidate& c, uint64_t* digits)
{
    if (c.shape == KP_FirstIndex::SHAPE_OTHER)
        return KP_Match(str, len, table[c.list][c.pattern]) == 0;
    const int32_t literal = c.literal;
    // A directive needs at least one token character where it stands.
    if (c.shape == KP_FirstIndex::SHAPE_LITERAL ? len != literal : len <= literal)
        return false;
    int32_t i = c.known;
    if (i < literal) {
        const char* pat = table[c.list][c.pattern];
        if (std::memcmp(str + i, pat + i, static_cast<size_t>(literal - i)) != 0)
            return false;
        i = literal;
    }
    if (c.shape != KP_FirstIndex::SHAPE_DIGITS)
        return true;
    uint64_t v = 0;
    for (; i < len; i++) {
        const auto d = static_cast<uint32_t>(static_cast<unsigned char>(str[i]) - '0');
        if (d > 9)
            return false;
        v = v * 10 + d;
    }
    *digits = v;
    return true;
}

// DetermineType of the len characters at str and, in *sub, the pattern
// matched in its list (-1 when none), trying only the patterns index names.
// *value (when not nullptr) receives the number after the token's first
// character if the pattern is that character and "%u" and the number has at
// most KP_U64_DIGITS digits, else KP_NO_VALUE (also for a byte searched in
// full): so the runner reads a number's digits once. Inline: the runner asks
// it of each of a line's first tokens.
inline int32_t KP_ClassifyIndexed(const char* str, int32_t len, const char* const* const* table,
                                  const KP_FirstIndex& index, int32_t* sub,
                                  uint64_t* value = nullptr)
{
    const KP_FirstIndex::Entry& e = index.at[len > 0 ? static_cast<unsigned char>(str[0]) : 0];
    int32_t type = -1;
    *sub = -1;
    uint64_t digits = KP_NO_VALUE;
    if (e.whole) {
        type = kp_ClassifyWhole(str, len, table, sub);
    } else {
        for (const KP_FirstIndex::Candidate* c = e.c; c < e.c + e.n; c++) {
            if (kp_MatchCandidate(str, len, table, *c, &digits)) {
                if (c->literal != 1 || c->shape != KP_FirstIndex::SHAPE_DIGITS ||
                    len - 1 > KP_U64_DIGITS)
                    digits = KP_NO_VALUE;
                *sub = c->pattern;
                type = c->list;
                break;
            }
        }
    }
    if (value)
        *value = digits;
    return type;
}

// FindInList(str, args[type]), or -1 when type is negative or past the table.
int32_t DetermineSubType(int32_t type, const char* str, const char* const* const* args);
