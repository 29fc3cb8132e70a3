// An area of memory cells: the cells pos .. pos + len - 1.
#pragma once

#include <cstdint>

struct KelSegment {
    int32_t pos; // first cell of the area
    int32_t len; // number of cells; never negative, and pos + len fits in int32_t
};
