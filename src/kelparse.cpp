// The tokenizer and the pattern matcher.
//
// Explode cuts a line at the six white-space characters into tokens of at
// most KP_TOKEN_MAX characters, dropping a comment that begins with "//"
// where a token would begin. The matcher answers, for a token, which pattern
// of a list and which list of a table it matches; it never allocates.

#include "kelparse.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "KelAlloc.h"

namespace {

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

int32_t findInList(const char* str, int32_t len, const char* const* list)
{
    if (!list)
        return -1;
    for (int32_t i = 0; list[i]; i++) {
        // Decided on a literal first character: most patterns fail there.
        const char first = list[i][0];
        if (first != '%' && first != '\0' && (len == 0 || str[0] != first))
            continue;
        if (KP_Match(str, len, list[i]) == 0)
            return i;
    }
    return -1;
}

} // namespace

void* AllocateArray(void* in, int32_t size, int32_t num)
{
    if (size < 1 || num < 1)
        return nullptr;
    size_t bytes = static_cast<size_t>(size) * static_cast<size_t>(num);
    return in ? kel_Realloc(in, bytes) : kel_Malloc(bytes);
}

char** Explode(const char* strIn)
{
    if (!strIn)
        return nullptr;
    char** list = nullptr;
    int32_t count = 0;
    const char* tok = nullptr;
    for (int32_t len = KP_NextToken(strIn, &tok); len > 0; len = KP_NextToken(tok + len, &tok)) {
        // Grown by one element per token, with room for the terminator, which
        // is always in place: a list cut short is released by FreeStrList.
        void* grown = AllocateArray(list, sizeof(char*), count + 2);
        if (!grown) {
            FreeStrList(list);
            return nullptr;
        }
        list = static_cast<char**>(grown);
        list[count] = copyToken(tok, len);
        if (!list[count]) {
            FreeStrList(list);
            return nullptr;
        }
        list[++count] = nullptr;
    }
    return list; // nullptr when the line holds no token
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

int32_t KP_ReadDecimal(const char* digits, int32_t n, uint32_t max, uint32_t* out)
{
    if (n < 1)
        return -1;
    // The sum is checked at each digit, so it never passes 2^36.
    uint64_t value = 0;
    for (int32_t i = 0; i < n; i++) {
        const auto digit = static_cast<uint32_t>(static_cast<unsigned char>(digits[i]) - '0');
        if (digit > 9)
            return -1;
        value = value * 10 + digit;
        if (value > max)
            return -1;
    }
    *out = static_cast<uint32_t>(value);
    return 0;
}

int32_t ReadDecimal(const char* digits, uint32_t max, uint32_t* out)
{
    return digits ? KP_ReadDecimal(digits, static_cast<int32_t>(std::strlen(digits)), max, out)
                  : -1;
}

int32_t KP_Match(const char* str, int32_t len, const char* typestr)
{
    if (!str || !typestr)
        return -1;
    int32_t i = 0;
    for (const char* p = typestr;; p++) {
        const char c = *p;
        if (c == '\0')
            return i == len ? 0 : -1;
        if (c != '%') {
            if (i == len || str[i] != c)
                return -1;
            i++;
            continue;
        }
        // A directive needs at least one token character where it stands.
        if (i == len)
            return -1;
        if (p[1] == 's' || p[1] == 'S')
            return 0; // the rest of the token
        if (p[1] != 'u' && p[1] != 'U')
            return -1;
        while (i < len && kp_IsDigit(static_cast<unsigned char>(str[i])))
            i++;
        p++;
    }
}

int32_t CompareType(const char* str, const char* typestr)
{
    return str ? KP_Match(str, static_cast<int32_t>(std::strlen(str)), typestr) : -1;
}

int32_t kp_ClassifyWhole(const char* str, int32_t len, const char* const* const* table,
                         int32_t* sub)
{
    *sub = -1;
    if (!table)
        return -1;
    for (int32_t i = 0; table[i]; i++) {
        *sub = findInList(str, len, table[i]);
        if (*sub >= 0)
            return i;
    }
    return -1;
}

int32_t FindInList(const char* str, const char* const* list)
{
    return str ? findInList(str, static_cast<int32_t>(std::strlen(str)), list) : -1;
}

int32_t DetermineType(const char* str, const char* const* const* table)
{
    int32_t sub = -1;
    return str ? kp_ClassifyWhole(str, static_cast<int32_t>(std::strlen(str)), table, &sub) : -1;
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
