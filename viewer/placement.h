// Figures drawn from a free list: the statistics of a step and the what-if
// placement of a request under first, best, worst and next fit. The free
// list is the manager's, in its own order; nothing here changes it.
#pragma once

#include <cstdint>
#include <vector>

#include "trace.h"

namespace kv {

// Free cells, holes of positive length, the largest, fragmentation and the
// histogram of hole lengths by power-of-two bucket.
void kv_Stats(const std::vector<Area>& free, Stats* out);

// Where n cells back to back would go: each policy answers a hole's first
// cell, ties to the lowest address. Next fit takes the first hole starting
// at or after *rover, else wraps to the lowest hole that fits, and moves
// *rover to the end of what it placed; with no fit *rover stays. A request
// of n <= 0 cells has nothing to place: all four are -1, *rover stays.
Placements kv_Place(const std::vector<Area>& free, int64_t n, int32_t* rover);

} // namespace kv
