// The runner's own means behind the public contracts: numbers formatted as
// printf would, a stream output that gathers its text in a block, the grammar
// read from tokens in place agreeing with the pattern tables, and echoes of
// lines longer than the runner's buffer.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "KelOut.h"
#include "KelParseCmd.h"
#include "kelparse.h"
#include "test_util.h"

namespace {

std::string fileText(std::FILE* fp)
{
    std::fflush(fp);
    std::rewind(fp);
    std::string text;
    char block[4096];
    size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, fp)) > 0)
        text.append(block, got);
    return text;
}

// Every digit count, both signs, the extremes, and widths past the padding
// limit: KO_Int writes what "%*d" writes, padded to at most 32 columns.
TEST(HotPath, NumbersMatchPrintfOverDigitCountsAndWidths)
{
    std::vector<int64_t> values = {0, INT32_MAX, INT32_MIN, INT32_MIN + 1};
    for (int64_t p = 1; p <= INT32_MAX; p *= 10) {
        for (int64_t v : {p - 1, p, p + 1, 7 * p + 3}) {
            values.push_back(v);
            values.push_back(-v);
        }
    }
    for (int64_t wide : values) {
        if (wide < INT32_MIN || wide > INT32_MAX)
            continue;
        const auto value = static_cast<int32_t>(wide);
        for (int32_t width : {0, 1, 3, 4, 11, 12, 31, 32, 40}) {
            char want[64];
            int n = std::snprintf(want, sizeof want, "%*d", std::min(width, 32), value);
            KelOut out = {};
            KO_Int(&out, value, width);
            EXPECT_EQ(std::string(out.buf, out.len), std::string(want, static_cast<size_t>(n)))
                << value << " in " << width;
            KO_Free(&out);
        }
    }
}

// Pieces that fit, one that fills the block, and one larger than the block
// reach the stream whole and in order, in whole blocks until the flush; a
// block of no bytes makes a stream; a failed write is flagged.
TEST(HotPath, GatheringStreamKeepsOrderAcrossItsBlock)
{
    std::FILE* fp = std::tmpfile();
    ASSERT_NE(fp, nullptr);
    char block[8];
    KelOut out;
    KO_InitGather(&out, fp, block, sizeof block);
    const std::vector<std::string> pieces = {"abc", "de", "fgh", "i", "0123456789abcdef", "xy", ""};
    std::string all;
    for (const std::string& p : pieces) {
        KO_Write(&out, p.data(), p.size());
        all += p;
        EXPECT_LE(out.len, sizeof block);
        EXPECT_EQ(fileText(fp).size() % sizeof block, 0U) << "after " << p;
    }
    EXPECT_EQ(fileText(fp).size() + out.len, all.size());
    KO_Flush(&out);
    EXPECT_EQ(out.len, 0U);
    EXPECT_EQ(fileText(fp), all);
    EXPECT_EQ(out.failed, 0);
    std::fclose(fp);

    kt_TempDir dir;
    std::FILE* readOnly = std::fopen(dir.write("r.txt", "").c_str(), "r");
    ASSERT_NE(readOnly, nullptr);
    KelOut bad;
    KO_InitGather(&bad, readOnly, block, sizeof block);
    KO_Write(&bad, "0123456789", 10);
    KO_Flush(&bad);
    EXPECT_EQ(bad.failed, 1);
    std::fclose(readOnly);

    std::FILE* direct = std::tmpfile();
    ASSERT_NE(direct, nullptr);
    KelOut none;
    KO_InitGather(&none, direct, block, 0);
    KO_Write(&none, "0123456789", 10);
    EXPECT_EQ(fileText(direct), "0123456789");
    std::fclose(direct);
}

// Lines made with KelLine land as KO_Write would put them, in order with
// other writes: in place in a gathering stream's block (in its own bytes
// when the block is too full, then filling it) or in memory (grown), or in the line's own bytes for a
// stream and a block smaller than a line; a line longer than KO_LINE is
// written whole, in pieces.
TEST(HotPath, LinesKeepOrderWithWrites)
{
    std::FILE* fp = std::tmpfile();
    std::FILE* fp2 = std::tmpfile();
    std::FILE* fp3 = std::tmpfile();
    ASSERT_TRUE(fp && fp2 && fp3);
    char block[KO_LINE + 8];
    char small[8];
    KelOut gathering;
    KO_InitGather(&gathering, fp, block, sizeof block);
    KelOut tiny;
    KO_InitGather(&tiny, fp2, small, sizeof small);
    KelOut stream;
    KO_InitStream(&stream, fp3);
    KelOut memory;
    KO_InitMemory(&memory);
    const std::string longLine(KO_LINE + 44, 'x');
    std::string want;
    for (KelOut* out : {&gathering, &tiny, &stream, &memory}) {
        want.clear();
        for (int round = 0; round < 3; round++) {
            KO_Write(out, "ab", 2);
            KelLine ln;
            KO_LineBegin(&ln, out);
            KO_LineLit(&ln, "cd");
            KO_LineInt(&ln, -42, 5);
            KO_LinePut(&ln, longLine.data(), round == 1 ? longLine.size() : 3);
            KO_LineLit(&ln, "\n");
            KO_LineEnd(&ln);
            want += "abcd  -42" + longLine.substr(0, round == 1 ? longLine.size() : 3) + "\n";
        }
        KO_Write(out, "m", 1);
        want += "m";
    }
    KO_Flush(&gathering);
    KO_Flush(&tiny);
    EXPECT_EQ(fileText(fp), want);
    EXPECT_EQ(fileText(fp2), want);
    EXPECT_EQ(fileText(fp3), want);
    EXPECT_EQ(std::string(memory.buf, memory.len), want);
    KO_Free(&memory);
    std::fclose(fp);
    std::fclose(fp2);
    std::fclose(fp3);
}

