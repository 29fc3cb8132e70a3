// The tracer: runs the scripts as kelmem does, with itself as the run's
// observer, reads the manager after every line where the runner says the
// line may have changed it, and hands each Step of the data model
// (model.h) to a Sink. Every figure is read from the manager itself.
#pragma once

#include <string>
#include <vector>

#include "KelMem.h"
#include "model.h"

namespace kv {

// Copies the manager's processes and free list into *st.
void kv_ReadState(const KelMM* kmm, MemState* st);

// Runs the scripts against a fresh 1000-cell manager, as kelmem does, and
// tells sink of every event. False when the manager could not be made or its
// text could not be kept (memory ran out); the trace is then incomplete.
bool kv_Trace(const std::vector<std::string>& files, Sink* sink);

} // namespace kv
