// One sentence on why a line did what it did, for the trace's "explain":
// where a load was cut from, what a termination joined, why a store or a
// load failed. Built from the states before and after the line, the line
// and what the loader read, never from the load file again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model.h"

namespace kv {

struct ExplainInput {
    const KelCommand* command = nullptr; // nullptr when the line broke the grammar
    ErrMessage_t error = ERR_NONE;
    const MemState* before = nullptr;
    const MemState* after = nullptr;
    const char* line = nullptr; // the line as the interpreter saw it
    // LoadFile: the segment sizes the loader read (empty when it did not
    // read them whole), and their sum.
    const std::vector<int32_t>* sizes = nullptr;
    int64_t cells = 0;
};

// Writes the explanation to *out; false when the line needs none.
bool kv_Explain(const ExplainInput& in, std::string* out);

} // namespace kv
