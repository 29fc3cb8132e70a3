// Compares a run of the program under test with kelmem's output for the
// same case, and names the kind of the first difference, so that cases that
// fail for the same reason are shown once.

#include <signal.h>

#include <cstdio>
#include <cstring>

#include "check.h"

namespace kc {

namespace {

bool startsWith(std::string_view s, std::string_view head)
{
    return s.substr(0, head.size()) == head;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::string signalName(int sig)
{
    const char* abbrev = sigabbrev_np(sig);
    std::string name = abbrev ? std::string("SIG") + abbrev : "signal " + std::to_string(sig);
    return name;
}

// A line of output for the summary; nothing there is the end of the output.
std::string shown(std::string_view line)
{
    if (line.empty())
        return "(end of output)";
    return kc_Visible(line);
}

} // namespace

std::vector<std::string_view> kc_Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        end = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back(text.substr(at, end - at));
        at = end;
    }
    return lines;
}

std::string kc_LineKind(std::string_view line)
{
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    static constexpr std::string_view kError = "******* ERROR: ";
    if (startsWith(line, kError))
        return "error line \"" + kc_Utf8(line.substr(kError.size())) + "\"";
    if (startsWith(line, "---------------Parsing "))
        return "banner \"Parsing\"";
    if (startsWith(line, "---------------Parsed "))
        return "banner \"Parsed\"";
    if (startsWith(line, "---------------Couldn't parse "))
        return "banner \"Couldn't parse\"";
    if (startsWith(line, "+---"))
        return "report frame";
    if (startsWith(line, "| Process Table:"))
        return "process table title";
    if (startsWith(line, "|  PID") || startsWith(line, "|  ---"))
        return "process table heading";
    if (startsWith(line, "|   P"))
        return "process table row";
    if (startsWith(line, "| Memory Contents:"))
        return "memory report title";
    if (startsWith(line, "|  "))
        return "memory report cell";
    if (startsWith(line, "Use commandline parameter"))
        return "usage line";
    // An echo: the number right-aligned in four columns, a blank, tokens.
    size_t i = 0;
    while (i < line.size() && line[i] == ' ')
        i++;
    size_t digits = i;
    while (i < line.size() && isDigit(line[i]))
        i++;
    if (i > digits && i < line.size() && line[i] == ' ') {
        std::string_view rest = line.substr(i + 1);
        size_t sp = rest.find(' ');
        if (sp != std::string_view::npos) {
            std::string_view word = rest.substr(sp + 1);
            word = word.substr(0, word.find(' '));
            for (const char* kw : {"LoadFile", "PrintProcessTable", "PrintProcessMemory", "STORE",
                                   "TerminateProcess", "PrintAllMemory", "END"}) {
                if (word == kw)
                    return std::string("echo of ") + kw;
            }
        }
        return "echo of a line that is no command";
    }
    return "other line";
}

std::string kc_Visible(std::string_view line)
{
    const bool feed = !line.empty() && line.back() == '\n';
    if (feed)
        line.remove_suffix(1);
    return kc_Escape(line) + (feed ? "$" : " (no line feed)");
}

std::string kc_Escape(std::string_view text)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c >= 0x7f) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

Difference kc_Compare(const Expected& exp, const Outcome& got, const Limits& limits)
{
    Difference d;
    d.differs = true;
    if (!got.failure.empty()) {
        d.kind = "could not be run";
        d.summary = got.failure;
        return d;
    }
    if (got.timedOut) {
        d.kind = "timeout";
        char secs[32];
        std::snprintf(secs, sizeof secs, "%g", limits.timeout);
        d.summary =
            std::string("did not finish within ") + secs + " s; killed with its process group";
        return d;
    }
    if (got.flooded) {
        d.kind = "endless output";
        d.summary = "printed more than " + std::to_string(kc_OutputBound(exp.out.size())) +
                    " bytes (kelmem prints " + std::to_string(exp.out.size()) + "); stopped";
        return d;
    }
    if (got.signal) {
        d.kind = "crash (" + signalName(got.signal) + ")";
        const char* what = strsignal(got.signal);
        d.summary = "killed by " + signalName(got.signal) + " (" + (what ? what : "?") + ")";
        return d;
    }
    const std::vector<std::string_view> e = kc_Lines(exp.out), a = kc_Lines(got.out);
    size_t i = 0, offset = 0;
    while (i < e.size() && i < a.size() && e[i] == a[i])
        offset += e[i++].size();
    if (i == e.size() && i == a.size()) {
        if (exp.status == got.status) {
            d.differs = false;
            return d;
        }
        d.kind = "exit status";
        d.summary = "exit status " + std::to_string(got.status) + ", kelmem's " +
                    std::to_string(exp.status);
        return d;
    }
    d.line = i + 1;
    d.offset = offset;
    if (i < e.size()) {
        d.kind = kc_LineKind(e[i]);
    } else {
        d.kind = "output after kelmem's last line";
    }
    d.summary = "output line " + std::to_string(i + 1) + ": expected " +
                shown(i < e.size() ? e[i] : std::string_view()) + ", got " +
                shown(i < a.size() ? a[i] : std::string_view());
    return d;
}

std::string kc_Context(const Expected& exp, const Outcome& got, size_t line)
{
    const std::vector<std::string_view> e = kc_Lines(exp.out), a = kc_Lines(got.out);
    std::string out;
    auto row = [&](size_t n, std::string_view text) {
        char num[32];
        std::snprintf(num, sizeof num, "  %6zu  ", n);
        out += num;
        out += kc_Visible(text);
        out += '\n';
    };
    const size_t first = line > 3 ? line - 3 : 1;
    for (size_t n = first; n < line && n <= e.size(); n++)
        row(n, e[n - 1]);
    out += "expected (kelmem):\n";
    for (size_t n = line; n < line + 3 && n <= e.size(); n++)
        row(n, e[n - 1]);
    if (line > e.size())
        out += "          (end of output)\n";
    out += "actual:\n";
    for (size_t n = line; n < line + 3 && n <= a.size(); n++)
        row(n, a[n - 1]);
    if (line > a.size())
        out += "          (end of output)\n";
    return out;
}

} // namespace kc
