// Figures drawn from a free list: the statistics of a step and the what-if
// placement of a request under first, best, worst and next fit. The free
// list is the manager's, in its own order; nothing here changes it.
#pragma once

#include <cstdint>
#include <vector>

#include "model.h"

namespace kv {

// Free cells, holes of positive length, the largest, fragmentation and the
// histogram of hole lengths by power-of-two bucket.
void kv_Stats(const std::vector<Area>& free, Stats* out);

// 1 - largest/free in units of 1/scale, rounded half up, in integers so that
// the same list always gives the same figure; -1 when nothing is free.
int64_t kv_Fragmentation(int64_t free, int64_t largest, int64_t scale);

// Where n cells back to back would go: first, best and worst fit answer a
// hole's first cell, ties to the lowest address. Next fit places at *rover
// when the hole holding it takes n cells from there on, else at the lowest
// hole starting after *rover that fits, else wraps to the lowest hole that
// fits; it moves *rover to the end of what it placed, and with no fit
// *rover stays. A request of n <= 0 cells has nothing to place: all four
// are -1, *rover stays.
Placements kv_Place(const std::vector<Area>& free, int64_t n, int32_t* rover);

} // namespace kv
