// The tokenizer and the pattern matcher.
//
// Explode cuts a line at the six white-space characters into tokens of at
// most KP_TOKEN_MAX characters, dropping a comment that begins with "//"
// where a token would begin. The matcher answers, for a token, which pattern
// of a list and which list of a table it matches; it never allocates.

#include "kelparse.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "KelAlloc.h"
#include "kelparse_internal.h"

namespace {

// The characters that end a token: NUL and the six white-space characters.
// Looked up rather than compared, as every character of a script passes here.
constexpr std::array<bool, 256> kEndsToken = [] {
    std::array<bool, 256> ends{};
    for (int c = 0; c < 256; c++)
        ends[static_cast<size_t>(c)] = c == '\0' || kp_IsSpace(static_cast<unsigned char>(c));
    return ends;
}();

// Releases the first n strings of a list under construction, then the array.
void freePartial(char** list, int32_t n)
{
    for (int32_t i = 0; i < n; i++)
        std::free(list[i]);
    std::free(list);
}

// Copies the len characters at s into a new heap string; nullptr when memory
// runs out.
char* copyToken(const char* s, int32_t len)
{
    auto* str = static_cast<char*>(kel_Malloc(static_cast<size_t>(len) + 1));
    if (str) {
        std::memcpy(str, s, static_cast<size_t>(len));
        str[len] = '\0';
    }
    return str;
}

// One step of CompareType on a directive at pat[0] == '%': advances *s over
// what it takes. Returns 1 when the whole rest matches at once ("%s"), 0 to
// go on matching, -1 when the match fails.
int32_t matchDirective(const char** s, const char** pat)
{
    switch ((*pat)[1]) {
    case 'S':
    case 's':
        return 1;
    case 'U':
    case 'u':
        while (kp_IsDigit(static_cast<unsigned char>(**s)))
            (*s)++;
        *pat += 2;
        return 0;
    default:
        return -1;
    }
}

} // namespace

void* AllocateArray(void* in, int32_t size, int32_t num)
{
    if (size < 1 || num < 1)
        return nullptr;
    size_t bytes = static_cast<size_t>(size) * static_cast<size_t>(num);
    return in ? kel_Realloc(in, bytes) : kel_Malloc(bytes);
}

int32_t KP_NextToken(const char* s, const char** start)
{
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    while (kp_IsSpace(*p))
        p++;
    *start = reinterpret_cast<const char*>(p);
    if (*p == '\0' || (p[0] == '/' && p[1] == '/'))
        return 0;
    int32_t n = 0;
    while (n < KP_TOKEN_MAX && !kEndsToken[p[n]])
        n++;
    return n;
}

char** Explode(const char* strIn)
{
    if (!strIn)
        return nullptr;
    char** list = nullptr;
    int32_t count = 0;
    const char* tok = nullptr;
    for (int32_t len = KP_NextToken(strIn, &tok); len > 0; len = KP_NextToken(tok + len, &tok)) {
        // Grown by exactly one element per token; the terminator comes last.
        void* grown = AllocateArray(list, sizeof(char*), count + 1);
        if (!grown) {
            freePartial(list, count);
            return nullptr;
        }
        list = static_cast<char**>(grown);
        char* token = copyToken(tok, len);
        if (!token) {
            freePartial(list, count);
            return nullptr;
        }
        list[count++] = token;
    }
    if (count == 0)
        return nullptr;
    void* grown = AllocateArray(list, sizeof(char*), count + 1);
    if (!grown) {
        freePartial(list, count);
        return nullptr;
    }
    list = static_cast<char**>(grown);
    list[count] = nullptr;
    return list;
}

void FreeStrList(char** strList)
{
    if (!strList)
        return;
    for (char** p = strList; *p; p++)
        std::free(*p);
    std::free(strList);
}

int32_t CountStrList(char* const* strList)
{
    int32_t n = 0;
    while (strList && strList[n])
        n++;
    return n;
}

int32_t ReadDecimal(const char* digits, uint32_t max, uint32_t* out)
{
    const char* end = digits + std::strlen(digits);
    uint32_t value = 0;
    auto res = std::from_chars(digits, end, value);
    if (res.ec != std::errc() || res.ptr != end || value > max)
        return -1;
    *out = value;
    return 0;
}

int32_t CompareType(const char* str, const char* typestr)
{
    if (!str || !typestr)
        return -1;
    while (*str != '\0' && *typestr != '\0') {
        while (*str != '\0' && *str == *typestr && *typestr != '%') {
            str++;
            typestr++;
        }
        if (*str == '\0' && *typestr == '\0')
            return 0;
        if (*str == '\0' || *typestr == '\0')
            return -1;
        if (*typestr != '%')
            return -1;
        int32_t step = matchDirective(&str, &typestr);
        if (step != 0)
            return step > 0 ? 0 : -1;
    }
    return *str == '\0' && *typestr == '\0' ? 0 : -1;
}

int32_t FindInList(const char* str, const char* const* list)
{
    if (!list)
        return -1;
    for (int32_t i = 0; list[i]; i++) {
        if (CompareType(str, list[i]) == 0)
            return i;
    }
    return -1;
}

int32_t DetermineType(const char* str, const char* const* const* table)
{
    if (!table)
        return -1;
    for (int32_t i = 0; table[i]; i++) {
        if (FindInList(str, table[i]) >= 0)
            return i;
    }
    return -1;
}

int32_t DetermineSubType(int32_t type, const char* str, const char* const* const* args)
{
    if (!args || type < 0)
        return -1;
    // Walk to index type, stopping at the terminator: never past the table.
    for (int32_t i = 0; args[i]; i++) {
        if (i == type)
            return FindInList(str, args[i]);
    }
    return -1;
}
