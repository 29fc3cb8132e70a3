// kelmem: runs script files against one simulated memory manager of 1000
// cells, shared by all the files in command-line order.

#include <cstdio>

#include "KelMem.h"
#include "KelParseCmd.h"

int main(int argc, char** argv)
{
    if (argc <= 1) {
        std::printf("Use commandline parameter 'kelmem parse.txt [parse2.txt] ...'\n");
        return -1;
    }
    // Lives until the program ends and is never released; held in a static
    // so that leak checkers see it as still reachable at exit.
    static KelMM* kmm = nullptr;
    kmm = KMM_Create(1000);
    if (!kmm) {
        std::printf("Couldn't create KelMM\n");
        return -1;
    }
    if (argc == 2) {
        if (KMM_ParseFile(argv[1], kmm) < 0)
            std::printf("---------------Couldn't parse %s-----------------\n", argv[1]);
        return 0;
    }
    for (int i = 1; i < argc; i++) {
        std::printf("---------------Parsing %s------------------------\n", argv[i]);
        if (KMM_ParseFile(argv[i], kmm) >= 0)
            std::printf("---------------Parsed %s-------------------------\n", argv[i]);
        else
            std::printf("---------------Couldn't parse %s-----------------\n", argv[i]);
    }
    return 0;
}
