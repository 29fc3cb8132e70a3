// Fuzzes the tokenizer and the pattern matcher.
//
// The input, cut at its first NUL, is one line for Explode; its list is
// compared with a tokenizer written out here from the rules (white space of
// six kinds separates, "//" where a token would begin ends the line, a run of
// more than 99 characters goes on as a new token). Every token is classified
// against both pattern tables and compared with a matcher written out here.
// The input split at its first byte 0x01 also gives a token and a pattern
// for CompareType directly.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "KelLoad.h"
#include "KelParseCmd.h"
#include "fuzz_check.h"
#include "kelparse.h"

namespace {

constexpr size_t kTokenMax = 99;

bool isSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

std::vector<std::string> refExplode(const char* s)
{
    std::vector<std::string> out;
    size_t i = 0;
    for (;;) {
        while (isSpace(static_cast<unsigned char>(s[i])))
            i++;
        if (s[i] == '\0' || (s[i] == '/' && s[i + 1] == '/'))
            break;
        std::string tok;
        while (tok.size() < kTokenMax && s[i] != '\0' && !isSpace(static_cast<unsigned char>(s[i])))
            tok.push_back(s[i++]);
        out.push_back(tok);
    }
    return out;
}

int32_t refCompare(const char* str, const char* pat)
{
    if (!str || !pat)
        return -1;
    size_t i = 0;
    size_t j = 0;
    while (str[i] != '\0' && pat[j] != '\0') {
        while (str[i] != '\0' && str[i] == pat[j] && pat[j] != '%') {
            i++;
            j++;
        }
        if (str[i] == '\0' && pat[j] == '\0')
            return 0;
        if (str[i] == '\0' || pat[j] == '\0')
            return -1;
        if (pat[j] != '%')
            return -1;
        char d = pat[j + 1];
        if (d == 's' || d == 'S')
            return 0;
        if (d != 'u' && d != 'U')
            return -1;
        while (isDigit(static_cast<unsigned char>(str[i])))
            i++;
        j += 2;
    }
    return str[i] == '\0' && pat[j] == '\0' ? 0 : -1;
}

int32_t refFindInList(const char* str, const char* const* list)
{
    for (int32_t i = 0; list[i]; i++) {
        if (refCompare(str, list[i]) == 0)
            return i;
    }
    return -1;
}

int32_t tableSize(const char* const* const* table)
{
    int32_t n = 0;
    while (table[n])
        n++;
    return n;
}

// Classifies tok against table and checks type, sub-type and every single
// pattern against the written-out matcher.
void classify(const char* tok, const char* const* const* table, const KP_FirstIndex& index,
              const char* name, bool typesDisjoint)
{
    const int32_t lists = tableSize(table);
    int32_t expectType = -1;
    int32_t matchingLists = 0;
    for (int32_t t = 0; t < lists; t++) {
        for (int32_t k = 0; table[t][k]; k++) {
            int32_t got = CompareType(tok, table[t][k]);
            fz_require(got == refCompare(tok, table[t][k]), "CompareType(\"%s\", \"%s\") gave %d",
                       tok, table[t][k], got);
        }
        int32_t sub = refFindInList(tok, table[t]);
        fz_require(FindInList(tok, table[t]) == sub, "FindInList(\"%s\", %s[%d]) gave %d", tok,
                   name, t, FindInList(tok, table[t]));
        if (sub >= 0) {
            matchingLists++;
            if (expectType < 0)
                expectType = t;
        }
    }
    int32_t type = DetermineType(tok, table);
    fz_require(type >= -1 && type < lists, "DetermineType(\"%s\", %s) gave %d, out of range", tok,
               name, type);
    fz_require(type == expectType, "DetermineType(\"%s\", %s) gave %d, expected %d", tok, name,
               type, expectType);
    if (typesDisjoint)
        fz_require(matchingLists <= 1, "token \"%s\" matches %d lists of %s", tok, matchingLists,
                   name);
    for (int32_t t = -2; t <= lists + 2; t++) {
        int32_t sub = DetermineSubType(t, tok, table);
        int32_t expect = (t >= 0 && t < lists) ? refFindInList(tok, table[t]) : -1;
        fz_require(sub == expect, "DetermineSubType(%d, \"%s\", %s) gave %d, expected %d", t, tok,
                   name, sub, expect);
    }
    int32_t sub = DetermineSubType(type, tok, table);
    fz_require((type < 0) == (sub < 0), "token \"%s\": type %d but sub-type %d in %s", tok, type,
               sub, name);
    // The runner's path: the same answer through the first-byte index.
    int32_t indexedSub = -2;
    uint64_t value = 0;
    const int32_t indexed = KP_ClassifyIndexed(tok, static_cast<int32_t>(std::strlen(tok)), table,
                                               index, &indexedSub, &value);
    fz_require(indexed == type && indexedSub == sub,
               "KP_ClassifyIndexed(\"%s\", %s) gave %d/%d, expected %d/%d", tok, name, indexed,
               indexedSub, type, sub);
    // A number it hands out is the one ReadFromType reads after the first
    // character (or, past UINT32_MAX, one that ReadFromType refuses).
    uint32_t read = 0;
    const bool readable = tok[0] != '\0' && ReadDecimal(tok + 1, UINT32_MAX, &read) == 0;
    fz_require(value == KP_NO_VALUE || (readable ? value == read : value > UINT32_MAX),
               "KP_ClassifyIndexed(\"%s\", %s) read the number %llu", tok, name,
               static_cast<unsigned long long>(value));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const char* line = input.c_str();

    char** list = Explode(line);
    const std::vector<std::string> expect = refExplode(line);
    const size_t n = fz_countTokens(list);
    fz_require((list == nullptr) == expect.empty(), "Explode gave %s for a line with %zu tokens",
               list ? "a list" : "nullptr", expect.size());
    fz_require(n == expect.size(), "Explode gave %zu tokens, expected %zu", n, expect.size());
    for (size_t i = 0; i < n; i++) {
        const char* tok = list[i];
        const size_t len = std::strlen(tok);
        fz_require(len >= 1 && len <= kTokenMax, "token %zu has length %zu", i, len);
        for (size_t k = 0; k < len; k++)
            fz_require(!isSpace(static_cast<unsigned char>(tok[k])),
                       "token %zu holds white space at %zu", i, k);
        fz_require(!(tok[0] == '/' && tok[1] == '/'), "token %zu begins with //", i);
        fz_require(expect[i] == tok, "token %zu is \"%s\", expected \"%s\"", i, tok,
                   expect[i].c_str());
        static const KP_FirstIndex argumentsIndex = KP_IndexOf(Arguments);
        static const KP_FirstIndex dataTypeIndex = KP_IndexOf(DataType_List);
        classify(tok, Arguments, argumentsIndex, "Arguments", true);
        classify(tok, DataType_List, dataTypeIndex, "DataType_List", false);
    }
    FreeStrList(list);

    // Token and pattern for CompareType: before and after the first 0x01.
    const size_t cut = input.find('\x01');
    const std::string tok = input.substr(0, cut);
    const std::string pat = cut == std::string::npos ? std::string() : input.substr(cut + 1);
    int32_t got = CompareType(tok.c_str(), pat.c_str());
    fz_require(got == refCompare(tok.c_str(), pat.c_str()), "CompareType(\"%s\", \"%s\") gave %d",
               tok.c_str(), pat.c_str(), got);
    fz_require(CompareType(nullptr, pat.c_str()) == -1 && CompareType(tok.c_str(), nullptr) == -1,
               "CompareType with nullptr matched");
    return 0;
}
