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
// Copies a segment list of the manager into *out, in list order.
void kv_ReadList(const SegList* list, std::vector<Area>* out);

// Script: every load at its line's address, as kelmem does.
enum class Policy { Script, First, Best, Worst, Next };

// Runs the scripts against a fresh 1000-cell manager, as kelmem does, and
// tells sink of every event; with a policy other than Policy::Script, as a
// replay that places every load by that policy (replay.h). False when the
// manager could not be made or its text could not be kept (memory ran out);
// the trace is then incomplete.
bool kv_Trace(const std::vector<std::string>& files, Sink* sink, Policy policy = Policy::Script);

} // namespace kv
