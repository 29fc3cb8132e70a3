// The page writer. The template is copied byte for byte except for its
// three placeholders, each replaced where it stands.

#include "html.h"

#include <algorithm>
#include <array>

#include "json.h"
#include "page_data.h"
#include "trace.h"

namespace kv {

namespace {

const char kTracePlace[] = "/*@KELMEM_TRACE@*/";
const char kOptionsPlace[] = "/*@KELMEM_OPTIONS@*/";
const char kNoscriptPlace[] = "<!--@KELMEM_NOSCRIPT@-->";

std::string areaList(const std::vector<Area>& list)
{
    std::string s;
    kv_AppendRanges(&s, list, ", ");
    return s.empty() ? "none" : s;
}

// Copies the spooled trace to out.
bool copySpool(std::FILE* spool, BlockWriter* out)
{
    if (!spool || std::fflush(spool) != 0 || std::fseek(spool, 0, SEEK_SET) != 0)
        return false;
    char chunk[1 << 15];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, spool)) > 0)
        out->write(std::string_view(chunk, n));
    return !std::ferror(spool);
}

// The final state as an HTML table (the page's <noscript> content).
std::string noscriptTable(const MemState& st)
{
    // Only numbers and fixed words go in, so nothing here needs escaping.
    std::string t = "<table><caption>Memory after the last step</caption>"
                    "<tr><th scope=\"col\">Process</th><th scope=\"col\">Segments</th></tr>";
    for (int32_t id = 0; id < KMM_PROCESS_SLOTS; id++) {
        if (!st.live[id])
            continue;
        t += "<tr><td>P" + kv_Decimal(id) + "</td><td>" + areaList(st.segs[id]) + "</td></tr>";
    }
    t += "<tr><td>free</td><td>" + areaList(st.free) + "</td></tr></table>";
    return t;
}

} // namespace

HtmlSink::HtmlSink() : spool_(std::tmpfile()), spooled_(spool_) {}

HtmlSink::~HtmlSink()
{
    if (spool_)
        std::fclose(spool_);
}

// The runs follow one another in one array, each from its meta to its end.
void HtmlSink::begin(const std::vector<std::string>& files)
{
    spooled_.text().push_back(runs_++ == 0 ? '[' : ',');
    kv_JsonMeta(&spooled_.text(), files, true, policy_);
    steps_ = 0;
}

void HtmlSink::banner(std::string_view file, std::string_view output)
{
    spooled_.text().push_back(',');
    kv_JsonBanner(&spooled_.text(), file, output, true);
    spooled_.flush(false);
}

void HtmlSink::step(const Step& step)
{
    // Past the limit the page will be refused: nothing more is kept.
    if (++steps_ > kHtmlMaxSteps)
        return;
    spooled_.text().append(",\n");
    kv_JsonStep(&spooled_.text(), step, true);
    spooled_.flush(false);
}

void HtmlSink::end(uint64_t steps, const MemState& last)
{
    steps_ = steps;
    spooled_.text().push_back(',');
    kv_JsonEnd(&spooled_.text(), steps);
    spooled_.flush(true);
    if (policy_.empty())
        last_ = last;
    policy_.clear();
}

bool HtmlSink::finish(BlockWriter* out, bool quiz, std::string* error)
{
    if (steps_ > kHtmlMaxSteps) {
        *error = "the run has " + kv_Decimal(static_cast<int64_t>(steps_)) +
                 " steps; a page shows at most " + kv_Decimal(static_cast<int64_t>(kHtmlMaxSteps)) +
                 " (use --format=json for longer runs)";
        return false;
    }
    if (!spool_ || spooled_.error() != 0) {
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
        out->write(page.substr(from, p.at - from));
        if (p.name == kTracePlace) {
            if (!copySpool(spool_, out)) {
                *error = "cannot read the trace back from its temporary file";
                return false;
            }
            out->write("]");
        } else if (p.name == kOptionsPlace) {
            out->write(quiz ? "{\"quiz\":true}" : "{\"quiz\":false}");
        } else {
            out->write(noscriptTable(last_));
        }
        from = p.at + p.name.size();
    }
    out->write(page.substr(from));
    out->flush(true);
    return true;
}

bool kv_TracePage(const std::vector<std::string>& scripts, Policy policy, HtmlSink* page,
                  Sink* first)
{
    Sink* run = first ? first : page;
    bool traced = kv_Trace(scripts, run, policy);
    // A run its sink took only in part (a page past its steps, a cut
    // output) is not replayed.
    for (Policy p : {Policy::First, Policy::Best, Policy::Worst, Policy::Next}) {
        if (traced && !run->full() && page->steps() <= kHtmlMaxReplaySteps)
            traced = kv_Trace(scripts, page, p);
    }
    return traced;
}

} // namespace kv
