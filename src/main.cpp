// kelmem: runs script files against one simulated memory manager of 1000
// cells, shared by all the files in command-line order.

#include <cstddef>
#include <cstdio>

#include "KelMem.h"
#include "KelParseCmd.h"

// Bytes of text gathered before a write.
constexpr size_t kGatherBlock = size_t{64} * 1024;

int main(int argc, char** argv)
{
    if (argc <= 1) {
        std::fputs(KMM_USAGE, stdout);
        return -1;
    }
    // Lives until the program ends and is never released; held in a static
    // so that leak checkers see it as still reachable at exit. volatile keeps
    // the compiler from dropping the store, which nothing reads back.
    static KelMM* volatile kmm = nullptr;
    kmm = KMM_Create(KMM_MEMORY_CELLS);
    if (!kmm) {
        std::printf("Couldn't create KelMM\n");
        return -1;
    }
    // The run's text gathers in a block and goes to standard output a block
    // at a time: one stdio call per piece cost more than the rest of a line.
    static char block[kGatherBlock];
    // A block goes to the kernel in one write: stdio's own buffer would cut
    // it in two and copy its tail.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    KelOut out;
    KO_InitGather(&out, stdout, block, sizeof block);
    kmm->out = &out;
    KMM_RunFiles(kmm, argc - 1, argv + 1, nullptr);
    KO_Flush(&out);
    return 0;
}
