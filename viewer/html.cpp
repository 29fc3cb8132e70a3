// The page writer. The template is copied byte for byte except for its
// three placeholders, each replaced where it stands.

#include "html.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "json.h"
#include "page_data.h"

namespace kv {

namespace {

constexpr size_t kFlushAt = 1 << 16;

const char kTracePlace[] = "/*@KELMEM_TRACE@*/";
const char kOptionsPlace[] = "/*@KELMEM_OPTIONS@*/";
const char kNoscriptPlace[] = "<!--@KELMEM_NOSCRIPT@-->";

std::string range(const Area& a)
{
    if (a.len == 1)
        return std::to_string(a.pos);
    return std::to_string(a.pos) + "-" + std::to_string(a.end() - 1);
}

std::string areaList(const std::vector<Area>& list)
{
    std::string s;
    for (const Area& a : list) {
        if (a.len <= 0)
            continue;
        s += (s.empty() ? "" : ", ") + range(a);
    }
    return s.empty() ? "none" : s;
}

// Copies the spooled trace to fp.
bool copySpool(std::FILE* spool, std::FILE* fp)
{
    if (std::fflush(spool) != 0 || std::fseek(spool, 0, SEEK_SET) != 0)
        return false;
    char chunk[1 << 15];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, spool)) > 0)
        std::fwrite(chunk, 1, n, fp);
    return !std::ferror(spool);
}

} // namespace

HtmlSink::HtmlSink() : spool_(std::tmpfile()) {}

HtmlSink::~HtmlSink()
{
    if (spool_)
        std::fclose(spool_);
}

void HtmlSink::spool(bool always)
{
    if (buf_.size() < kFlushAt && !always)
        return;
    if (!spool_ || std::fwrite(buf_.data(), 1, buf_.size(), spool_) != buf_.size())
        failed_ = true;
    buf_.clear();
}

void HtmlSink::begin(const std::vector<std::string>& files)
{
    buf_.push_back('[');
    kv_JsonMeta(&buf_, files, true);
}

void HtmlSink::banner(std::string_view file, std::string_view output)
{
    if (steps_ > kHtmlMaxSteps)
        return;
    buf_.push_back(',');
    kv_JsonBanner(&buf_, file, output, true);
    spool(false);
}

void HtmlSink::step(const Step& step)
{
    // Past the limit the page will be refused: nothing more is kept.
    if (++steps_ > kHtmlMaxSteps)
        return;
    buf_.append(",\n");
    kv_JsonStep(&buf_, step, true);
    spool(false);
}

void HtmlSink::end(uint64_t steps, const MemState& last)
{
    buf_.push_back(',');
    kv_JsonEnd(&buf_, steps);
    buf_.push_back(']');
    spool(true);
    last_ = last;
}

bool HtmlSink::finish(std::FILE* fp, bool quiz, std::string* error)
{
    if (steps_ > kHtmlMaxSteps) {
        *error = "the run has " + std::to_string(steps_) + " steps; a page shows at most " +
                 std::to_string(kHtmlMaxSteps) + " (use --format=json for longer runs)";
        return false;
    }
    if (failed_) {
        *error = "cannot keep the trace in a temporary file";
        return false;
    }
    const std::string_view page(reinterpret_cast<const char*>(kv_PageBytes), kv_PageSize);
    struct Place {
        size_t at;
        std::string_view name;
    };
    std::array<Place, 3> places = {{{page.find(kTracePlace), kTracePlace},
                                    {page.find(kOptionsPlace), kOptionsPlace},
                                    {page.find(kNoscriptPlace), kNoscriptPlace}}};
    std::sort(places.begin(), places.end(),
              [](const Place& a, const Place& b) { return a.at < b.at; });
    size_t from = 0;
    for (const Place& p : places) {
        if (p.at == std::string_view::npos)
            continue;
        std::fwrite(page.data() + from, 1, p.at - from, fp);
        if (p.name == kTracePlace) {
            if (!copySpool(spool_, fp)) {
                *error = "cannot read the trace back from its temporary file";
                return false;
            }
        } else if (p.name == kOptionsPlace) {
            std::fputs(quiz ? "{\"quiz\":true}" : "{\"quiz\":false}", fp);
        } else {
            std::fputs(kv_NoscriptTable(last_).c_str(), fp);
        }
        from = p.at + p.name.size();
    }
    std::fwrite(page.data() + from, 1, page.size() - from, fp);
    return true;
}

std::string kv_NoscriptTable(const MemState& st)
{
    // Only numbers and fixed words go in, so nothing here needs escaping.
    std::string t = "<table><caption>Memory after the last step</caption>"
                    "<tr><th scope=\"col\">Process</th><th scope=\"col\">Segments</th></tr>";
    for (int32_t id = 0; id < kSlots; id++) {
        if (!st.live[id])
            continue;
        t += "<tr><td>P" + std::to_string(id) + "</td><td>" + areaList(st.segs[id]) +
             "</td></tr>";
    }
    t += "<tr><td>free</td><td>" + areaList(st.free) + "</td></tr></table>";
    return t;
}

} // namespace kv
