// Long runs must not grow the program's memory: a script's length, or the
// number of processes loaded and ended one after the other, costs nothing
// that stays. Peak resident size is compared between a short and a long run
// in the same process. Under AddressSanitizer freed blocks are held in
// quarantine, so there LeakSanitizer does this job instead.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <fcntl.h>
#include <string>

#include "KelLoad.h"
#include "KelMem.h"
#include "KelParseCmd.h"
#include "test_util.h"

#if defined(__SANITIZE_ADDRESS__)
#define KT_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KT_ASAN 1
#endif
#endif

namespace {

long peakKiB()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

// Runs the script file against kmm with standard output thrown away.
int32_t runQuietly(const std::string& path, KelMM* kmm)
{
    std::fflush(stdout);
    int saved = dup(1);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    close(devnull);
    int32_t result = KMM_ParseFile(path.c_str(), kmm);
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    return result;
}

std::string repeat(const std::string& s, int times)
{
    std::string out;
    out.reserve(s.size() * static_cast<size_t>(times));
    for (int i = 0; i < times; i++)
        out += s;
    return out;
}

struct BoundedMemory : testing::Test {
    kt_TempDir dir;
    KelMM* kmm = KMM_Create(1000);
    std::string cwd;

    void SetUp() override
    {
        ASSERT_NE(kmm, nullptr);
        char buf[4096];
        ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
        cwd = buf;
        ASSERT_EQ(chdir(dir.path.c_str()), 0);
        dir.write("prog.txt", "8585\n2\n3 10\nRUN RUN HALT\n#1 #2 \"three\n");
    }
    void TearDown() override
    {
        ASSERT_EQ(chdir(cwd.c_str()), 0);
        KMM_Free(kmm);
        std::free(kmm);
    }

    // Peak growth in KiB between a run of `shortLines` and one ten times longer.
    long growth(const std::string& unit, int shortTimes)
    {
        std::string shortScript = dir.write("short.txt", repeat(unit, shortTimes));
        std::string longScript = dir.write("long.txt", repeat(unit, shortTimes * 10));
        EXPECT_EQ(runQuietly(shortScript, kmm), 0);
        long before = peakKiB();
        EXPECT_EQ(runQuietly(longScript, kmm), 0);
        return peakKiB() - before;
    }
};

} // namespace

TEST_F(BoundedMemory, MillionLinesCostNoMoreThanAHundredThousand)
{
#ifdef KT_ASAN
    GTEST_SKIP() << "peak size is meaningless under AddressSanitizer's quarantine";
#endif
    // A mix of every kind of line: stores, reports, errors, blanks, comments.
    std::string unit = "P1 STORE @5 #7\nP1 STORE @6 \"abc\nP0 PrintProcessTable\n"
                       "P9 STORE @1 #1\n\n   // note\nP0 store\nP1 PrintProcessMemory\n"
                       "P3 TerminateProcess\nP0 PrintAllMemory\n";
    ASSERT_EQ(KelMM_Load(kmm, 1, "prog.txt", 0), ERR_NONE);
    // 10 lines a unit: 100,000 lines, then 1,000,000.
    EXPECT_LT(growth(unit, 10000), 1024);
}

TEST_F(BoundedMemory, TenThousandLoadCyclesCostNoMoreThanAThousand)
{
#ifdef KT_ASAN
    GTEST_SKIP() << "peak size is meaningless under AddressSanitizer's quarantine";
#endif
    std::string unit = "P1 LoadFile @0 \"prog.txt\nP2 LoadFile @500 \"prog.txt\n"
                       "P1 TerminateProcess\nP2 TerminateProcess\n";
    EXPECT_LT(growth(unit, 1000), 1024);
    EXPECT_EQ(kmm->processList[1], nullptr);
    ASSERT_NE(kmm->memFree, nullptr);
    EXPECT_EQ(kmm->memFree->seg.pos, 0);
    EXPECT_EQ(kmm->memFree->seg.len, 1000);
    EXPECT_EQ(kmm->memFree->next, nullptr);
}
