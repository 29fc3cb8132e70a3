// The trace as JSON: one object per event, written by hand into a string so
// that bytes which are not UTF-8 can be kept exactly (as \udcXX, the
// surrogate-escape convention, which no JSON library writes).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "outfile.h"
#include "trace.h"

namespace kv {

// Appends bytes as a JSON string: valid UTF-8 is kept, `"`, `\` and control
// characters are escaped, every other byte becomes \udcXX. With html, `<`,
// `>`, `&`, U+2028 and U+2029 are escaped as well, so that the text can
// stand inside a <script> element.
void kv_JsonString(std::string* out, std::string_view bytes, bool html);

// Appends one event as a JSON object, without a line end.
void kv_JsonMeta(std::string* out, const std::vector<std::string>& files, bool html);
void kv_JsonBanner(std::string* out, std::string_view file, std::string_view output, bool html);
void kv_JsonStep(std::string* out, const Step& step, bool html);

// The text of a step's processes, free list and stats, kept from one step
// to the next: most lines leave them as they were.
struct JsonStateText {
    bool valid = false; // state and stats hold the last step's
    std::string state;  // ,"processes":[...],"free":[...],"cells":[
    std::string stats;  // ],"stats":{...}
};

// kv_JsonStep, taking the step's state and stats from *kept when the line
// left them as they were, and keeping them there otherwise.
void kv_JsonStepKept(std::string* out, const Step& step, bool html, JsonStateText* kept);
void kv_JsonEnd(std::string* out, uint64_t steps);

// Writes the trace as JSON Lines to out as the run goes.
class JsonLinesSink : public Sink {
  public:
    explicit JsonLinesSink(BlockWriter* out) : out_(out) {}
    void begin(const std::vector<std::string>& files) override;
    void banner(std::string_view file, std::string_view output) override;
    void step(const Step& step) override;
    void end(uint64_t steps, const MemState& last) override;

  private:
    BlockWriter* out_;
    JsonStateText kept_;
};

} // namespace kv
