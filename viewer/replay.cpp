// Placement by policy for replays, over the manager's free list.

#include "replay.h"

#include <numeric>

#include "placement.h"

namespace kv {

namespace {

struct PolicyName {
    Policy policy;
    std::string_view name;
    std::string_view title;
    int32_t Placements::*place; // its answer among the what-if placements
};

// In the order of Policy: entry() looks a policy up by its value.
constexpr PolicyName kPolicies[] = {
    {Policy::Script, "", "the script", nullptr},
    {Policy::First, "first", "first fit", &Placements::first},
    {Policy::Best, "best", "best fit", &Placements::best},
    {Policy::Worst, "worst", "worst fit", &Placements::worst},
    {Policy::Next, "next", "next fit", &Placements::next},
};

const PolicyName& entry(Policy p)
{
    return kPolicies[static_cast<size_t>(p)];
}

} // namespace

std::string_view kv_PolicyName(Policy p)
{
    return entry(p).name;
}

std::string_view kv_PolicyTitle(Policy p)
{
    return entry(p).title;
}

bool kv_ReadPolicy(std::string_view name, Policy* out)
{
    for (const PolicyName& n : kPolicies) {
        if (!n.name.empty() && n.name == name) {
            *out = n.policy;
            return true;
        }
    }
    return false;
}

int32_t kv_ReplayPlace(void* ctx, const KelMM* kmm, int32_t /*process*/, int32_t /*addr*/,
                       int32_t nSegs, const int32_t* sizes)
{
    auto* r = static_cast<Replay*>(ctx);
    const int64_t n = std::accumulate(sizes, sizes + nSegs, int64_t{0});
    std::vector<Area> free;
    kv_ReadList(kmm->memFree, &free);
    int32_t rover = r->rover;
    const Placements p = kv_Place(free, n, &rover);
    const auto place = entry(r->policy).place;
    r->asked = true;
    // A process without cells has no hole to pick: it goes where its line says.
    r->at = n == 0 || !place ? -1 : p.*place;
    return r->at;
}

void kv_ReplayNote(const Replay& r, int32_t lineAddr, int64_t cells, ErrMessage_t error,
                   const Stats& before, std::string* out)
{
    if (!r.asked || cells == 0)
        return;
    std::string note(kv_PolicyTitle(r.policy));
    note[0] = static_cast<char>(note[0] - 'a' + 'A');
    if (r.at >= 0) {
        note += " put it at ";
        kv_AppendRange(&note, r.at, cells);
        note += "; the line says @" + kv_Decimal(lineAddr) + ".";
        if (error != ERR_NONE)
            note += " The load failed all the same, on its values.";
    } else {
        note += " found no free area of " + kv_Decimal(cells) + " cells (" +
                kv_Decimal(before.free) + " free in all, the largest " +
                kv_Decimal(before.largest) + "): the load is refused.";
    }
    // A refused load never reached the line's address: what the line's own
    // explanation says of it does not apply.
    if (r.at < 0 || out->empty())
        *out = note;
    else
        out->insert(0, note + " ");
}

} // namespace kv
