// A long seeded random run of process creations and terminations on a
// 1000-cell manager, checked after every step against a simple cell-owner
// model and against the invariants of the free list and the segments.

#include <cstdint>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "KelMem.h"
#include "test_util.h"

namespace {

using Areas = std::vector<std::pair<int32_t, int32_t>>;

const int32_t kCells = 1000;

// Which process owns each cell (-1: none), and each process's segments.
struct Model {
    int32_t owner[kCells];
    bool exists[10];
    Areas segs[10];
    Model()
    {
        for (int32_t& o : owner)
            o = -1;
        for (bool& e : exists)
            e = false;
    }
};

// Checks the manager against the model and the invariants; returns a
// description of the first problem found, or "" when all is well.
std::string Check(const KelMM* kmm, const Model& model)
{
    std::ostringstream err;
    std::vector<int32_t> cover(kCells, 0);

    // Free list: held by its head, sorted, disjoint, merged, positive lengths.
    if (kmm->memFree != nullptr && kmm->memFree->prev != nullptr)
        return "memFree is not the head of the free list";
    const SegList* prev = nullptr;
    for (const SegList* n = kmm->memFree; n != nullptr; n = n->next) {
        const int32_t pos = n->seg.pos;
        const int32_t len = n->seg.len;
        if (n->prev != prev)
            return "free list: broken prev link";
        if (len <= 0) {
            err << "free list: area {" << pos << "," << len << "} is not of positive length";
            return err.str();
        }
        if (pos < 0 || pos > kCells - len) {
            err << "free list: area {" << pos << "," << len << "} outside memory";
            return err.str();
        }
        if (prev != nullptr && prev->seg.pos + prev->seg.len >= pos) {
            err << "free list: {" << prev->seg.pos << "," << prev->seg.len << "} then {" << pos
                << "," << len << "} are unsorted, overlapping or unmerged";
            return err.str();
        }
        for (int32_t c = pos; c < pos + len; ++c)
            ++cover[c];
        prev = n;
    }

    // Processes: present exactly as modelled, segments inside memory.
    for (int32_t id = 0; id < 10; ++id) {
        const Process* p = kmm->processList[id];
        if ((p != nullptr) != model.exists[id]) {
            err << "slot " << id << (p ? " holds a process it should not" : " is empty");
            return err.str();
        }
        if (p == nullptr)
            continue;
        if (p->ID != id) {
            err << "slot " << id << " holds a record with ID " << p->ID;
            return err.str();
        }
        if (p->segments != nullptr && p->segments->prev != nullptr) {
            err << "P" << id << ": segments not held by the head";
            return err.str();
        }
        Areas got;
        const SegList* sp = nullptr;
        for (const SegList* s = p->segments; s != nullptr; s = s->next) {
            if (s->prev != sp)
                return "segment list: broken prev link";
            got.emplace_back(s->seg.pos, s->seg.len);
            sp = s;
        }
        if (got != model.segs[id]) {
            err << "P" << id << ": segments differ from the model";
            return err.str();
        }
        for (const auto& a : got) {
            if (a.first < 0 || a.second < 0 || a.first > kCells - a.second) {
                err << "P" << id << ": segment {" << a.first << "," << a.second
                    << "} outside memory";
                return err.str();
            }
            for (int32_t c = a.first; c < a.first + a.second; ++c) {
                ++cover[c];
                if (kmm->mem[c].type == DATA_MAGIC) {
                    err << "P" << id << ": cell " << c << " carries tag 0";
                    return err.str();
                }
                if (model.owner[c] != id) {
                    err << "cell " << c << " is owned by P" << id << " but modelled as "
                        << model.owner[c];
                    return err.str();
                }
            }
        }
    }

    // Free areas and owned segments together cover each cell exactly once.
    for (int32_t c = 0; c < kCells; ++c) {
        if (cover[c] != 1) {
            err << "cell " << c << " is covered " << cover[c] << " times";
            return err.str();
        }
    }
    return "";
}

} // namespace

