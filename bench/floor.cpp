// The I/O floor of a kelmem run: what any program doing kelmem's job must do
// at least. It reads the script as kelmem does (fgets into 160 bytes, a piece
// of fewer than two characters skipped), cuts each piece into tokens by the
// same white-space, comment and 99-character rule, and writes kelmem's
// output for that script, taken ready-made from a file: no formatting, no
// simulation.
//
// kelmem-floor SCRIPT READY_OUTPUT > output

#include <cstddef>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

bool isSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Counts the tokens of one piece; their bytes are summed into *sum so that
// the cutting cannot be optimised away.
int cutTokens(const unsigned char* s, unsigned long* sum)
{
    int n = 0;
    for (;;) {
        while (isSpace(*s))
            s++;
        if (*s == '\0' || (s[0] == '/' && s[1] == '/'))
            return n;
        int len = 0;
        while (len < 99 && s[len] != '\0' && !isSpace(s[len]))
            *sum += s[len++];
        s += len;
        n++;
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: kelmem-floor SCRIPT READY_OUTPUT\n");
        return 2;
    }
    std::FILE* fp = std::fopen(argv[1], "r");
    int ready = open(argv[2], O_RDONLY);
    if (!fp || ready < 0) {
        std::fprintf(stderr, "kelmem-floor: cannot open the script or the output\n");
        return 2;
    }
    char buf[160];
    unsigned long sum = 0;
    long tokens = 0;
    while (std::fgets(buf, sizeof buf, fp)) {
        if (std::strlen(buf) >= 2)
            tokens += cutTokens(reinterpret_cast<const unsigned char*>(buf), &sum);
    }
    std::fclose(fp);
    static char block[1 << 16];
    ssize_t got = 0;
    while ((got = read(ready, block, sizeof block)) > 0) {
        if (std::fwrite(block, 1, static_cast<size_t>(got), stdout) != static_cast<size_t>(got))
            return 1;
    }
    close(ready);
    // Exit status 0 whatever the sum; printed where the output is not.
    std::fprintf(stderr, "%ld tokens, sum %lu\n", tokens, sum);
    return got < 0 ? 1 : 0;
}
