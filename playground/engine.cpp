// The playground's engine: kelmem-view's trace and page writer, compiled to
// WebAssembly together with the unchanged core. One call runs the named
// scripts (already written into the in-memory file system, relative to the
// current folder) and keeps two results for the page to copy out: the run's
// standard output as kelmem prints it, and the kelmem-view page of the run.
// kelmem's own main (src/main.cpp) is linked in as well; the page calls it
// only for a run without scripts, which prints kelmem's usage line.

#include <emscripten/emscripten.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "html.h"
#include "trace.h"

namespace {

// Most bytes of output a run keeps. Past them the run goes on to its end
// but nothing more of it is kept, and no page is made: a short script of
// memory reports can print gigabytes, more than a browser tab can hold.
constexpr size_t kOutputCap = size_t{32} << 20;

// Hands every event on to the page writer and keeps the text of each, in
// order: banners and lines together are kelmem's standard output.
class TeeSink : public kv::Sink {
  public:
    explicit TeeSink(kv::Sink* page) : page_(page) {}

    void policy(std::string_view name) override
    {
        page_->policy(name);
    }
    void begin(const std::vector<std::string>& files) override
    {
        page_->begin(files);
    }
    void banner(std::string_view file, std::string_view output) override
    {
        if (keep(output))
            page_->banner(file, output);
    }
    void step(const kv::Step& step) override
    {
        if (keep(step.output))
            page_->step(step); // counts the steps past its limit, keeps none
    }
    void end(uint64_t steps, const kv::MemState& last) override
    {
        page_->end(steps, last);
    }
    // The output is wanted whole up to the cap, however many steps the run
    // has: the page writer's own limit refuses the page at the end.
    bool full() const override
    {
        return cut;
    }

    std::string text;
    bool cut = false; // the output passed kOutputCap; text holds what came before

  private:
    bool keep(std::string_view output)
    {
        if (output.size() > kOutputCap - text.size()) {
            cut = true;
            return false;
        }
        text.append(output);
        return true;
    }

    kv::Sink* page_;
};

// The results of the last run, until the next one.
struct Result {
    std::string output; // kelmem's standard output
    std::string page;   // the page, or empty when it was refused
    std::string error;  // why there is no page, or empty
};

Result gResult;

// The page, written through the same block writer as kelmem-view's output
// file, into memory.
bool writePage(kv::HtmlSink* sink, bool quiz, std::string* page, std::string* error)
{
    char* data = nullptr;
    size_t size = 0;
    std::FILE* fp = open_memstream(&data, &size);
    if (!fp) {
        *error = "no memory for the page";
        return false;
    }
    bool ok = false;
    {
        kv::BlockWriter writer(fp);
        ok = sink->finish(&writer, quiz, error);
        writer.flush(true);
        if (ok && writer.error() != 0) {
            *error = "no memory for the page";
            ok = false;
        }
    }
    const bool closed = std::fclose(fp) == 0;
    if (ok && closed)
        page->assign(data, size);
    else if (ok)
        *error = "no memory for the page";
    std::free(data);
    return ok && closed;
}

} // namespace

extern "C" {

// Runs the nfiles scripts of files, in order, as kelmem does. Returns 0
// when the run was traced; -1 when memory ran out before its end.
EMSCRIPTEN_KEEPALIVE int kp_run(int nfiles, const char* const* files, int quiz)
{
    gResult = Result();
    std::vector<std::string> names;
    for (int i = 0; i < nfiles; i++)
        names.emplace_back(files[i]);
    kv::HtmlSink page;
    TeeSink tee(&page);
    // The run as written goes through tee, its policy replays to the page
    // alone: kelmem's output is the first run's.
    const bool traced = kv::kv_TracePage(names, kv::Policy::Script, &page, &tee);
    gResult.output = std::move(tee.text);
    if (tee.cut) {
        gResult.error =
            "the run printed more than 32 MiB; its output is cut there, and no page is made";
        return 0;
    }
    if (!traced) {
        gResult.error = "out of memory while tracing the run";
        return -1;
    }
    writePage(&page, quiz != 0, &gResult.page, &gResult.error);
    return 0;
}

EMSCRIPTEN_KEEPALIVE const char* kp_output()
{
    return gResult.output.data();
}
EMSCRIPTEN_KEEPALIVE size_t kp_output_size()
{
    return gResult.output.size();
}
EMSCRIPTEN_KEEPALIVE const char* kp_page()
{
    return gResult.page.data();
}
EMSCRIPTEN_KEEPALIVE size_t kp_page_size()
{
    return gResult.page.size();
}
EMSCRIPTEN_KEEPALIVE const char* kp_error()
{
    return gResult.error.c_str();
}

// Gives the results' memory back.
EMSCRIPTEN_KEEPALIVE void kp_release()
{
    gResult = Result();
}

// Writes what kelmem's main left in standard output's buffer.
EMSCRIPTEN_KEEPALIVE void kp_flush()
{
    std::fflush(stdout);
}

} // extern "C"
