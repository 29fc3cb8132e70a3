// The page: viewer/page.html, embedded at build time, with the run put in
// its three places: the trace as a JSON array, the options, and a table of
// the final state for readers without scripts.
#pragma once

#include <cstdio>
#include <string>

#include "blockwriter.h"
#include "model.h"
#include "replay.h"

namespace kv {

// Most steps a page renders; a longer run is refused.
constexpr uint64_t kHtmlMaxSteps = 100000;
// Most steps of a run whose page also holds its four policy replays: each
// replay is as long as the run, and the page five times the size.
constexpr uint64_t kHtmlMaxReplaySteps = 10000;

// Collects the trace (JSON, escaped for a <script> element) in a temporary
// file as the run goes, and writes the page once the run is over.
class HtmlSink : public Sink {
  public:
    HtmlSink();
    ~HtmlSink() override;
    HtmlSink(const HtmlSink&) = delete;
    HtmlSink& operator=(const HtmlSink&) = delete;

    // Several runs of the same scripts (the run as written, then its policy
    // replays) go into one page, in the order they are made.
    void policy(std::string_view name) override
    {
        policy_ = name;
    }
    void begin(const std::vector<std::string>& files) override;
    void banner(std::string_view file, std::string_view output) override;
    void step(const Step& step) override;
    void end(uint64_t steps, const MemState& last) override;
    // Past kHtmlMaxSteps the page is refused: no more steps are wanted.
    bool full() const override
    {
        return steps_ > kHtmlMaxSteps;
    }
    // Steps of the last run traced.
    uint64_t steps() const
    {
        return steps_;
    }

    // Writes the page to out. False, with *error set, when the run had too
    // many steps or the collected trace could not be kept; nothing is
    // written then.
    bool finish(BlockWriter* out, bool quiz, std::string* error);

  private:
    std::FILE* spool_;    // the events so far, comma-separated; nullptr when it could not be made
    BlockWriter spooled_; // writes to spool_
    uint64_t steps_ = 0;  // steps seen; the run's count once it ended
    int runs_ = 0;        // runs begun
    std::string policy_;  // the policy of the run being made; empty: as written
    MemState last_;
};

// Traces the runs a page holds into page: the scripts with their loads
// placed by policy (as written for Policy::Script), then, unless that run
// has more than kHtmlMaxReplaySteps steps or its sink took it only in part
// (full), its four policy replays. The first run goes to first when given (a
// sink that hands its events on to page), else to page itself. False when
// memory ran out while tracing.
bool kv_TracePage(const std::vector<std::string>& scripts, Policy policy, HtmlSink* page,
                  Sink* first = nullptr);

} // namespace kv
