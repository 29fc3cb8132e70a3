// Numbers in decimal, written through a pointer. Nearly every number of a
// trace or an explanation is a cell address, a count or a line number below
// 10^8: those are written two digits at a time from a table, with no loop
// and no division by a variable; the rest by to_chars.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kv {

// Room for any int64_t: 19 digits and a sign.
constexpr size_t kDecimalRoom = 20;

namespace decimal_detail {

// "00" to "99", each number's two digits.
struct DigitPairs {
    char text[200] = {};
    constexpr DigitPairs()
    {
        for (int i = 0; i < 100; i++) {
            text[2 * i] = static_cast<char>('0' + i / 10);
            text[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
    }
};
constexpr DigitPairs kPairs;

// Writes the two digits of v (below 100) at w.
inline char* pair(char* w, uint32_t v)
{
    std::memcpy(w, kPairs.text + 2 * v, 2);
    return w + 2;
}

// Writes u (below 10^4) in decimal.
inline char* small(char* w, uint32_t u)
{
    if (u < 10) {
        *w = static_cast<char>('0' + u);
        return w + 1;
    }
    if (u < 100)
        return pair(w, u);
    if (u < 1000) {
        *w = static_cast<char>('0' + u / 100);
        return pair(w + 1, u % 100);
    }
    return pair(pair(w, u / 100), u % 100);
}

} // namespace decimal_detail

// Writes v in decimal at w, into kDecimalRoom bytes; the end of what it wrote.
inline char* kv_WriteDecimal(char* w, int64_t v)
{
    using decimal_detail::pair;
    using decimal_detail::small;
    if (v < 0 || v >= 100000000)
        return std::to_chars(w, w + kDecimalRoom, v).ptr;
    const auto u = static_cast<uint32_t>(v);
    if (u < 10000)
        return small(w, u);
    const uint32_t low = u % 10000;
    return pair(pair(small(w, u / 10000), low / 100), low % 100);
}

} // namespace kv
