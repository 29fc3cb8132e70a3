// The trace's parts: placement policies, free-list figures, JSON strings,
// and the steps of small runs (cells, free list, explanations).

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <thread>
#include <vector>

#include "../unit/test_util.h"
#include "KelOut.h"
#include "html.h"
#include "json.h"
#include "page_data.h"
#include "placement.h"
#include "trace.h"

namespace {

using kv::Area;

TEST(Placement, FourPoliciesOnCraftedFreeLists)
{
    const int N = -1; // no fit
    struct Row {
        const char* what;
        std::vector<Area> free;
        int64_t n;
        int32_t rover; // before
        int32_t first, best, worst, next;
        int32_t roverAfter;
    } rows[] = {
        {"equal holes tie to the lowest", {{0, 5}, {10, 5}, {20, 8}}, 5, 0, 0, 0, 20, 0, 5},
        {"worst ties to the lowest", {{0, 8}, {20, 8}}, 3, 0, 0, 0, 0, 0, 3},
        {"best takes the smallest fit", {{0, 100}, {200, 6}, {300, 5}}, 5, 0, 0, 300, 0, 0, 5},
        {"no hole fits", {{0, 3}, {10, 4}}, 5, 7, N, N, N, N, 7},
        {"no hole at all", {}, 1, 0, N, N, N, N, 0},
        {"next fit places at the rover in its hole", {{0, 10}, {50, 10}, {80, 20}}, 5, 5, 0, 0,
         80, 5, 10},
        {"next fit: the hole's rest from the rover is too small", {{0, 10}, {50, 10}, {80, 20}},
         5, 7, 0, 0, 80, 50, 55},
        {"next fit: the rover at a hole's last cell", {{0, 10}, {50, 10}}, 1, 9, 0, 0, 0, 9, 10},
        {"next fit takes a hole starting at the rover", {{0, 10}, {50, 10}}, 5, 50, 0, 0, 0, 50,
         55},
        {"next fit wraps around", {{0, 10}, {50, 10}}, 5, 60, 0, 0, 0, 0, 5},
        {"next fit wraps past holes too small", {{0, 3}, {20, 9}, {50, 4}}, 5, 30, 20, 20, 20, 20,
         25},
        {"exact fit", {{0, 7}, {10, 100}}, 7, 0, 0, 0, 10, 0, 7},
        {"nothing to place", {{0, 10}}, 0, 4, N, N, N, N, 4},
        {"more cells than memory", {{0, 1000}}, int64_t{4} * INT32_MAX, 0, N, N, N, N, 0},
    };
    for (const Row& r : rows) {
        int32_t rover = r.rover;
        kv::Placements p = kv::kv_Place(r.free, r.n, &rover);
        EXPECT_EQ(p.first, r.first) << r.what;
        EXPECT_EQ(p.best, r.best) << r.what;
        EXPECT_EQ(p.worst, r.worst) << r.what;
        EXPECT_EQ(p.next, r.next) << r.what;
        EXPECT_EQ(rover, r.roverAfter) << r.what;
    }
}

TEST(Stats, FiguresAndHistogramBuckets)
{
    struct Row {
        std::vector<Area> free;
        int64_t cells;
        int32_t holes, largest, fragmentation;
        std::vector<int32_t> histogram;
    } rows[] = {
        {{}, 0, 0, 0, -1, {}},
        {{{0, 1000}}, 1000, 1, 1000, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {{{0, 1}}, 1, 1, 1, 0, {1}},
        // Bucket k holds lengths 2^k to 2^(k+1)-1: 1 | 2 3 | 4 7 | 8.
        {{{0, 1}, {5, 2}, {9, 3}, {20, 4}, {30, 7}, {40, 8}}, 25, 6, 8, 6800, {1, 2, 2, 1}},
        // The worked figure: 1 - 800/893 = 0.10414...
        {{{0, 93}, {200, 800}}, 893, 2, 800, 1041, {0, 0, 0, 0, 0, 0, 1, 0, 0, 1}},
        // Half up: 1 - 2/3 = 0.33333 -> 3333; 1 - 1/8 = 0.875 exactly.
        {{{0, 1}, {5, 2}}, 3, 2, 2, 3333, {1, 1}},
        {{{0, 1}, {2, 7}}, 8, 2, 7, 1250, {1, 0, 1}},
        // Areas of no length are no holes.
        {{{5, 0}, {10, 3}}, 3, 1, 3, 0, {0, 1}},
    };
    for (const Row& r : rows) {
        kv::Stats s;
        kv::kv_Stats(r.free, &s);
        EXPECT_EQ(s.free, r.cells);
        EXPECT_EQ(s.holes, r.holes);
        EXPECT_EQ(s.largest, r.largest);
        EXPECT_EQ(s.fragmentation, r.fragmentation) << r.cells;
        EXPECT_EQ(s.histogram, r.histogram) << r.cells;
    }
}

TEST(Json, StringsKeepEveryByte)
{
    struct Row {
        std::string bytes;
        bool html;
        std::string json;
    } rows[] = {
        {"abc", false, "\"abc\""},
        {"\"\\\n\t\r\x01\x1f\x7f", false, "\"\\\"\\\\\\n\\t\\r\\u0001\\u001f\x7f\""},
        {std::string("a\0b", 3), false, "\"a\\u0000b\""},
        {"caf\xc3\xa9 \xf0\x9f\x98\x80", false, "\"caf\xc3\xa9 \xf0\x9f\x98\x80\""},
        {"\xff", false, "\"\\udcff\""},
        {"x\xc3", false, "\"x\\udcc3\""},                                 // cut short
        {"\xc0\xaf", false, "\"\\udcc0\\udcaf\""},                        // overlong
        {"\xe0\x80\x80", false, "\"\\udce0\\udc80\\udc80\""},             // overlong
        {"\xed\xa0\x80", false, "\"\\udced\\udca0\\udc80\""},             // a surrogate
        {"\xf4\x90\x80\x80", false, "\"\\udcf4\\udc90\\udc80\\udc80\""}, // past U+10FFFF
        {"\x80" "a", false, "\"\\udc80a\""},
        {"</script><b onclick=x>&amp;", true,
         "\"\\u003c/script\\u003e\\u003cb onclick=x\\u003e\\u0026amp;\""},
        {"\xe2\x80\xa8\xe2\x80\xa9", true, "\"\\u2028\\u2029\""},
        {"\xe2\x80\xa8<", false, "\"\xe2\x80\xa8<\""},
    };
    for (const Row& r : rows) {
        std::string out;
        kv::kv_JsonString(&out, r.bytes, r.html);
        EXPECT_EQ(out, r.json);
    }
}

// A byte is written the same wherever it stands in a run of plain text,
// whether the run is read a word or a byte at a time.
TEST(Json, EveryByteAtEveryOffsetOfAWord)
{
    for (bool html : {false, true}) {
        for (int b = 0; b < 256; b++) {
            std::string alone;
            kv::kv_JsonString(&alone, std::string(1, static_cast<char>(b)), html);
            const std::string inner = alone.substr(1, alone.size() - 2);
            for (size_t at = 0; at < 17; at++) {
                std::string bytes(20, 'a');
                bytes[at] = static_cast<char>(b);
                std::string out;
                kv::kv_JsonString(&out, bytes, html);
                ASSERT_EQ(out, "\"" + std::string(at, 'a') + inner + std::string(19 - at, 'a') + "\"")
                    << "byte " << b << " at " << at << (html ? " (html)" : "");
            }
        }
    }
}

// The same at every length that takes a different way through the
// string: bytes one by one (under a word), a word, the last word read
// back, a chunk of sixteen, chunks and what is left after them; and two
// bytes that stop the run, so that a run also starts after an escape.
TEST(Json, EveryByteAtEveryOffsetOfEveryLength)
{
    for (bool html : {false, true}) {
        for (int b = 0; b < 256; b++) {
            std::string alone;
            kv::kv_JsonString(&alone, std::string(1, static_cast<char>(b)), html);
            const std::string inner = alone.substr(1, alone.size() - 2);
            for (size_t len : {1, 2, 7, 8, 9, 15, 16, 17, 23, 24, 25, 31, 32, 33, 47, 48, 49}) {
                for (size_t at = 0; at < len; at++) {
                    std::string bytes(len, 'a');
                    bytes[at] = static_cast<char>(b);
                    bytes[len - 1 - at] = '\n';
                    std::string want(len, 'a');
                    want.replace(len - 1 - at, 1, "\\n");
                    if (at != len - 1 - at)
                        want.replace(at + (at > len - 1 - at ? 1 : 0), 1, inner);
                    std::string out = "x";
                    kv::kv_JsonString(&out, bytes, html);
                    ASSERT_EQ(out, "x\"" + want + "\"")
                        << "byte " << b << " at " << at << " of " << len << (html ? " (html)" : "");
                }
            }
        }
    }
}

// Each length of the table's fast way, its edges, and what goes to to_chars.
TEST(Json, NumbersInDecimal)
{
    struct Row {
        int64_t value;
        const char* text;
    } rows[] = {
        {0, "0"},
        {7, "7"},
        {10, "10"},
        {99, "99"},
        {100, "100"},
        {999, "999"},
        {1000, "1000"},
        {9999, "9999"},
        {10000, "10000"},
        {100001, "100001"},
        {1234567, "1234567"},
        {99999999, "99999999"},
        {100000000, "100000000"},
        {4294967295, "4294967295"},
        {-1, "-1"},
        {INT64_MAX, "9223372036854775807"},
        {INT64_MIN, "-9223372036854775808"},
    };
    for (const Row& r : rows) {
        char text[KO_DECIMAL_ROOM];
        const char* end = KO_Decimal(text, r.value);
        EXPECT_EQ(std::string(text, static_cast<size_t>(end - text)), r.text);
    }
}

// A step as recorded, with its own copies of everything.
struct Seen {
    std::string text, output, explain, json;
    kv::MemState state;
};

class Collect : public kv::Sink {
  public:
    std::vector<Seen> steps;
    std::string banners;
    void begin(const std::vector<std::string>&) override {}
    void banner(std::string_view, std::string_view output) override
    {
        banners.append(output);
    }
    void step(const kv::Step& s) override
    {
        Seen seen{std::string(s.text), std::string(s.output), s.explain, "", *s.state};
        kv::kv_JsonStep(&seen.json, s, false);
        steps.push_back(seen);
    }
    void end(uint64_t, const kv::MemState&) override {}
};

// Runs script in a fresh folder holding the load files a.txt (2+5 cells),
// b.txt (7 cells), c.txt (300 cells), d.txt (350 cells), big.txt (600 cells),
// zero.txt (no cells) and four.txt (2+1+3+1 cells), and the broken ones
// magic.txt, count.txt, ins.txt (2 cells), data.txt, over.txt (one value too
// many) and huge.txt (a size past any memory).
Collect runScript(const std::string& script)
{
    kt_TempDir dir;
    dir.write("a.txt", "8585\n2\n2 5\nRUN HALT\n#42 \"hi\n");
    dir.write("b.txt", "8585\n1\n7\nRUN\n");
    dir.write("c.txt", "8585\n1\n300\n");
    dir.write("d.txt", "8585\n1\n350\n");
    dir.write("big.txt", "8585\n1\n600\n");
    dir.write("magic.txt", "8586\n1\n3\n");
    dir.write("count.txt", "8585\n2\n3\n");
    dir.write("ins.txt", "8585\n1\n2\nRUN 5\n");
    dir.write("data.txt", "8585\n2\n1 2\nRUN\n#4294967296\n");
    dir.write("zero.txt", "8585\n1\n0\n");
    dir.write("four.txt", "8585\n4\n2 1 3 1\nRUN HALT\n");
    dir.write("over.txt", "8585\n1\n1\nHALT\n#1\n");
    dir.write("huge.txt", "8585\n1\n99999999999\n");
    dir.write("s.txt", script);
    char here[4096];
    const char* cwd = getcwd(here, sizeof here);
    Collect c;
    EXPECT_TRUE(cwd && chdir(dir.path.c_str()) == 0);
    EXPECT_TRUE(kv::kv_Trace({"s.txt"}, &c));
    EXPECT_TRUE(cwd && chdir(cwd) == 0);
    return c;
}

TEST(Trace, StepLineHoldsEveryField)
{
    Collect c = runScript("P1 LoadFile @100 \"a.txt\nP1 STORE @103 #4294967295\n");
    ASSERT_EQ(c.steps.size(), 2u);
    EXPECT_EQ(c.steps[0].json,
              "{\"type\":\"step\",\"file\":\"s.txt\",\"line\":1,\"text\":\"P1 LoadFile @100 "
              "\\\"a.txt\",\"output\":\"   1 P1 LoadFile @100 \\\"a.txt\\n\",\"error\":null,"
              "\"processes\":[{\"id\":1,\"segments\":[[100,2],[102,5]]}],"
              "\"free\":[[0,100],[107,893]],"
              "\"cells\":[[100,\"ins\",\"RUN\"],[101,\"ins\",\"HALT\"],[102,\"int\",42],"
              "[103,\"str\",\"hi\"],[104,\"empty\",null],[105,\"empty\",null],"
              "[106,\"empty\",null]],"
              "\"stats\":{\"free\":993,\"holes\":2,\"largest\":893,\"fragmentation\":0.1007,"
              "\"histogram\":[0,0,0,0,0,0,1,0,0,1]},"
              "\"request\":{\"cells\":7,\"sizes\":[2,5]},"
              "\"placements\":{\"first\":0,\"best\":0,\"worst\":0,\"next\":0},"
              "\"explain\":\"P1 took cells 100-106 (7 cells) from the free area 0-999; 0-99 "
              "and 107-999 remain free.\"}");
    // Only the changed cell, its value unsigned as stored; no request.
    EXPECT_NE(c.steps[1].json.find("\"cells\":[[103,\"int\",4294967295]]"), std::string::npos);
    EXPECT_EQ(c.steps[1].json.find("request"), std::string::npos);
}

TEST(Trace, ExplanationsOfEachKind)
{
    const std::string setup = "P1 LoadFile @0 \"b.txt\nP2 LoadFile @7 \"b.txt\n"
                              "P3 LoadFile @14 \"b.txt\nP4 LoadFile @21 \"b.txt\n";
    struct Row {
        std::string script; // its last line is explained
        std::string explain;
    } rows[] = {
        {"P1 LoadFile @0 \"b.txt\n",
         "P1 took cells 0-6 (7 cells) from the free area 0-999; 7-999 remains free."},
        {setup + "P1 LoadFile @5 \"a.txt\n", "P1 is already loaded; terminate it first."},
        {setup + "P2 TerminateProcess\n", "P2 ended: cells 7-13 freed and stand alone."},
        {setup + "P4 TerminateProcess\n",
         "P4 ended: cells 21-27 freed; joined the free area 28-999 into 21-999."},
        {setup + "P2 TerminateProcess\nP4 TerminateProcess\nP3 TerminateProcess\n",
         "P3 ended: cells 14-20 freed; joined the free areas 7-13 and 21-999 into 7-999."},
        {"P1 STORE @5 #1\n", "There is no process P1 to store into."},
        {"P1 LoadFile @100 \"a.txt\nP1 STORE @101 #1\n",
         "Cell 101 lies in P1's instruction segment 100-101, which takes no stores."},
        {"P1 LoadFile @100 \"a.txt\nP1 STORE @300 #1\n",
         "Cell 300 lies outside P1's data segments (102-106), the only cells that take "
         "stores."},
        // In the way of a process while a free area large enough exists.
        {setup + "P5 LoadFile @10 \"c.txt\n",
         "P5 needed 300 cells back to back from 10 (10-309), but P2's segment 0 (7-13) is in "
         "the way. The free area 28-999 holds 300: the address chosen failed, not memory."},
        // Enough free cells, but in pieces: fragmentation.
        {"P1 LoadFile @0 \"c.txt\nP2 LoadFile @300 \"c.txt\nP3 LoadFile @600 \"c.txt\n"
         "P1 TerminateProcess\nP4 LoadFile @0 \"d.txt\n",
         "P4 needed 350 cells back to back from 0 (0-349), but P2's segment 0 (300-599) is in "
         "the way. Memory held 400 free cells in all, enough, but the largest free area has "
         "300: the failure is fragmentation."},
        // Past the end, and not enough free anywhere.
        {"P1 LoadFile @0 \"big.txt\nP2 LoadFile @600 \"big.txt\n",
         "P2 needed 600 cells back to back from 600 (600-1199), but memory ends at cell 999. "
         "Memory held only 400 free cells in all: not enough anywhere."},
        {"P1 LoadFile @0 \"none.txt\n", "The load file \"none.txt\" is missing, unreadable or a "
                                        "folder, relative to the folder of the run."},
        {"P1 TerminateProcess\n", "There is no process P1."},
        {"P1 PrintAllMemory\n", "Only P0 may print all of memory."},
        {"   // a comment\n", "The line holds no command: only blanks or a comment."},
        {"P0 END\n", "END stops this script; the rest of its file is not read."},
        {"P1 LoadFile @0 \"b.txt\nP0 PrintProcessTable\n", ""},
        {"P1 Bogus\n", ""},
        {"P0 STORE @2000 #1\n", "Address 2000 is past the last cell, 999."},
        {"P0 LoadFile @00001000 \"b.txt\n", "Address 1000 is past the last cell, 999."},
        {"P0 STORE @999 x\n", ""},
        {"P1 LoadFile @0 \"magic.txt\n", "The load file does not begin with the line 8585, a "
                                          "count line of 1 to 4 and a line of that many plain "
                                          "sizes."},
        {"P1 LoadFile @0 \"count.txt\n", "The sizes line of the load file does not hold as "
                                          "many sizes as its count line says."},
        {"P1 LoadFile @0 \"ins.txt\n", "A value for segment 0 (2 cells) is not RUN or HALT."},
        {"P1 LoadFile @0 \"data.txt\n", "A value for segment 1 is neither a number up to "
                                         "4294967295 nor a quote and 1 to 19 characters."},
        {"P1 LoadFile @0 \"b.txt\nP2 LoadFile @7 \"b.txt\nP1 TerminateProcess\n"
         "P3 LoadFile @0 \"b.txt\n",
         "P3 took cells 0-6 (7 cells) from the free area 0-6; nothing of it remains."},
        {"P1 LoadFile @5 \"zero.txt\n",
         "P1 holds no cells: every segment of its load file is empty."},
        {"P1 LoadFile @5 \"zero.txt\nP1 TerminateProcess\n",
         "P1 held no cells; nothing went back."},
        {"P1 LoadFile @0 \"b.txt\nP1 STORE @30 #1\n",
         "Cell 30 is outside P1, which has no segment that takes stores (only those after the "
         "first do)."},
        {"P1 LoadFile @100 \"four.txt\nP1 STORE @200 #1\n",
         "Cell 200 lies outside P1's data segments (102, 103-105 and 106), the only cells that "
         "take stores."},
        {"P1 LoadFile @0 \"over.txt\n",
         "The load file holds more values than segment 0 takes (1 cells)."},
        {"P1 LoadFile @0 \"huge.txt\n",
         "The load file asks for a segment of more cells than any memory holds."},
    };
    for (const Row& r : rows) {
        Collect c = runScript(r.script);
        ASSERT_FALSE(c.steps.empty()) << r.script;
        EXPECT_EQ(c.steps.back().explain, r.explain) << r.script;
    }
}

TEST(Trace, RequestOnlyWhenTheLoaderReadTheSizes)
{
    struct Row {
        std::string script; // its last line is checked
        bool request;
    } rows[] = {
        {"P1 LoadFile @0 \"b.txt\n", true},
        {"P1 LoadFile @0 \"ins.txt\n", true},
        {"P1 LoadFile @990 \"c.txt\n", true},
        {"P1 LoadFile @0 \"b.txt\nP1 LoadFile @50 \"b.txt\n", false},
        {"P1 LoadFile @0 \"none.txt\n", false},
        {"P1 LoadFile @0 \"count.txt\n", false},
        {"P1 TerminateProcess\n", false},
    };
    for (const Row& r : rows) {
        Collect c = runScript(r.script);
        ASSERT_FALSE(c.steps.empty()) << r.script;
        EXPECT_EQ(c.steps.back().json.find("\"request\"") != std::string::npos, r.request)
            << r.script;
    }
    // A refused load does not move next fit's rover: the second load of P2
    // is placed from 0, not from 7.
    Collect c = runScript("P1 LoadFile @0 \"b.txt\nP1 LoadFile @0 \"b.txt\n"
                          "P1 TerminateProcess\nP2 LoadFile @0 \"b.txt\n");
    EXPECT_NE(c.steps[3].json.find("\"next\":7}"), std::string::npos) << c.steps[3].json;
}

// A load file read from a pipe is read once, by the loader, and still has
// its request.
TEST(Trace, LoadFromAPipeHasItsRequest)
{
    kt_TempDir dir;
    ASSERT_EQ(mkfifo((dir.path + "/p.txt").c_str(), 0600), 0);
    dir.write("s.txt", "P1 LoadFile @0 \"p.txt\n");
    std::thread writer([&dir] { dir.write("p.txt", "8585\n2\n3 4\nRUN\n"); });
    char here[4096];
    const char* cwd = getcwd(here, sizeof here);
    Collect c;
    ASSERT_TRUE(cwd && chdir(dir.path.c_str()) == 0);
    EXPECT_TRUE(kv::kv_Trace({"s.txt"}, &c));
    writer.join();
    ASSERT_EQ(chdir(cwd), 0);
    ASSERT_EQ(c.steps.size(), 1u);
    EXPECT_NE(c.steps[0].json.find("\"request\":{\"cells\":7,\"sizes\":[3,4]}"),
              std::string::npos)
        << c.steps[0].json;
}

TEST(Trace, FreeListIsTheManagersAndNextFitCarriesOver)
{
    Collect c = runScript("P1 LoadFile @0 \"b.txt\nP2 LoadFile @500 \"b.txt\n"
                          "P1 TerminateProcess\nP3 LoadFile @0 \"c.txt\n");
    ASSERT_EQ(c.steps.size(), 4u);
    EXPECT_EQ(c.steps[1].state.free, (std::vector<Area>{{7, 493}, {507, 493}}));
    EXPECT_EQ(c.steps[2].state.free, (std::vector<Area>{{0, 500}, {507, 493}}));
    // Next fit: 0 for the first load (rover 7), 7 for the second (rover 14);
    // then the rest of the free area 0-499 from the rover, 14-499, takes 300.
    EXPECT_NE(c.steps[1].json.find("\"next\":7}"), std::string::npos) << c.steps[1].json;
    EXPECT_NE(c.steps[3].json.find("\"placements\":{\"first\":0,\"best\":507,\"worst\":0,"
                                   "\"next\":14}"),
              std::string::npos)
        << c.steps[3].json;
}

// Every event written afresh, one after the other, with no kept text.
class Fresh : public kv::Sink {
  public:
    std::string json;
    void begin(const std::vector<std::string>& files) override
    {
        kv::kv_JsonMeta(&json, files, false);
        json += '\n';
    }
    void banner(std::string_view file, std::string_view output) override
    {
        kv::kv_JsonBanner(&json, file, output, false);
        json += '\n';
    }
    void step(const kv::Step& s) override
    {
        kv::kv_JsonStep(&json, s, false);
        json += '\n';
    }
    void end(uint64_t steps, const kv::MemState&) override
    {
        kv::kv_JsonEnd(&json, steps);
        json += '\n';
    }
};

// The JSON Lines sink keeps text from step to step and gathers its lines in
// blocks: over several blocks, two scripts with their banners, loads,
// terminations, stores and reports, it writes what the events written
// afresh make.
TEST(Json, LinesSinkWritesWhatEachEventMakesAfresh)
{
    kt_TempDir dir;
    dir.write("a.txt", "8585\n2\n2 5\nRUN HALT\n#42 \"hi\n");
    std::string script;
    for (int i = 0; i < 400; i++) {
        const int at = i % 7 * 10;
        script += "P1 LoadFile @" + std::to_string(at) + " \"a.txt\nP1 STORE @" +
                  std::to_string(at + 3) + " \"line " +
                  std::to_string(i) + "\nP1 STORE @0 #1\nP0 PrintAllMemory\n"
                  "P1 PrintProcessMemory\n// a comment\nP1 TerminateProcess\n";
    }
    dir.write("s.txt", script);
    char here[4096];
    const char* cwd = getcwd(here, sizeof here);
    ASSERT_TRUE(cwd && chdir(dir.path.c_str()) == 0);
    Fresh fresh;
    EXPECT_TRUE(kv::kv_Trace({"s.txt", "s.txt"}, &fresh));
    std::FILE* fp = std::tmpfile();
    ASSERT_NE(fp, nullptr);
    {
        kv::BlockWriter writer(fp);
        kv::JsonLinesSink sink(&writer);
        EXPECT_TRUE(kv::kv_Trace({"s.txt", "s.txt"}, &sink));
        writer.flush(true);
        EXPECT_EQ(writer.error(), 0);
    }
    ASSERT_EQ(chdir(cwd), 0);
    std::string out(static_cast<size_t>(std::ftell(fp)), '\0');
    std::rewind(fp);
    ASSERT_EQ(std::fread(&out[0], 1, out.size(), fp), out.size());
    std::fclose(fp);
    EXPECT_GT(out.size(), 3 * kv::kWriteBlock);
    EXPECT_TRUE(out == fresh.json);
}

TEST(Page, PlaceholdersFilledAndTraceCannotCloseItsElement)
{
    const std::string page(reinterpret_cast<const char*>(kv::kv_PageBytes), kv::kv_PageSize);
    for (const char* place : {"/*@KELMEM_TRACE@*/", "/*@KELMEM_OPTIONS@*/",
                              "<!--@KELMEM_NOSCRIPT@-->"}) {
        size_t at = page.find(place);
        ASSERT_NE(at, std::string::npos) << place;
        EXPECT_EQ(page.find(place, at + 1), std::string::npos) << place << " twice";
    }
    kt_TempDir dir;
    dir.write("a.txt", "8585\n2\n1 2\nRUN\n\"</script>\n");
    dir.write("s.txt", "P1 LoadFile @0 \"a.txt\nP1 STORE @2 \"<b>&\xe2\x80\xa8\n"
                       "P2 LoadFile @9 \"</script><i>\n");
    char here[4096];
    const char* cwd = getcwd(here, sizeof here);
    ASSERT_TRUE(cwd && chdir(dir.path.c_str()) == 0);
    kv::HtmlSink sink;
    ASSERT_TRUE(kv::kv_Trace({"s.txt"}, &sink));
    ASSERT_EQ(chdir(cwd), 0);
    std::FILE* fp = std::tmpfile();
    std::string error;
    kv::BlockWriter writer(fp);
    ASSERT_TRUE(sink.finish(&writer, true, &error)) << error;
    std::string out(static_cast<size_t>(std::ftell(fp)), '\0');
    std::rewind(fp);
    ASSERT_EQ(std::fread(&out[0], 1, out.size(), fp), out.size());
    std::fclose(fp);
    // Everything around the places is the template's, byte for byte.
    const size_t trace = page.find("/*@KELMEM_TRACE@*/");
    ASSERT_EQ(out.compare(out.size() - (page.size() - trace - 18), std::string::npos,
                          page.substr(trace + 18)),
              0);
    const size_t begin = out.find("[{\"type\":\"meta\"");
    const size_t end = out.find("{\"type\":\"end\",\"steps\":3}]");
    ASSERT_NE(begin, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    const std::string json = out.substr(begin, end - begin);
    EXPECT_EQ(json.find_first_of("<>&"), std::string::npos);
    EXPECT_EQ(json.find("\xe2\x80\xa8"), std::string::npos);
    EXPECT_NE(json.find("\\u003c/script\\u003e"), std::string::npos);
    EXPECT_NE(out.find("{\"quiz\":true}"), std::string::npos);
    EXPECT_NE(out.find("<tr><td>P1</td><td>0, 1-2</td></tr>"), std::string::npos);
}

} // namespace
