// Statistics and what-if placement over a free list.

#include "placement.h"

#include <algorithm>

namespace kv {

namespace {

// The bucket of a hole of len cells: k with 2^k <= len < 2^(k+1).
size_t bucketOf(int32_t len)
{
    size_t k = 0;
    for (auto v = static_cast<uint32_t>(len); v > 1; v >>= 1)
        k++;
    return k;
}

// Where next fit puts n cells in hole a with the rover at rover: at the
// rover when a holds it and the rest of a from there takes n cells, at a's
// start when a begins after the rover and takes n; else -1.
int64_t nextFitIn(const Area& a, int64_t n, int32_t rover)
{
    if (a.pos <= rover && rover < a.end())
        return a.end() - rover >= n ? rover : -1;
    return a.pos > rover && a.len >= n ? a.pos : -1;
}

} // namespace

int64_t kv_Fragmentation(int64_t free, int64_t largest, int64_t scale)
{
    if (free <= 0)
        return -1;
    return ((free - largest) * 2 * scale + free) / (2 * free);
}

void kv_Stats(const std::vector<Area>& free, Stats* out)
{
    out->free = 0;
    out->holes = 0;
    out->largest = 0;
    out->histogram.clear();
    for (const Area& a : free) {
        if (a.len <= 0)
            continue;
        out->free += a.len;
        out->holes++;
        out->largest = std::max(out->largest, a.len);
        size_t k = bucketOf(a.len);
        if (out->histogram.size() <= k)
            out->histogram.resize(k + 1, 0);
        out->histogram[k]++;
    }
    out->fragmentation = static_cast<int32_t>(kv_Fragmentation(out->free, out->largest, 10000));
}

Placements kv_Place(const std::vector<Area>& free, int64_t n, int32_t* rover)
{
    Placements p;
    if (n <= 0)
        return p;
    int32_t bestLen = 0;
    int32_t worstLen = 0;
    int64_t next = -1;    // next fit from the rover on
    int32_t wrapped = -1; // next fit's answer when it wraps around
    for (const Area& a : free) {
        const int64_t at = nextFitIn(a, n, *rover);
        if (at >= 0 && (next < 0 || at < next))
            next = at;
        if (a.len < n)
            continue;
        // Lower addresses win ties, whatever order the list is in.
        auto better = [&](int32_t cur, int32_t curLen, bool wins) {
            return cur < 0 || wins || (a.len == curLen && a.pos < cur);
        };
        if (p.first < 0 || a.pos < p.first)
            p.first = a.pos;
        if (better(p.best, bestLen, a.len < bestLen)) {
            p.best = a.pos;
            bestLen = a.len;
        }
        if (better(p.worst, worstLen, a.len > worstLen)) {
            p.worst = a.pos;
            worstLen = a.len;
        }
        if (wrapped < 0 || a.pos < wrapped)
            wrapped = a.pos;
    }
    p.next = next >= 0 ? static_cast<int32_t>(next) : wrapped;
    if (p.next >= 0)
        *rover = static_cast<int32_t>(p.next + n); // n fitted in a hole, so this fits
    return p;
}

} // namespace kv
