// What the tokenizer and the pattern matcher share; callers need none of it.
#pragma once

#include <cstdint>

// The six white-space characters, independent of the locale: the blank, and
// tab, line feed, vertical tab, form feed and carriage return, codes 9 to 13.
constexpr bool kp_IsSpace(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

inline bool kp_IsDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}
