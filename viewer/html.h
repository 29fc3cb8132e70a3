// The page: viewer/page.html, embedded at build time, with the run put in
// its three places: the trace as a JSON array, the options, and a table of
// the final state for readers without scripts.
#pragma once

#include <cstdio>
#include <string>

#include "blockwriter.h"
#include "model.h"

namespace kv {

// Most steps a page renders; a longer run is refused.
constexpr uint64_t kHtmlMaxSteps = 100000;

// Collects the trace (JSON, escaped for a <script> element) in a temporary
// file as the run goes, and writes the page once the run is over.
class HtmlSink : public Sink {
  public:
    HtmlSink();
    ~HtmlSink() override;
    HtmlSink(const HtmlSink&) = delete;
    HtmlSink& operator=(const HtmlSink&) = delete;

    void begin(const std::vector<std::string>& files) override;
    void banner(std::string_view file, std::string_view output) override;
    void step(const Step& step) override;
    void end(uint64_t steps, const MemState& last) override;
    // Past kHtmlMaxSteps the page is refused: no more steps are wanted.
    bool full() const override
    {
        return steps_ > kHtmlMaxSteps;
    }

    // Writes the page to out. False, with *error set, when the run had too
    // many steps or the collected trace could not be kept; nothing is
    // written then.
    bool finish(BlockWriter* out, bool quiz, std::string* error);

  private:
    std::FILE* spool_;    // the events so far, comma-separated; nullptr when it could not be made
    BlockWriter spooled_; // writes to spool_
    uint64_t steps_ = 0;  // steps seen; the run's count once it ended
    MemState last_;
};

// The final state as an HTML table (the page's <noscript> content).
std::string kv_NoscriptTable(const MemState& st);

} // namespace kv
