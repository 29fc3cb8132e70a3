// The adapter to the core and to kelmem-view: the only file of kelmem-check
// that knows their interfaces. The reference is kelmem's own core, run
// in-process with its text kept in memory; explanations come from
// kelmem-view's tracer.
//
// Load files and scripts are named relative to the current folder, as
// kelmem names them, and the current folder belongs to the whole process:
// every run here changes into the case's folder under one lock and back
// after. Nothing else in kelmem-check uses relative paths.

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "KelMem.h"
#include "KelParseCmd.h"
#include "check.h"
#include "explain.h"
#include "trace.h"

namespace kc {

namespace {

std::mutex folderLock;

// Holds the lock and the case's folder as the current one for its lifetime.
class InFolder {
  public:
    explicit InFolder(const std::string& dir) : lock_(folderLock)
    {
        home_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ok_ = home_ >= 0 && chdir(dir.c_str()) == 0;
    }
    ~InFolder()
    {
        if (home_ >= 0) {
            // Nothing sensible is left to do if the way back is gone.
            if (fchdir(home_) != 0)
                std::abort();
            close(home_);
        }
    }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;
    bool ok() const
    {
        return ok_;
    }

  private:
    std::lock_guard<std::mutex> lock_;
    int home_ = -1;
    bool ok_ = false;
};

// Keeps the output of every step and banner, and the explanation of each.
class Steps : public kv::Sink {
  public:
    struct Piece {
        std::string output;
        std::string explain;
    };
    std::vector<Piece> pieces;

    void begin(const std::vector<std::string>&) override {}
    void banner(std::string_view, std::string_view output) override
    {
        pieces.push_back({std::string(output), std::string()});
    }
    void step(const kv::Step& step) override
    {
        pieces.push_back({std::string(step.output), step.hasExplain ? step.explain : std::string()});
    }
    void end(uint64_t, const kv::MemState&) override {}
};

} // namespace

Expected kc_Reference(const std::string& dir, const std::vector<std::string>& args)
{
    Expected exp;
    if (args.empty()) {
        exp.out = KMM_USAGE;
        exp.status = 255;
        return exp;
    }
    std::vector<const char*> names;
    names.reserve(args.size());
    for (const std::string& a : args)
        names.push_back(a.c_str());
    KelMM* kmm = KMM_Create(KMM_MEMORY_CELLS);
    if (!kmm) {
        exp.out = "Couldn't create KelMM\n";
        exp.status = 255;
        return exp;
    }
    KelOut out = {};
    kmm->out = &out;
    {
        InFolder here(dir);
        if (here.ok())
            KMM_RunFiles(kmm, static_cast<int32_t>(names.size()), names.data(), nullptr);
    }
    if (out.len > 0)
        exp.out.assign(out.buf, out.len);
    KMM_Free(kmm);
    std::free(kmm);
    KO_Free(&out);
    exp.status = 0;
    return exp;
}

std::string kc_Explain(const std::string& dir, const std::vector<std::string>& args, size_t offset)
{
    if (args.empty())
        return {};
    Steps steps;
    {
        InFolder here(dir);
        if (!here.ok() || !kv::kv_Trace(args, &steps))
            return {};
    }
    size_t at = 0;
    for (const Steps::Piece& p : steps.pieces) {
        if (offset < at + p.output.size())
            return p.explain;
        at += p.output.size();
    }
    return {};
}

const char* kc_CoreVersion()
{
    return KELMEM_VERSION;
}

} // namespace kc
