// Policy replays: the scripts run again with every load placed where a
// classic placement policy puts it instead of at its line's address. The
// loader asks the run where to place once it knows the sizes (KelPlacer);
// the answer comes from the manager's own free list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "KelLoad.h"
#include "trace.h"

namespace kv {

// "first", "best", "worst", "next"; "" for Script.
std::string_view kv_PolicyName(Policy p);
// "first fit" ... ; "the script" for Script.
std::string_view kv_PolicyTitle(Policy p);
// Reads a policy's name; false for any other text.
bool kv_ReadPolicy(std::string_view name, Policy* out);

// What a run keeps from load to load: next fit's rover, which follows the
// loads that succeed, and where the current line's load was placed.
struct Replay {
    Policy policy = Policy::Script;
    int32_t rover = 0;  // next fit looks from here on; 0 to kCells - 1
    int32_t at = -1;    // the line's placement: -1 until the loader asks, or no room
    bool asked = false; // the loader asked during the current line
};

// The placer of a replay: ctx is its Replay.
int32_t kv_ReplayPlace(void* ctx, const KelMM* kmm, int32_t process, int32_t addr, int32_t nSegs,
                       const int32_t* sizes);

// The explanation of a replayed load: where the policy put it, or why
// it had nowhere to go. Appended to what the line's own explanation says.
void kv_ReplayNote(const Replay& r, int32_t lineAddr, int64_t cells, ErrMessage_t error,
                   const Stats& before, std::string* out);

} // namespace kv
