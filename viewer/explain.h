// One sentence on why a line did what it did, for the trace's "explain":
// where a load was cut from, what a termination joined, why a store or a
// load failed. Built from the states before and after the line alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "trace.h"

namespace kv {

struct ExplainInput {
    const KelCommand* command = nullptr; // nullptr when the line broke the grammar
    ErrMessage_t error = ERR_NONE;
    const MemState* before = nullptr;
    const MemState* after = nullptr;
    // LoadFile: the header reader's result, and the sizes when it read them.
    ErrMessage_t header = ERR_NOFILE;
    const std::vector<int32_t>* sizes = nullptr;
    int64_t cells = 0;
};

// Writes the explanation to *out; false when the line needs none.
bool kv_Explain(const ExplainInput& in, std::string* out);

} // namespace kv
