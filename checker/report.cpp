// Reports and case folders: the JUnit XML and results.json reports, the
// folders of kept differences and of suites, and a case as a student reads
// it. The program under test may print any bytes: everything that goes into
// a report is made valid UTF-8 first, and XML gets no character that XML 1.0
// forbids.
//
// The two reports are written here by hand. Debian has libraries for both
// (nlohmann-json3-dev, libpugixml-dev), but neither makes hostile bytes safe
// by itself (nlohmann's dump throws on bad UTF-8 unless told to replace it;
// pugixml writes control characters through, which no XML parser reads),
// so the cleaning would be ours in any case; what is left is two fixed shapes.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "check.h"

namespace kc {

namespace {

constexpr size_t kSuiteFileMax = 16U << 20; // bytes of one file of a suite case
constexpr size_t kSuiteFilesMax = 1000;     // files in one suite case

// Decodes the UTF-8 sequence at s[i]; its code point and length, or length
// 0 when the byte there starts no valid sequence.
size_t decode(std::string_view s, size_t i, uint32_t* cp)
{
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char c = b(0);
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    size_t n = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 ? 2 : 0;
    if (n == 0 || c > 0xf4 || i + n > s.size())
        return 0;
    uint32_t v = c & (0x7f >> n);
    for (size_t k = 1; k < n; k++) {
        if ((b(k) & 0xc0) != 0x80)
            return 0;
        v = (v << 6) | (b(k) & 0x3f);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((n == 3 && v < 0x800) || (n == 4 && (v < 0x10000 || v > 0x10ffff)) || (v >= 0xd800 && v <= 0xdfff))
        return 0;
    *cp = v;
    return n;
}

const char kReplacement[] = "\xef\xbf\xbd";

std::string hexByte(unsigned char c)
{
    char t[8];
    std::snprintf(t, sizeof t, "\\x%02x", c);
    return t;
}

bool writeFile(const std::string& path, std::string_view data, std::string* error, mode_t mode = 0644)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    bool ok = fd >= 0;
    size_t at = 0;
    while (ok && at < data.size()) {
        ssize_t w = write(fd, data.data() + at, data.size() - at);
        if (w < 0 && errno == EINTR)
            continue;
        ok = w > 0;
        if (ok)
            at += static_cast<size_t>(w);
    }
    if (fd >= 0 && close(fd) != 0)
        ok = false;
    if (!ok)
        *error = "cannot write " + path + ": " + std::strerror(errno);
    return ok;
}

// Reads a whole file of at most max bytes; false when it is larger or
// cannot be read.
bool readFile(const std::string& path, size_t max, std::string* data)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    data->clear();
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        data->append(buf, static_cast<size_t>(in.gcount()));
        if (data->size() > max)
            return false;
    }
    return !in.bad();
}

bool makeDirs(const std::string& dir, std::string* error)
{
    std::string at;
    size_t i = 0;
    while (i <= dir.size()) {
        size_t end = dir.find('/', i);
        if (end == std::string::npos)
            end = dir.size();
        at = dir.substr(0, end);
        if (!at.empty() && mkdir(at.c_str(), 0755) != 0 && errno != EEXIST) {
            *error = "cannot make " + at + ": " + std::strerror(errno);
            return false;
        }
        i = end + 1;
    }
    return true;
}

// A word for a shell script, quoted.
std::string shellWord(const std::string& w)
{
    std::string q = "'";
    for (char ch : w) {
        if (ch == '\'')
            q += "'\\''";
        else
            q += ch;
    }
    return q + "'";
}

std::string seconds(double s)
{
    char t[32];
    std::snprintf(t, sizeof t, "%.3f", s);
    return t;
}

} // namespace

