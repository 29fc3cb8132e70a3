// One entry of the manager's process table.
#pragma once

#include <cstdint>

#include "KelSegmentList.h"

struct Process {
    int32_t ID;        // the slot that holds the record, 0 to 9
    SegList* segments; // head of the segment list, in the order reserved
};
