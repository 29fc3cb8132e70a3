// The output seam: a manager's text can go to memory instead of standard
// output, two managers keep their text apart, and a run tells its observer
// of every banner and line once the line's text is out.

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "KelLoad.h"
#include "KelOut.h"
#include "KelParseCmd.h"
#include "test_util.h"

namespace {

std::string kept(const KelOut& out)
{
    return std::string(out.buf ? out.buf : "", out.len);
}

TEST(Output, NumbersAsPrintfWouldWriteThem)
{
    struct Row {
        int32_t value;
        int32_t width;
        const char* text;
    } rows[] = {
        {0, 0, "0"},
        {7, 4, "   7"},
        {-1, 0, "-1"},
        {12345, 4, "12345"},
        {-42, 5, "  -42"},
        {INT32_MAX, 0, "2147483647"},
        {INT32_MIN, 0, "-2147483648"},
        {INT32_MIN, 14, "   -2147483648"},
    };
    for (const Row& r : rows) {
        KelOut out = {};
        KO_Int(&out, r.value, r.width);
        EXPECT_EQ(kept(out), r.text) << r.value << " in " << r.width;
        KO_Free(&out);
    }
}

TEST(Output, TwoManagersKeepTheirTextApart)
{
    kt_TempDir dir;
    std::string script = dir.write("s.txt", "P0 PrintProcessTable\nP3 PrintAllMemory\n");
    KelOut outA = {};
    KelOut outB = {};
    KelMM* a = KMM_Create(1000);
    KelMM* b = KMM_Create(1000);
    ASSERT_TRUE(a && b);
    a->out = &outA;
    b->out = &outB;
    std::string printed = kt_Capture([&] {
        KMM_ParseFile(script.c_str(), a);
        KMM_PrintProcessTable(b, 0);
    });
    EXPECT_EQ(printed, "");
    KelMM* plain = KMM_Create(1000);
    ASSERT_NE(plain, nullptr);
    std::string table = kt_Capture([&] { KMM_PrintProcessTable(plain, 0); });
    std::string run = kt_Capture([&] { KMM_ParseFile(script.c_str(), plain); });
    EXPECT_EQ(kept(outA), run);
    EXPECT_EQ(kept(outB), table);
    for (KelMM* k : {a, b, plain}) {
        KMM_Free(k);
        std::free(k);
    }
    KO_Free(&outA);
    KO_Free(&outB);
}

struct Seen {
    KelOut* out;
    std::vector<std::string> events; // kind, file, line, error, and the text written for it
};

void record(void* ctx, const KelEvent* ev)
{
    auto* seen = static_cast<Seen*>(ctx);
    std::string text(seen->out->buf, seen->out->len);
    seen->out->len = 0;
    seen->events.push_back((ev->kind == EVENT_BANNER ? "banner " : "line ") +
                           std::string(ev->file) + " " + std::to_string(ev->line) + " " +
                           std::to_string(ev->error) + " " + (ev->text ? ev->text : "-") + "|" +
                           text);
}

TEST(Output, ObserverSeesEveryBannerAndLineWithItsText)
{
    kt_TempDir dir;
    std::string one = dir.write("one.txt", "P0 PrintAllMemory\n\n  \nP1 END\nP0 END\n");
    std::string two = dir.write("two.txt", "P9 TerminateProcess");
    std::string missing = dir.path + "/none.txt";
    KelOut out = {};
    KelMM* kmm = KMM_Create(1000);
    ASSERT_NE(kmm, nullptr);
    kmm->out = &out;
    Seen seen = {&out, {}};
    KelObserver obs = {record, &seen};
    const char* files[] = {one.c_str(), two.c_str(), missing.c_str()};
    KMM_RunFiles(kmm, 3, files, &obs);
    const std::string frame = "+--------------------------------------------------\n";
    std::vector<std::string> expected = {
        "banner " + one + " 0 12 -|---------------Parsing " + one + "------------------------\n",
        "line " + one + " 1 12 P0 PrintAllMemory\n|   1 P0 PrintAllMemory\n" + frame +
            "| Memory Contents:\n" + frame,
        "line " + one + " 2 -1   \n|******* ERROR: Unknown error.\n",
        "line " + one +
            " 3 11 P1 END\n|   3 P1 END\n******* ERROR: END command reached, parser stopped\n",
        "banner " + one + " 0 12 -|---------------Couldn't parse " + one + "-----------------\n",
        "banner " + two + " 0 12 -|---------------Parsing " + two + "------------------------\n",
        "line " + two +
            " 1 9 P9 TerminateProcess|   1 P9 TerminateProcess\n"
            "******* ERROR: Specified process does not exist\n",
        "banner " + two + " 0 12 -|---------------Parsed " + two + "-------------------------\n",
        "banner " + missing + " 0 12 -|---------------Parsing " + missing +
            "------------------------\n",
        "banner " + missing + " 0 12 -|---------------Couldn't parse " + missing +
            "-----------------\n",
    };
    EXPECT_EQ(seen.events, expected);
    KMM_Free(kmm);
    std::free(kmm);
    KO_Free(&out);
}

} // namespace