std::string kc_Utf8(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        uint32_t cp = 0;
        size_t n = decode(s, i, &cp);
        if (n == 0) {
            out += kReplacement;
            i++;
        } else {
            out.append(s.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string kc_XmlText(std::string_view s)
{
    std::string out;
    size_t i = 0;
    while (i < s.size()) {
        uint32_t cp = 0;
        size_t n = decode(s, i, &cp);
        if (n == 0) {
            out += kReplacement;
            i++;
            continue;
        }
        switch (cp) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        default:
            // Forbidden in XML 1.0: other control characters, U+FFFE, U+FFFF.
            if (cp < 0x20 || cp == 0xfffe || cp == 0xffff)
                out += cp < 0x20 ? hexByte(static_cast<unsigned char>(cp)) : kReplacement;
            else
                out.append(s.substr(i, n));
        }
        i += n;
    }
    return out;
}

std::string kc_JsonString(std::string_view s)
{
    const std::string text = kc_Utf8(s);
    std::string out = "\"";
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char t[8];
                std::snprintf(t, sizeof t, "\\u%04x", c);
                out += t;
            } else {
                out += ch;
            }
        }
    }
    return out + "\"";
}

bool kc_WriteReport(const std::string& path, const std::vector<CaseResult>& results, std::string* error)
{
    size_t failures = 0, errors = 0;
    double total = 0;
    for (const CaseResult& r : results) {
        failures += !r.agrees && !r.failedToRun;
        errors += r.failedToRun;
        total += r.seconds;
    }
    std::string out;
    const bool json = path.size() >= 5 && path.compare(path.size() - 5, 5, ".json") == 0;
    if (json) {
        size_t score = results.size() - failures - errors;
        out = "{\n  \"score\": " + std::to_string(score) + ",\n  \"max_score\": " + std::to_string(results.size()) +
              ",\n  \"tests\": [";
        for (size_t i = 0; i < results.size(); i++) {
            const CaseResult& r = results[i];
            std::string text = r.output;
            if (!r.err.empty())
                text += "\nStandard error:\n" + r.err;
            out += i ? ",\n    {" : "\n    {";
            out += "\"name\": " + kc_JsonString(r.name) + ", \"score\": " + (r.agrees ? "1" : "0") +
                   ", \"max_score\": 1, \"status\": " + (r.agrees ? "\"passed\"" : "\"failed\"") +
                   ", \"output\": " + kc_JsonString(text) + "}";
        }
        out += "\n  ]\n}\n";
    } else {
        const std::string counts = " tests=\"" + std::to_string(results.size()) + "\" failures=\"" +
                                   std::to_string(failures) + "\" errors=\"" + std::to_string(errors) +
                                   "\" time=\"" + seconds(total) + "\"";
        out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"kelmem-check\"" + counts +
              ">\n  <testsuite name=\"kelmem-check\"" + counts + " skipped=\"0\">\n";
        for (const CaseResult& r : results) {
            out += "    <testcase classname=\"kelmem-check\" name=\"" + kc_XmlText(r.name) + "\" time=\"" +
                   seconds(r.seconds) + "\"";
            if (r.agrees) {
                out += "/>\n";
                continue;
            }
            const std::string first = r.output.substr(0, r.output.find('\n'));
            const char* tag = r.failedToRun ? "error" : "failure";
            out += ">\n      <" + std::string(tag) + " type=\"" + (r.failedToRun ? "run" : "difference") +
                   "\" message=\"" + kc_XmlText(first) + "\">" + kc_XmlText(r.output) + "</" + tag + ">\n";
            if (!r.err.empty())
                out += "      <system-err>" + kc_XmlText(r.err) + "</system-err>\n";
            out += "    </testcase>\n";
        }
        out += "  </testsuite>\n</testsuites>\n";
    }
    const std::string part = path + ".part";
    if (!writeFile(part, out, error))
        return false;
    if (std::rename(part.c_str(), path.c_str()) != 0) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        unlink(part.c_str());
        return false;
    }
    return true;
}

bool kc_SaveCase(const std::string& dir, const Case& c, const Expected* exp, const Outcome* got,
                 const Program* prog, std::string* error)
{
    kc_RemoveTree(dir);
    if (!makeDirs(dir, error) || !kc_WriteCase(dir, c, error))
        return false;
    std::string cmdline;
    for (const std::string& a : c.args)
        cmdline += a + "\n";
    if (!writeFile(dir + "/cmdline", cmdline, error))
        return false;
    if (exp && !writeFile(dir + "/expected.out", exp->out, error))
        return false;
    if (got && !writeFile(dir + "/actual.out", got->out, error))
        return false;
    if (prog) {
        std::string sh = "#!/bin/sh\n# Runs the program under test on this case, in this folder, as\n"
                         "# kelmem-check ran it; compare with: ./run.sh | diff expected.out -\n"
                         "cd \"$(dirname \"$0\")\" || exit 2\nexec " +
                         shellWord(prog->path);
        for (const std::string& a : prog->args)
            sh += " " + shellWord(a);
        for (const std::string& a : c.args)
            sh += " " + shellWord(a);
        sh += " </dev/null\n";
        if (!writeFile(dir + "/run.sh", sh, error, 0755))
            return false;
    }
    return true;
}