TEST(ManagerProperty, RandomCreateAndTerminateKeepInvariants)
{
    KelMM* kmm = KMM_Create(kCells);
    ASSERT_NE(kmm, nullptr);
    // Releases the manager however the test ends.
    struct Release {
        KelMM* k;
        ~Release()
        {
            KMM_Free(k);
            std::free(k);
        }
    } release{kmm};
    Model model;
    std::mt19937 rng(0x6b656cu);
    int32_t created = 0;
    int32_t refusedNoRoom = 0;
    int32_t refusedExists = 0;
    int32_t terminated = 0;
    int32_t terminateEmpty = 0;

    ASSERT_EQ(Check(kmm, model), "");
    for (int32_t step = 0; step < 4000; ++step) {
        const int32_t id = static_cast<int32_t>(rng() % 10);
        if (rng() % 3 != 0) {
            const int32_t pos = static_cast<int32_t>(rng() % kCells);
            const int32_t nSegs = 1 + static_cast<int32_t>(rng() % 4);
            int32_t sizes[4];
            for (int32_t i = 0; i < nSegs; ++i) {
                if (rng() % 10 == 0)
                    sizes[i] = 100 + static_cast<int32_t>(rng() % 1100); // large
                else
                    sizes[i] = 1 + static_cast<int32_t>(rng() % 30); // small
            }

            // What the model expects.
            ErrMessage_t expect = ERR_NONE;
            Areas segs;
            if (model.exists[id]) {
                expect = ERR_PROCESSEXISTS;
            } else {
                int32_t start = pos;
                for (int32_t i = 0; i < nSegs && expect == ERR_NONE; ++i) {
                    if (start + sizes[i] > kCells) {
                        expect = ERR_INSUFFICIENTMEM;
                        break;
                    }
                    for (int32_t c = start; c < start + sizes[i]; ++c)
                        if (model.owner[c] != -1)
                            expect = ERR_INSUFFICIENTMEM;
                    segs.emplace_back(start, sizes[i]);
                    start += sizes[i];
                }
            }

            const ErrMessage_t got = KMM_AllocateProcessAt(kmm, id, pos, nSegs, sizes);
            ASSERT_EQ(got, expect) << "step " << step << ": create P" << id << " at " << pos;
            if (got == ERR_NONE) {
                ++created;
                model.exists[id] = true;
                model.segs[id] = segs;
                for (const auto& a : segs) {
                    for (int32_t c = a.first; c < a.first + a.second; ++c) {
                        ASSERT_EQ(kmm->mem[c].type, DATA_ERROR)
                            << "step " << step << ": fresh cell " << c << " is not empty";
                        model.owner[c] = id;
                    }
                    // Leave a value behind, so that a later reservation of
                    // the same cell must empty it again.
                    kmm->mem[a.first].integer.type = DATA_INTEGER;
                    kmm->mem[a.first].integer.value = static_cast<uint32_t>(step);
                }
            } else if (got == ERR_PROCESSEXISTS) {
                ++refusedExists;
            } else {
                ++refusedNoRoom;
            }
        } else {
            const ErrMessage_t expect = model.exists[id] ? ERR_NONE : ERR_NOPROCESS;
            ASSERT_EQ(KMM_TerminateProcess(kmm, id), expect)
                << "step " << step << ": terminate P" << id;
            if (expect == ERR_NONE) {
                ++terminated;
                for (const auto& a : model.segs[id])
                    for (int32_t c = a.first; c < a.first + a.second; ++c)
                        model.owner[c] = -1;
                model.segs[id].clear();
                model.exists[id] = false;
            } else {
                ++terminateEmpty;
            }
        }
        ASSERT_EQ(Check(kmm, model), "") << "after step " << step;
    }

    // Both outcomes of every operation were exercised.
    EXPECT_GT(created, 100);
    EXPECT_GT(refusedNoRoom, 100);
    EXPECT_GT(refusedExists, 100);
    EXPECT_GT(terminated, 100);
    EXPECT_GT(terminateEmpty, 10);

    // Ending every process gives the whole memory back as one area.
    for (int32_t id = 0; id < 10; ++id)
        KMM_TerminateProcess(kmm, id);
    ASSERT_NE(kmm->memFree, nullptr);
    EXPECT_EQ(kmm->memFree->seg.pos, 0);
    EXPECT_EQ(kmm->memFree->seg.len, kCells);
    EXPECT_EQ(kmm->memFree->next, nullptr);
}
