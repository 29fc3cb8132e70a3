// What the public functions do with arguments that the commands never pass
// them: null pointers, addresses outside memory, a cell whose instruction
// has no name, output that cannot be written, areas whose join would
// overflow. Each row calls one function and says what must come of it.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <functional>
#include <string>

#include "KelLoad.h"
#include "KelMem.h"
#include "KelOut.h"
#include "KelParseCmd.h"
#include "kelparse.h"
#include "test_util.h"

namespace {

// A manager holding process 1 with segments {100, 3} and {103, 4}.
struct Machine {
    KelMM* kmm = KMM_Create(1000);
    Machine()
    {
        static const int32_t sizes[] = {3, 4};
        KMM_AllocateProcessAt(kmm, 1, 100, 2, sizes);
    }
    ~Machine()
    {
        KMM_Free(kmm);
        std::free(kmm);
    }
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;
};

struct Row {
    const char* what;
    std::function<bool()> holds;
};

std::string printed(const std::function<void()>& f)
{
    return kt_Capture(f);
}

// A script of one line in a scratch folder; the folder lives as long as the
// test program.
std::string oneLineScript()
{
    static kt_TempDir dir;
    return dir.write("one.txt", "P1 PrintProcessTable\n");
}

bool observerWithoutCallback()
{
    Machine m;
    const KelObserver obs = {nullptr, nullptr};
    std::string out;
    int32_t rc = 0;
    out = printed([&] { rc = KMM_RunFile(oneLineScript().c_str(), m.kmm, &obs); });
    return rc == 0 && out.rfind("   1 P1 PrintProcessTable\n", 0) == 0;
}

// Two areas that touch but whose join would not fit in int32_t stay apart.
bool unjoinable(int32_t pos, int32_t len, int32_t len2)
{
    SegList* list = KMM_CreateSegList(pos, len, nullptr, nullptr);
    const int32_t end = static_cast<int32_t>(static_cast<int64_t>(pos) + len);
    KMM_AppendSegList(list, KMM_CreateSegList(end, len2, nullptr, nullptr));
    list = KMM_MergeSegList(list);
    bool apart = list->next != nullptr && list->seg.len == len && list->next->seg.len == len2;
    KMM_FreeSegList(list);
    return apart;
}

const Row kRows[] = {
    {"stores outside memory are address errors",
     [] {
         Machine m;
         return KMM_StoreInteger(m.kmm, 1, -1, 5) == ERR_INVALIDADDRESS &&
                KMM_StoreInteger(m.kmm, 1, 1000, 5) == ERR_INVALIDADDRESS &&
                KMM_StoreString(m.kmm, 1, 103, nullptr) == ERR_UNKNOWN;
     }},
    {"PrintMem prints nothing without a manager or outside memory",
     [] {
         Machine m;
         return printed([&] {
                    KMM_PrintMem(nullptr, 0);
                    KMM_PrintMem(m.kmm, -1);
                    KMM_PrintMem(m.kmm, 1000);
                })
             .empty();
     }},
    {"an instruction without a name is reported as an unknown type",
     [] {
         Machine m;
         m.kmm->mem[100].instruction.value = static_cast<InstructionType_e>(7);
         m.kmm->mem[100].type = DATA_INSTRUCTION;
         return printed([&] {
                    KMM_PrintMem(m.kmm, 100);
                }).rfind("|  100 Unknown mem type 3, ", 0) == 0;
     }},
    {"kept text grows past its first block at once, and again",
     [] {
         KelOut out = {};
         std::string big(10000, 'x');
         KO_Write(&out, big.data(), big.size());
         KO_Write(&out, big.data(), big.size());
         bool ok =
             out.len == 2 * big.size() && std::string(out.buf, out.len) == big + big && !out.failed;
         KO_Free(&out);
         KO_Free(nullptr);
         return ok;
     }},
    {"text goes to a stream; one that refuses it marks the output failed",
     [] {
         std::FILE* ro = std::fopen("/dev/null", "r");
         std::FILE* rw = std::tmpfile();
         KelOut bad;
         KO_InitStream(&bad, ro);
         KelOut good;
         KO_InitStream(&good, rw);
         KO_Puts(&bad, "lost");
         KO_Puts(&good, "kept");
         char buf[8] = {};
         std::rewind(rw);
         bool ok = std::fread(buf, 1, sizeof buf, rw) == 4 && std::string(buf) == "kept";
         std::fclose(ro);
         std::fclose(rw);
         return ok && bad.failed != 0 && good.failed == 0 && good.len == 0;
     }},
    {"ReadFromType refuses null, empty and trailing characters",
     [] {
         uint32_t v = 0;
         return ReadFromType(TYPE_PROCESS, nullptr, &v) == -1 &&
                ReadFromType(TYPE_PROCESS, "P1", nullptr) == -1 &&
                ReadFromType(TYPE_PROCESS, "", &v) == -1 &&
                ReadFromType(TYPE_PROCESS, "P1x", &v) == -1;
     }},
    {"ReadDecimal refuses trailing characters and numbers above max",
     [] {
         uint32_t v = 3;
         return ReadDecimal("12x", 100, &v) == -1 && ReadDecimal("99", 10, &v) == -1 && v == 3;
     }},
    {"a run without a script name, manager or file list does nothing",
     [] {
         Machine m;
         const char* files[] = {"x.txt"};
         return printed([&] {
                    KMM_RunFiles(nullptr, 1, files, nullptr);
                    KMM_RunFiles(m.kmm, 1, nullptr, nullptr);
                }).empty() &&
                KMM_RunFile(nullptr, m.kmm, nullptr) == -1;
     }},
    {"a run without a manager answers every line with Unknown error",
     [] {
         std::string out = printed([] { KMM_RunFile(oneLineScript().c_str(), nullptr, nullptr); });
         return out == "   1 P1 PrintProcessTable\n******* ERROR: Unknown error.\n";
     }},
    {"an observer without a callback is not called", observerWithoutCallback},
    {"every code has its text; a code past ERR_NONE is an unknown error",
     [] {
         return KMM_ErrorText(ERR_NONE) == nullptr &&
                std::string(KMM_ErrorText(ERR_UNKNOWN)) == "Unknown error." &&
                std::string(KMM_ErrorText(ERR_PARSEEND)) == ErrMessages[ERR_PARSEEND] &&
                std::string(KMM_ErrorText(static_cast<ErrMessage_t>(13))) == "Unknown error.";
     }},
    {"lines that fill the echo's buffer exactly, or more than fill it, are echoed whole",
     [] {
         Machine m;
         std::string full;
         for (int i = 0; i < 63; i++) // "   7" and 63 times " abc": 256 bytes
             full += " abc";
         std::string longer = full + full;
         std::string out = printed([&] {
             KMM_ParseLine(full.c_str(), m.kmm, 7);
             KMM_ParseLine(longer.c_str(), m.kmm, 8);
         });
         return out == "   7" + full + "\n   8" + longer + "\n";
     }},
    {"ParseLine refuses a null line without a word",
     [] {
         Machine m;
         ErrMessage_t err = ERR_NONE;
         return printed([&] { err = KMM_ParseLine(nullptr, m.kmm, 1); }).empty() &&
                err == ERR_UNKNOWN;
     }},
    {"a run into a stream the caller already gathers adds to its block",
     [] {
         Machine m;
         std::FILE* rw = std::tmpfile();
         char block[64];
         KelOut out;
         KO_InitGather(&out, rw, block, sizeof block);
         m.kmm->out = &out;
         KMM_RunFile(oneLineScript().c_str(), m.kmm, nullptr);
         KO_Flush(&out);
         KO_Flush(nullptr);
         m.kmm->out = nullptr;
         char buf[256] = {};
         std::rewind(rw);
         size_t got = std::fread(buf, 1, sizeof buf - 1, rw);
         std::fclose(rw);
         return got > 0 && std::string(buf).rfind("   1 P1 PrintProcessTable\n+---", 0) == 0 &&
                out.failed == 0;
     }},
    {"a run into a stream that refuses the text marks the manager's output failed",
     [] {
         Machine m;
         std::FILE* ro = std::fopen("/dev/null", "r");
         KelOut out;
         KO_InitStream(&out, ro);
         KelOut kept = {};
         m.kmm->out = &out;
         int32_t rc = KMM_RunFile(oneLineScript().c_str(), m.kmm, nullptr);
         m.kmm->out = nullptr;
         KO_Flush(&out);  // a plain stream keeps nothing to flush
         KO_Flush(&kept); // nor does memory
         std::fclose(ro);
         return rc == 0 && out.failed != 0 && kept.len == 0;
     }},
    {"a run whose standard output cannot be written still reads its script",
     [] {
         Machine m;
         std::fflush(stdout);
         int saved = dup(1);
         int ro = open("/dev/null", O_RDONLY);
         dup2(ro, 1);
         close(ro);
         int32_t rc = KMM_RunFile(oneLineScript().c_str(), m.kmm, nullptr);
         std::fflush(stdout);
         std::clearerr(stdout);
         dup2(saved, 1);
         close(saved);
         return rc == 0;
     }},
    {"areas whose join would overflow int32_t stay apart",
     [] { return unjoinable(-10, INT32_MAX, 20) && unjoinable(10, -20, INT32_MIN); }},
};

} // namespace

TEST(Guards, EachRowHolds)
{
    for (const Row& r : kRows)
        EXPECT_TRUE(r.holds()) << r.what;
}
