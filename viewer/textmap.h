// The terminal map: for each step, kelmem's output, then memory as 20 rows
// of 50 cells (a process's digit, or '.' when free), the free-list figures
// and the explanation. Banners as kelmem prints them.
#pragma once

#include <cstdio>
#include <string>

#include "trace.h"

namespace kv {

class TextMapSink : public Sink {
  public:
    TextMapSink(std::FILE* fp, bool color) : fp_(fp), color_(color) {}
    void begin(const std::vector<std::string>& files) override;
    void banner(std::string_view file, std::string_view output) override;
    void step(const Step& step) override;
    void end(uint64_t steps, const MemState& last) override;

  private:
    void flush(bool always);
    void map(const MemState& st);
    void figures(const Stats& s);
    std::FILE* fp_;
    bool color_;
    std::string buf_;
};

} // namespace kv
