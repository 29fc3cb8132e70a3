// Replays saved inputs through a fuzz target without the fuzzing engine, so
// that corpora run as ordinary regression tests with any compiler.
//
// Usage: <target>_replay FILE-OR-DIRECTORY...
// Every regular file named, and every regular file inside a directory named
// (in name order), goes to LLVMFuzzerTestOneInput once. A target that defines
// LLVMFuzzerInitialize has it called first; paths are made absolute before,
// since initialization may change the working directory. Exits 0 when every
// input ran; a broken invariant aborts inside the target.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE-OR-DIRECTORY...\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; i++) {
        std::error_code ec;
        fs::path p = fs::absolute(argv[i], ec);
        if (ec || !fs::exists(p)) {
            std::fprintf(stderr, "%s: no such file or directory\n", argv[i]);
            return 2;
        }
        if (fs::is_directory(p)) {
            std::vector<fs::path> found;
            for (const fs::directory_entry& e : fs::directory_iterator(p)) {
                if (e.is_regular_file())
                    found.push_back(e.path());
            }
            std::sort(found.begin(), found.end());
            inputs.insert(inputs.end(), found.begin(), found.end());
        } else {
            inputs.push_back(p);
        }
    }

    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);

    for (const fs::path& p : inputs) {
        std::ifstream in(p, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "%s: cannot be read\n", p.c_str());
            return 2;
        }
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        // A buffer of exactly the input's size, so that a read past its end
        // is caught by the address sanitizer.
        std::unique_ptr<uint8_t[]> buf(new uint8_t[bytes.size() ? bytes.size() : 1]);
        std::copy(bytes.begin(), bytes.end(), buf.get());
        std::fprintf(stderr, "replaying %s (%zu bytes)\n", p.c_str(), bytes.size());
        LLVMFuzzerTestOneInput(buf.get(), bytes.size());
    }
    std::fprintf(stderr, "replayed %zu inputs\n", inputs.size());
    return 0;
}
