// The terminal map: for each step, kelmem's output, then memory as 20 rows
// of 50 cells (a process's digit, or '.' when free), the free-list figures
// and the explanation. Banners as kelmem prints them.
#pragma once

#include <string>

#include "blockwriter.h"
#include "model.h"

namespace kv {

class TextMapSink : public Sink {
  public:
    TextMapSink(BlockWriter* out, bool color) : out_(out), buf_(out->text()), color_(color) {}
    void begin(const std::vector<std::string>& /*files*/) override {}
    void banner(std::string_view file, std::string_view output) override;
    void step(const Step& step) override;
    void end(uint64_t steps, const MemState& last) override;

  private:
    void map(const MemState& st);
    void figures(const Stats& s);
    BlockWriter* out_;
    std::string& buf_; // out_'s text, appended to
    bool color_;
};

} // namespace kv
