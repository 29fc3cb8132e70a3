// kelmem-check: runs a program under test and kelmem's core on the same
// cases, compares what they print, and shrinks each difference to a few
// lines. The pieces: the generator of cases, the reference run in-process
// (reference.cpp, the only file that knows the core's and kelmem-view's
// interfaces), the sandbox that runs the untrusted program, the shrinker and
// the reports.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kc {

// One file of a case, written into the case's folder under its name.
struct File {
    std::string name;
    std::string data;
};

// One case: the files of its folder, and the script names that follow the
// program's own arguments on its command line (names may repeat or name no
// file, as a student may type them).
struct Case {
    std::string name;              // "case-0042", or the suite folder's name
    std::vector<std::string> args; // script names in command-line order
    std::vector<File> files;       // scripts and load files
};

// Lines in all files of the case (a last line without line feed counts).
size_t kc_Lines(const Case& c);

// What kelmem prints for a case, and its exit status.
struct Expected {
    std::string out;
    int status = 0;
};

// What one run of the program under test did.
struct Outcome {
    std::string out; // standard output, at most the bound given
    std::string err; // standard error, its first kErrKept bytes
    int status = -1; // exit status when it exited
    int signal = 0;  // the signal that ended it, not one of ours
    bool timedOut = false;
    bool flooded = false; // its output passed the bound and it was stopped
    std::string failure;  // could not be run at all: why (fork, exec, folder)
};

constexpr size_t kErrKept = 64 * 1024;

// ---- generator.cpp
// Case number `index` of the run with `seed`: the same pair always gives the
// same case, whatever else the run does.
Case kc_Generate(uint64_t seed, uint64_t index);

// ---- reference.cpp (the adapter to the core and to kelmem-view)
// Runs kelmem's core in-process on the scripts `args` with the current
// folder set to `dir` (an absolute path), as kelmem would run there.
Expected kc_Reference(const std::string& dir, const std::vector<std::string>& args);
// kelmem-view's explanation of the step whose output holds byte `offset` of
// kelmem's output for the case in `dir`; empty when that step has none.
std::string kc_Explain(const std::string& dir, const std::vector<std::string>& args, size_t offset);
// The core's version, for --version.
const char* kc_CoreVersion();

// ---- sandbox.cpp
struct Program {
    std::string name;              // as given on the command line, for messages
    std::string path;              // absolute
    std::vector<std::string> args; // its own arguments, before the scripts
};

struct Limits {
    double timeout = 5;              // seconds of wall-clock time per run
    uint64_t memory = 2048ull << 20; // bytes of address space; 0: none
    uint64_t fileSize = 64ull << 20; // bytes per file written
};

// Makes the run's private folder under $TMPDIR (or /tmp); false with *error.
bool kc_SandboxOpen(std::string* error);
// Removes the run's folder and all in it.
void kc_SandboxClose();
// A new, empty case folder (absolute path), or "" with *error.
std::string kc_CaseDir(std::string* error);
// Writes the case's files into dir; false with *error.
bool kc_WriteCase(const std::string& dir, const Case& c, std::string* error);
// Removes dir and everything in it, whatever the program left there.
void kc_RemoveTree(const std::string& dir);
// Runs the program in dir with the case's scripts: own process group, no
// standard input, limits, killed at the timeout or when standard output
// passes outBound bytes.
Outcome kc_Run(const Program& prog, const std::string& dir, const std::vector<std::string>& args,
               const Limits& limits, size_t outBound);
// Kills every process group still running (on SIGINT or SIGTERM); later
// runs are refused.
void kc_KillAll();
// Finds COMMAND as a shell would (a name without "/" along PATH); the
// absolute path, or "" with *error.
std::string kc_FindProgram(const std::string& command, std::string* error);
// The bound on a run's output for expected output of n bytes.
size_t kc_OutputBound(size_t n);

// ---- compare.cpp
// How the program's run differs from kelmem's: nothing (agree), or the
// first differing line and the kind of difference.
struct Difference {
    bool differs = false;
    std::string kind;    // e.g. "error line \"Excess values in load file\"", "timeout"
    size_t line = 0;     // 1-based number of the first differing output line; 0: none
    size_t offset = 0;   // byte offset of that line in kelmem's output
    std::string summary; // one line: what differs
};
Difference kc_Compare(const Expected& exp, const Outcome& got, const Limits& limits);
// The kind of one line of kelmem's output: "echo of STORE", "banner
// Parsed", "process table row", ...
std::string kc_LineKind(std::string_view line);
// The lines of text, each with its line feed when it has one; views into text.
std::vector<std::string_view> kc_Lines(std::string_view text);
// A line with invisible characters made visible: \t, \r, \xNN; "$" marks
// its end, as cat -A does.
std::string kc_Visible(std::string_view line);
// Text with \\, \t, \r and \xNN for backslashes and invisible bytes.
std::string kc_Escape(std::string_view text);
// The lines around the first difference: expected and actual, numbered.
std::string kc_Context(const Expected& exp, const Outcome& got, size_t line);

// ---- shrink.cpp
// Runs one case both ways in a fresh folder; the folder is removed after.
struct Trial {
    Expected exp;
    Outcome got;
    Difference diff;
};
Trial kc_Try(const Program& prog, const Case& c, const Limits& limits);
// Shrinks c while the difference stays of the same kind. Stops after
// maxRuns runs, maxSeconds of time, or when *stop is set.
Case kc_Shrink(const Program& prog, const Case& c, const std::string& kind, const Limits& limits,
               int maxRuns, double maxSeconds, const std::atomic<bool>* stop, int* runs);

// ---- report.cpp
// Makes any bytes valid UTF-8 text (bad bytes as U+FFFD).
std::string kc_Utf8(std::string_view s);
// Text for an XML attribute or element: escaped, no characters XML 1.0
// forbids (control characters shown as \xNN).
std::string kc_XmlText(std::string_view s);
// A JSON string literal, quotes included, of valid UTF-8.
std::string kc_JsonString(std::string_view s);

struct CaseResult {
    std::string name;
    bool agrees = true;
    bool failedToRun = false;
    std::string output; // for a report: what differed, or the shrunk case
    std::string err;    // the program's standard error
    double seconds = 0;
};
// Writes the report to path: JUnit XML for ".xml", results.json for ".json".
bool kc_WriteReport(const std::string& path, const std::vector<CaseResult>& results,
                    std::string* error);

// Writes the case into dir/ (made if needed, replaced if there): its files,
// cmdline, and expected.out, actual.out and run.sh when given.
bool kc_SaveCase(const std::string& dir, const Case& c, const Expected* exp, const Outcome* got,
                 const Program* prog, std::string* error);
// Reads the suite: each subfolder one case, sorted by name.
bool kc_ReadSuite(const std::string& dir, std::vector<Case>* cases, std::string* error);
// The case as a student reads it: "$ COMMAND a.txt b.txt", then each file.
std::string kc_ShowCase(const Case& c, const Program& prog);

} // namespace kc