// A run writes the same bytes whether its manager's text goes to standard
// output, to a stream of its own, or to memory; a stream's failure reaches
// the manager's KelOut.
TEST(HotPath, RunGivesTheSameTextToEveryKindOfOutput)
{
    kt_TempDir dir;
    std::string script;
    for (int i = 0; i < 3000; i++)
        script += "P" + std::to_string(i % 12) + " STORE @" + std::to_string(i % 1003) + " #" +
                  std::to_string(i) + "\n  // note\n\nP0 PrintProcessTable\n";
    std::string path = dir.write("s.txt", script + "P0 END\nP0 PrintProcessTable\n");
    const char* files[] = {path.c_str()};
    auto run = [&](KelOut* out) {
        KelMM* kmm = KMM_Create(1000);
        EXPECT_NE(kmm, nullptr);
        kmm->out = out;
        std::string printed = kt_Capture([&] { KMM_RunFiles(kmm, 1, files, nullptr); });
        EXPECT_EQ(kmm->out, out);
        KMM_Free(kmm);
        std::free(kmm);
        return printed;
    };
    const std::string plain = run(nullptr);
    EXPECT_GT(plain.size(), 200000U); // several blocks' worth
    std::FILE* fp = std::tmpfile();
    ASSERT_NE(fp, nullptr);
    KelOut stream;
    KO_InitStream(&stream, fp);
    EXPECT_EQ(run(&stream), "");
    EXPECT_EQ(fileText(fp), plain);
    EXPECT_EQ(stream.failed, 0);
    std::fclose(fp);
    KelOut memory = {};
    EXPECT_EQ(run(&memory), "");
    EXPECT_EQ(std::string(memory.buf, memory.len), plain);
    KO_Free(&memory);
    std::FILE* readOnly = std::fopen(path.c_str(), "r");
    ASSERT_NE(readOnly, nullptr);
    KelOut broken;
    KO_InitStream(&broken, readOnly);
    run(&broken);
    EXPECT_EQ(broken.failed, 1);
    std::fclose(readOnly);
}

// What the pattern tables say of a STORE line: it breaks the grammar unless
// its tokens are a process 0-9, an address below 1000 and an integer or a
// string of at most 20 characters.
bool tablesAcceptStore(const std::string& p, const std::string& a, const std::string& v)
{
    uint32_t n = 0;
    char text[KP_TOKEN_MAX + 1];
    if (DetermineType(p.c_str(), Arguments) != TYPE_PROCESS ||
        ReadFromType(TYPE_PROCESS, p.c_str(), &n) != 0 || n > 9)
        return false;
    if (DetermineType(a.c_str(), Arguments) != TYPE_ADDRESS ||
        ReadFromType(TYPE_ADDRESS, a.c_str(), &n) != 0 || n >= 1000)
        return false;
    int32_t type = DetermineType(v.c_str(), Arguments);
    if (type == TYPE_INTEGER)
        return ReadFromType(TYPE_INTEGER, v.c_str(), &n) == 0;
    return type == TYPE_STRING && ReadFromType(TYPE_STRING, v.c_str(), text) == 0;
}

// Every combination of awkward tokens: the grammar, read in place, accepts a
// STORE exactly when the pattern tables do.
TEST(HotPath, GrammarInPlaceAgreesWithThePatternTables)
{
    const std::vector<std::string> procs = {"P1",  "P01", "P", "P1x", "p1", "P10", "P4294967296",
                                            "@1", "\"P1", "P0" + std::string(90, '0') + "1"};
    const std::vector<std::string> addrs = {"@5",    "@",          "@05", "@999", "@1000", "@-1",
                                            "@4294967295", "@4294967296", "#5",  "@5a"};
    const std::vector<std::string> values = {
        "#0",  "#4294967295", "#4294967296", "#", "#1a", "#-1", "42", "\"a", "\"",
        "\"" + std::string(20, 's'), "\"" + std::string(21, 's'), "\"a\"b", "P1", "@5", "##1"};
    KelMM* kmm = KMM_Create(1000);
    ASSERT_NE(kmm, nullptr);
    int32_t accepted = 0;
    for (const std::string& p : procs) {
        for (const std::string& a : addrs) {
            for (const std::string& v : values) {
                const std::string line = p + " STORE " + a + " " + v + "\n";
                ErrMessage_t rc = ERR_NONE;
                kt_Capture([&] { rc = KMM_ParseLine(line.c_str(), kmm, 1); });
                const bool passed = rc != ERR_INVALIDINPUT;
                EXPECT_EQ(passed, tablesAcceptStore(p, a, v)) << line;
                accepted += passed ? 1 : 0;
            }
        }
    }
    EXPECT_GT(accepted, 0);
    KMM_Free(kmm);
    std::free(kmm);
}

