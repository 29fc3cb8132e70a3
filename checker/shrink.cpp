// Shrinking a difference: scripts and files are taken away, then lines
// (delta debugging: halves, quarters, ... down to single lines), then what
// remains is simplified (comments and extra blanks dropped, numbers made
// small, strings short, a load file's last segment dropped). A change is
// kept only while the program still differs from kelmem in the same kind of
// way, and only when it makes the case smaller in a strict order (fewer
// bytes, or as many bytes and lower text), so shrinking always ends.

#include <chrono>

#include "check.h"

namespace kc {

namespace {

std::vector<std::string> splitLines(const std::string& data)
{
    const std::vector<std::string_view> views = kc_Lines(data);
    return {views.begin(), views.end()};
}

std::string joinLines(const std::vector<std::string>& lines)
{
    std::string s;
    for (const std::string& l : lines)
        s += l;
    return s;
}

size_t bytes(const Case& c)
{
    size_t n = 0;
    for (const File& f : c.files)
        n += f.name.size() + f.data.size() + 1;
    for (const std::string& a : c.args)
        n += a.size() + 1;
    return n;
}

// Bytes other than printable ASCII and line feeds: tabs, carriage returns,
// other blanks and control bytes, each harder to see than a space.
size_t odd(const Case& c)
{
    size_t n = 0;
    for (const File& f : c.files) {
        for (char ch : f.data)
            n += ch != '\n' && (ch < ' ' || ch > '~');
    }
    return n;
}

// a is smaller than b: fewer bytes, or as many and fewer odd ones, or lower
// text.
bool smaller(const Case& a, const Case& b)
{
    const size_t na = bytes(a), nb = bytes(b);
    if (na != nb)
        return na < nb;
    const size_t oa = odd(a), ob = odd(b);
    if (oa != ob)
        return oa < ob;
    for (size_t i = 0; i < a.files.size() && i < b.files.size(); i++) {
        if (a.files[i].data != b.files[i].data)
            return a.files[i].data < b.files[i].data;
    }
    return false;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Simpler forms of one token: its first number 0 or 1, a digit shorter or
// half as long; a long token cut to half or a character shorter.
std::vector<std::string> tokenForms(const std::string& t)
{
    std::vector<std::string> forms;
    size_t d = 0;
    while (d < t.size() && !isDigit(t[d]))
        d++;
    size_t e = d;
    while (e < t.size() && isDigit(t[e]))
        e++;
    if (e > d) {
        const std::string digits = t.substr(d, e - d);
        for (const char* small : {"0", "1"})
            forms.push_back(t.substr(0, d) + small + t.substr(e));
        if (digits.size() > 1) {
            forms.push_back(t.substr(0, d) + digits.substr(1) + t.substr(e));
            forms.push_back(t.substr(0, d) + digits.substr(0, digits.size() / 2) + t.substr(e));
        }
    }
    // Only long tokens are cut: a keyword or an instruction cut short would
    // make the case harder to read, not easier.
    if (t.size() > 8) {
        forms.push_back(t.substr(0, t.size() / 2 + 1));
        forms.push_back(t.substr(0, t.size() - 1));
    }
    return forms;
}

// Simpler forms of one line, the boldest first.
std::vector<std::string> simpler(const std::string& line)
{
    std::vector<std::string> out;
    const bool feed = !line.empty() && line.back() == '\n';
    const std::string body = feed ? line.substr(0, line.size() - 1) : line;
    const std::string end = feed ? "\n" : "";
    // Tokens and the blanks between them.
    std::vector<std::string> tokens;
    size_t comment = std::string::npos;
    for (size_t i = 0; i < body.size();) {
        while (i < body.size() && isBlank(body[i]))
            i++;
        if (i >= body.size())
            break;
        if (body.compare(i, 2, "//") == 0) {
            comment = i;
            break;
        }
        size_t j = i;
        while (j < body.size() && !isBlank(body[j]))
            j++;
        tokens.push_back(body.substr(i, j - i));
        i = j;
    }
    // The tokens alone, single blanks between them.
    std::string plain;
    for (const std::string& t : tokens)
        plain += (plain.empty() ? "" : " ") + t;
    if (!tokens.empty() && plain != body)
        out.push_back(plain + end);
    if (comment != std::string::npos && !tokens.empty())
        out.push_back(body.substr(0, comment) + end);
    // A token fewer.
    for (size_t k = 0; tokens.size() > 1 && k < tokens.size(); k++) {
        std::string l;
        for (size_t m = 0; m < tokens.size(); m++) {
            if (m != k)
                l += (l.empty() ? "" : " ") + tokens[m];
        }
        out.push_back(l + end);
    }
    // Each token simpler: its numbers small, its text short.
    for (size_t k = 0; k < tokens.size(); k++) {
        const std::string& t = tokens[k];
        for (const std::string& f : tokenForms(t)) {
            if (f == t || f.empty())
                continue;
            std::string l;
            for (size_t m = 0; m < tokens.size(); m++)
                l += (m ? " " : "") + (m == k ? f : tokens[m]);
            out.push_back(l + end);
        }
    }
    return out;
}

// The tokens of a line, comment left out.
std::vector<std::string> words(const std::string& line)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < line.size();) {
        while (i < line.size() && (isBlank(line[i]) || line[i] == '\n'))
            i++;
        if (i >= line.size() || line.compare(i, 2, "//") == 0)
            break;
        size_t j = i;
        while (j < line.size() && !isBlank(line[j]) && line[j] != '\n')
            j++;
        out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

std::string join(const std::vector<std::string>& words)
{
    std::string s;
    for (const std::string& w : words)
        s += (s.empty() ? "" : " ") + w;
    return s;
}

class Shrinker {
  public:
    Shrinker(const Program& prog, const std::string& kind, const Limits& limits, int maxRuns,
             double maxSeconds, const std::atomic<bool>* stop)
        : prog_(prog), kind_(kind), limits_(limits), maxRuns_(maxRuns), stop_(stop)
    {
        deadline_ = clock::now() + std::chrono::duration_cast<clock::duration>(
                                       std::chrono::duration<double>(maxSeconds));
    }

    int runs = 0;

    bool spent() const
    {
        return runs >= maxRuns_ || clock::now() >= deadline_ || (stop_ && stop_->load());
    }

    // Takes cand for *best when it is smaller and still differs alike.
    bool tryCase(Case* best, Case cand)
    {
        if (spent() || !smaller(cand, *best))
            return false;
        runs++;
        const Trial t = kc_Try(prog_, cand, limits_);
        if (!t.diff.differs || t.diff.kind != kind_)
            return false;
        *best = std::move(cand);
        return true;
    }

    bool dropArgs(Case* best)
    {
        bool any = false;
        for (size_t i = 0; i < best->args.size();) {
            Case cand = *best;
            cand.args.erase(cand.args.begin() + static_cast<long>(i));
            if (cand.args.empty())
                break; // no script at all is a case of its own
            if (tryCase(best, cand))
                any = true;
            else
                i++;
        }
        return any;
    }

    bool dropFiles(Case* best)
    {
        bool any = false;
        for (size_t i = 0; i < best->files.size();) {
            Case cand = *best;
            cand.files.erase(cand.files.begin() + static_cast<long>(i));
            if (tryCase(best, cand))
                any = true;
            else
                i++;
        }
        return any;
    }

    // Delta debugging over the lines of each file: chunks of half the
    // lines, then a quarter, ... then single lines.
    bool dropLines(Case* best)
    {
        bool any = false;
        for (size_t f = 0; f < best->files.size(); f++) {
            std::vector<std::string> lines = splitLines(best->files[f].data);
            for (size_t chunk = std::max<size_t>(1, lines.size() / 2); !spent(); chunk /= 2) {
                any |= dropChunks(best, f, chunk, &lines);
                if (chunk == 1)
                    break;
            }
        }
        return any;
    }

    // Tries taking out each run of `chunk` lines of file f in turn.
    bool dropChunks(Case* best, size_t f, size_t chunk, std::vector<std::string>* lines)
    {
        bool any = false;
        for (size_t at = 0; at < lines->size() && !spent();) {
            std::vector<std::string> fewer = *lines;
            fewer.erase(fewer.begin() + static_cast<long>(at),
                        fewer.begin() + static_cast<long>(std::min(lines->size(), at + chunk)));
            Case cand = *best;
            cand.files[f].data = joinLines(fewer);
            if (tryCase(best, cand)) {
                *lines = fewer;
                any = true;
            } else {
                at += chunk;
            }
        }
        return any;
    }

    // A load file's segment a cell smaller, with the value that went into
    // its first cell taken out, for each segment in turn: so that a value
    // that matters can move up to where the segments before it end.
    bool fewerCells(Case* best, size_t f)
    {
        bool any = false;
        for (size_t seg = 0; seg < 4 && !spent(); seg++) {
            std::vector<std::string> lines = splitLines(best->files[f].data);
            if (lines.size() < 3 || lines[0].compare(0, 4, "8585") != 0)
                return any;
            std::vector<std::string> sizes = words(lines[2]);
            if (seg >= sizes.size() ||
                sizes[seg].find_first_not_of("0123456789") != std::string::npos ||
                sizes[seg].empty() || sizes[seg].size() > 6)
                continue;
            const long size = std::stol(sizes[seg]);
            long at = 0; // the value's index among all values
            bool plain = true;
            for (size_t k = 0; k < seg; k++) {
                plain = plain && !sizes[k].empty() && sizes[k].size() <= 6 &&
                        sizes[k].find_first_not_of("0123456789") == std::string::npos;
                if (plain)
                    at += std::stol(sizes[k]);
            }
            if (size == 0 || !plain)
                continue;
            sizes[seg] = std::to_string(size - 1);
            std::vector<std::string> other = {lines[0], lines[1], join(sizes) + "\n"};
            long seen = 0;
            for (size_t i = 3; i < lines.size(); i++) {
                std::vector<std::string> values = words(lines[i]);
                const auto n = static_cast<long>(values.size());
                if (seen <= at && at < seen + n) {
                    values.erase(values.begin() + (at - seen));
                    // A line left empty would end the values there.
                    if (!values.empty())
                        other.push_back(join(values) + "\n");
                } else {
                    other.push_back(lines[i]);
                }
                seen += n;
            }
            Case cand = *best;
            cand.files[f].data = joinLines(other);
            any |= tryCase(best, cand);
        }
        return any;
    }

    // A load file's last segment dropped: the count one lower, the sizes
    // line a size shorter.
    bool fewerSegments(Case* best, size_t f)
    {
        std::vector<std::string> lines = splitLines(best->files[f].data);
        if (lines.size() < 3 || lines[1].size() < 2 || lines[1][0] < '2' || lines[1][0] > '4' ||
            lines[1][1] != '\n')
            return false;
        lines[1][0] = static_cast<char>(lines[1][0] - 1);
        const size_t cut = lines[2].find_last_of(' ');
        if (cut == std::string::npos)
            return false;
        lines[2] = lines[2].substr(0, cut) + (lines[2].back() == '\n' ? "\n" : "");
        Case cand = *best;
        cand.files[f].data = joinLines(lines);
        return tryCase(best, cand);
    }

    // CRLF line ends made LF.
    bool plainLineEnds(Case* best, size_t f)
    {
        const std::string& data = best->files[f].data;
        std::string lf;
        for (size_t i = 0; i < data.size(); i++) {
            if (!(data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n'))
                lf += data[i];
        }
        if (lf == data)
            return false;
        Case cand = *best;
        cand.files[f].data = lf;
        return tryCase(best, cand);
    }

    // Line i of file f in its simplest form that keeps the difference.
    bool simplerLine(Case* best, size_t f, size_t i, std::vector<std::string>* lines)
    {
        for (const std::string& form : simpler((*lines)[i])) {
            std::vector<std::string> other = *lines;
            other[i] = form;
            Case cand = *best;
            cand.files[f].data = joinLines(other);
            if (tryCase(best, cand)) {
                *lines = other;
                return true;
            }
        }
        return false;
    }

    bool simplify(Case* best)
    {
        bool any = false;
        for (size_t f = 0; f < best->files.size(); f++) {
            any |= fewerSegments(best, f);
            any |= fewerCells(best, f);
            any |= plainLineEnds(best, f);
            std::vector<std::string> lines = splitLines(best->files[f].data);
            for (size_t i = 0; i < lines.size() && !spent(); i++) {
                while (!spent() && simplerLine(best, f, i, &lines))
                    any = true;
            }
        }
        return any;
    }

  private:
    using clock = std::chrono::steady_clock;
    const Program& prog_;
    const std::string& kind_;
    const Limits& limits_;
    const int maxRuns_;
    const std::atomic<bool>* stop_;
    clock::time_point deadline_;
};

} // namespace

Trial kc_Try(const Program& prog, const Case& c, const Limits& limits)
{
    Trial t;
    std::string error;
    const std::string dir = kc_CaseDir(&error);
    if (dir.empty() || !kc_WriteCase(dir, c, &error)) {
        t.got.failure = error;
    } else {
        t.exp = kc_Reference(dir, c.args);
        t.got = kc_Run(prog, dir, c.args, limits, kc_OutputBound(t.exp.out.size()));
    }
    if (!dir.empty())
        kc_RemoveTree(dir);
    t.diff = kc_Compare(t.exp, t.got, limits);
    return t;
}

Case kc_Shrink(const Program& prog, const Case& c, const std::string& kind, const Limits& limits,
               int maxRuns, double maxSeconds, const std::atomic<bool>* stop, int* runs)
{
    Shrinker s(prog, kind, limits, maxRuns, maxSeconds, stop);
    Case best = c;
    bool progress = true;
    while (progress && !s.spent()) {
        progress = s.dropArgs(&best);
        progress |= s.dropFiles(&best);
        progress |= s.dropLines(&best);
        if (!progress)
            progress = s.simplify(&best);
    }
    *runs = s.runs;
    return best;
}

} // namespace kc