namespace {

// The names in folder d but "." and "..", sorted; false when it cannot be read.
bool listFolder(const std::string& d, std::vector<std::string>* names)
{
    DIR* dp = opendir(d.c_str());
    if (!dp)
        return false;
    while (dirent* e = readdir(dp)) {
        if (e->d_name[0] != '.')
            names->emplace_back(e->d_name);
    }
    closedir(dp);
    std::sort(names->begin(), names->end());
    return true;
}

// Reads the case in the folder path; false with *error.
bool readCase(const std::string& path, Case* c, std::string* error)
{
    std::string cmdline;
    if (!readFile(path + "/cmdline", kSuiteFileMax, &cmdline)) {
        *error = path + "/cmdline: missing or unreadable";
        return false;
    }
    std::istringstream lines(cmdline);
    std::string word;
    while (std::getline(lines, word)) {
        if (!word.empty() && word.back() == '\r')
            word.pop_back();
        if (!word.empty())
            c->args.push_back(word);
    }
    std::vector<std::string> names;
    listFolder(path, &names);
    for (const std::string& n : names) {
        // What --keep adds beside a case is not part of it.
        if (n == "cmdline" || n == "expected.out" || n == "actual.out" || n == "run.sh")
            continue;
        std::string fp = path;
        fp += '/';
        fp += n;
        struct stat st;
        if (stat(fp.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        File f{n, {}};
        if (!readFile(fp, kSuiteFileMax, &f.data)) {
            *error = fp + ": unreadable or larger than 16 MiB";
            return false;
        }
        c->files.push_back(std::move(f));
        if (c->files.size() > kSuiteFilesMax) {
            *error = path + ": more than 1000 files";
            return false;
        }
    }
    return true;
}

} // namespace

bool kc_ReadSuite(const std::string& dir, std::vector<Case>* cases, std::string* error)
{
    std::vector<std::string> subs;
    if (!listFolder(dir, &subs)) {
        *error = "cannot read the suite " + dir + ": " + std::strerror(errno);
        return false;
    }
    for (const std::string& sub : subs) {
        std::string path = dir;
        path += '/';
        path += sub;
        struct stat st;
        if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        Case c;
        c.name = sub;
        if (!readCase(path, &c, error))
            return false;
        cases->push_back(std::move(c));
    }
    if (cases->empty()) {
        *error = "the suite " + dir + " holds no case (a folder with a cmdline file)";
        return false;
    }
    return true;
}

std::string kc_ShowCase(const Case& c, const Program& prog)
{
    std::string out = "  $ " + prog.name;
    for (const std::string& a : prog.args)
        out += " " + a;
    for (const std::string& a : c.args)
        out += " " + kc_Escape(a);
    out += "\n";
    // The scripts in command-line order, then the other files.
    std::vector<const File*> shown;
    auto show = [&](const std::string& name) {
        for (const File& f : c.files) {
            if (f.name == name && std::find(shown.begin(), shown.end(), &f) == shown.end())
                shown.push_back(&f);
        }
    };
    for (const std::string& a : c.args)
        show(a);
    for (const File& f : c.files)
        show(f.name);
    for (const File* f : shown) {
        out += "  " + kc_Escape(f->name) + ":";
        if (f->data.empty()) {
            out += " (empty)\n";
            continue;
        }
        out += "\n";
        size_t at = 0, n = 0;
        while (at < f->data.size()) {
            size_t end = f->data.find('\n', at);
            end = end == std::string::npos ? f->data.size() : end + 1;
            char num[32];
            std::snprintf(num, sizeof num, "  %6zu  ", ++n);
            out += num + kc_Visible(std::string_view(f->data).substr(at, end - at)) + "\n";
            at = end;
        }
    }
    return out;
}

} // namespace kc