// Lines far longer than the runner's 160 bytes, with tokens cut at 99
// characters and runs of white space: the echo is the number and Explode's
// tokens, each after one blank.
TEST(HotPath, EchoOfLongLinesMatchesTheTokenList)
{
    const std::vector<std::string> lines = {
        std::string(250, 'x'),
        std::string(1000, 'y') + " z",
        [] {
            std::string s;
            for (int i = 0; i < 400; i++)
                s += std::to_string(i) + (i % 3 ? " " : "\t \v ");
            return s;
        }(),
        "P0 PrintProcessTable " + std::string(300, 'q') + " // " + std::string(200, 'c'),
        // 900 characters of tokens one blank apart: one run longer than the echo's buffer.
        [] {
            std::string s;
            for (int i = 0; i < 300; i++)
                s += "ab ";
            return s;
        }(),
    };
    for (const std::string& line : lines) {
        std::string expected = "  12";
        char** list = Explode(line.c_str());
        ASSERT_NE(list, nullptr);
        for (char** t = list; *t; t++)
            expected += std::string(" ") + *t;
        FreeStrList(list);
        std::string echo = kt_Capture([&] { KMM_ParseLine(line.c_str(), nullptr, 12); });
        EXPECT_EQ(echo, expected + "\n") << line.substr(0, 40);
    }
}

} // namespace

// A script of 150,000 lines, most short, some of up to 400 bytes (over the
// 159 of a piece, straddling the runner's read blocks), with NULs, carriage
// returns and no final line feed, is cut into exactly the pieces fgets into
// 160 bytes makes; each piece that reaches the interpreter gets the next
// number, and its echo begins with that number as "%4d" prints it, across
// the widths of 4 to 6 digits.
TEST(HotPath, ScriptPiecesAndLineNumbersMatchFgets)
{
    std::string script;
    uint32_t seed = 12345;
    for (int i = 0; i < 150000; i++) {
        seed = seed * 1103515245 + 12345;
        const size_t len = (seed >> 8) % 16 == 0 ? (seed >> 12) % 401 : (seed >> 12) % 12;
        std::string line(len, 'a');
        for (size_t i = 0; i < len; i++)
            line[i] = "ab c\t\r\0P1 #@"[(seed >> (i % 24)) % 12];
        script += line + "\n";
    }
    script += "P0 PrintProcessTable"; // the end of the file ends this line
    kt_TempDir dir;
    const std::string path = dir.write("pieces.txt", script);

    std::vector<std::string> want;
    std::FILE* fp = std::fopen(path.c_str(), "r");
    ASSERT_NE(fp, nullptr);
    char buf[160];
    while (std::fgets(buf, sizeof buf, fp)) {
        if (std::strlen(buf) >= 2)
            want.emplace_back(buf);
    }
    std::fclose(fp);
    ASSERT_GT(want.size(), 100000U);

    struct Seen {
        KelOut* out; // holds the text of the latest line only
        std::vector<std::string> pieces;
        int32_t wrongNumbers;
        size_t echoed;
    } seen = {nullptr, {}, 0, 0};
    KelMM* kmm = KMM_Create(1000);
    ASSERT_NE(kmm, nullptr);
    KelOut memory = {};
    kmm->out = &memory;
    seen.out = &memory;
    KelObserver obs = {[](void* ctx, const KelEvent* ev) {
                           auto* s = static_cast<Seen*>(ctx);
                           s->pieces.emplace_back(ev->text);
                           char label[16];
                           const int n = std::snprintf(label, sizeof label, "%4d ", ev->line);
                           const std::string text(s->out->buf, s->out->len);
                           // A piece of white space only is numbered, not echoed:
                           // its text is its error line alone.
                           const bool echoed = text.compare(0, 7, "*******") != 0;
                           if (ev->line != static_cast<int32_t>(s->pieces.size()) ||
                               (echoed && text.compare(0, static_cast<size_t>(n), label) != 0))
                               s->wrongNumbers++;
                           s->echoed += echoed ? 1 : 0;
                           s->out->len = 0;
                       },
                       &seen};
    EXPECT_EQ(KMM_RunFile(path.c_str(), kmm, &obs), 0);
    EXPECT_EQ(seen.pieces, want);
    EXPECT_EQ(seen.wrongNumbers, 0);
    EXPECT_GT(seen.echoed, 100000U);
    KO_Free(&memory);
    KMM_Free(kmm);
    std::free(kmm);
}