namespace {

void keepCommand(void* ctx, const KelEvent* ev)
{
    auto* got = static_cast<std::vector<std::string>*>(ctx);
    if (ev->kind != EVENT_LINE)
        return;
    const KelCommand* c = ev->command;
    got->push_back(c ? std::to_string(c->command) + " P" + std::to_string(c->process) + " @" +
                           std::to_string(c->addr) + " " + std::to_string(c->valueType) + " " +
                           std::to_string(c->value) + " " + c->text
                     : "none");
}

// The observer learns the command each line carried out, whether it
// succeeded or not, and nothing for a line that broke the grammar.
TEST(Output, ObserverLearnsTheCommandOfEachLine)
{
    kt_TempDir dir;
    std::string script = dir.write("s.txt", "P1 LoadFile @100 \"none.txt\n"
                                            "P1 STORE @999 #4294967295\n"
                                            "P2 STORE @5 \"hi\"\n"
                                            "P1 PrintAllMemory\n"
                                            "P1 STORE @1000 #1\n"
                                            "P0 END of it\n");
    KelOut out = {};
    KelMM* kmm = KMM_Create(1000);
    ASSERT_NE(kmm, nullptr);
    kmm->out = &out;
    std::vector<std::string> got;
    KelObserver obs = {keepCommand, &got};
    const char* files[] = {script.c_str()};
    KMM_RunFiles(kmm, 1, files, &obs);
    std::vector<std::string> expected = {
        "0 P1 @100 -1 0 none.txt",
        "3 P1 @999 3 4294967295 ",
        "3 P2 @5 4 0 hi\"",
        "5 P1 @0 -1 0 ",
        "none",
        "6 P0 @0 -1 0 ",
    };
    EXPECT_EQ(got, expected);
    KMM_Free(kmm);
    std::free(kmm);
    KO_Free(&out);
}

// What a LoadFile's observer learns of the header the loader read.
struct LoadSeen {
    ErrMessage_t error = ERR_NONE;
    std::vector<int32_t> sizes;
    int32_t nSegs = -1;
};

void seeLoad(void* ctx, const KelEvent* ev)
{
    auto* seen = static_cast<LoadSeen*>(ctx);
    if (ev->kind != EVENT_LINE || !ev->command)
        return;
    seen->error = ev->error;
    seen->nSegs = ev->command->nSegs;
    seen->sizes.assign(ev->command->sizes, ev->command->sizes + ev->command->nSegs);
}

TEST(Output, LoaderHandsTheHeaderItReadToTheObserver)
{
    kt_TempDir dir;
    struct Row {
        const char* content; // of h.txt; nullptr: no such file
        bool loadedBefore;   // P1 exists before the line
        ErrMessage_t err;
        std::vector<int32_t> sizes; // empty: nSegs 0
    } rows[] = {
        {"8585\n2\n3 4\nRUN\n", false, ERR_NONE, {3, 4}},
        {"8585\n4\n0 1 2 3\n", false, ERR_NONE, {0, 1, 2, 3}},
        {"8585\n1\n1\nRUN HALT\n", false, ERR_DATAOVERFLOW, {1}},
        {"8585\n1\n2000\n", false, ERR_INSUFFICIENTMEM, {2000}},
        {"8586\n1\n3\n", false, ERR_INVALIDFILE, {}},
        {"8585\n2\n3\n", false, ERR_INVALIDINSTRUCTION, {}},
        {"8585\n2\n3 x\n", false, ERR_INVALIDFILE, {}},
        {"8585\n1\n2147483648\n", false, ERR_INSUFFICIENTMEM, {}},
        {"8585\n1\n3\n", true, ERR_PROCESSEXISTS, {}},
        {nullptr, false, ERR_NOFILE, {}},
    };
    char here[4096];
    const char* cwd = getcwd(here, sizeof here);
    ASSERT_TRUE(cwd && chdir(dir.path.c_str()) == 0);
    dir.write("s.txt", "P1 LoadFile @0 \"h.txt\n");
    for (const Row& r : rows) {
        std::remove("h.txt");
        if (r.content)
            dir.write("h.txt", r.content);
        KelMM* kmm = KMM_Create(1000);
        ASSERT_NE(kmm, nullptr);
        KelOut out = {};
        kmm->out = &out;
        if (r.loadedBefore) {
            ASSERT_EQ(KelMM_Load(kmm, 1, "h.txt", 500), ERR_NONE);
        }
        LoadSeen seen;
        const KelObserver obs = {&seeLoad, &seen};
        EXPECT_EQ(KMM_RunFile("s.txt", kmm, &obs), 0);
        EXPECT_EQ(seen.error, r.err) << (r.content ? r.content : "missing");
        EXPECT_EQ(seen.nSegs, static_cast<int32_t>(r.sizes.size())) << r.content;
        EXPECT_EQ(seen.sizes, r.sizes) << (r.content ? r.content : "missing");
        KMM_Free(kmm);
        std::free(kmm);
        KO_Free(&out);
    }
    ASSERT_EQ(chdir(cwd), 0);
}

} // namespace
