// kelmem: runs script files against one simulated memory manager of 1000
// cells, shared by all the files in command-line order.

#include <cstdio>

#include "KelMem.h"
#include "KelParseCmd.h"

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
    KMM_RunFiles(kmm, argc - 1, argv + 1, nullptr);
    return 0;
}
