// kelmem-check: runs a program under test and kelmem on many cases,
// compares what they print, and shows each kind of difference once, shrunk
// to a few lines.

#include <getopt.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "check.h"

namespace {

using kc::Case;

constexpr int kExitDiffer = 1;
constexpr int kExitUsage = 2;
constexpr int kShrinkRuns = 600;
constexpr double kShrinkSeconds = 30;
constexpr double kShrinkSecondsSlow = 10; // a difference that costs the whole timeout per run

struct Options {
    uint64_t cases = 200;
    uint64_t seed = 0;
    bool seedGiven = false;
    unsigned jobs = 0;
    kc::Limits limits;
    std::string suite, keep, report, writeSuite;
    bool quiet = false;
    std::vector<std::string> command;
};

enum LongOnly { OPT_CASES = 256, OPT_SEED, OPT_TIMEOUT, OPT_SUITE, OPT_KEEP, OPT_REPORT, OPT_MEMORY, OPT_WRITE };

const option kLongOptions[] = {
    {"cases", required_argument, nullptr, OPT_CASES},   {"seed", required_argument, nullptr, OPT_SEED},
    {"jobs", required_argument, nullptr, 'j'},          {"timeout", required_argument, nullptr, OPT_TIMEOUT},
    {"suite", required_argument, nullptr, OPT_SUITE},   {"keep", required_argument, nullptr, OPT_KEEP},
    {"report", required_argument, nullptr, OPT_REPORT}, {"memory", required_argument, nullptr, OPT_MEMORY},
    {"write-suite", required_argument, nullptr, OPT_WRITE},
    {"quiet", no_argument, nullptr, 'q'},               {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},             {nullptr, 0, nullptr, 0},
};

const char kHelp[] =
    "Usage: kelmem-check [OPTION]... [--] COMMAND [ARG]...\n"
    "Run COMMAND ARG... SCRIPT... on many cases and kelmem on the same ones, compare\n"
    "their standard output byte for byte (and the exit status), and show each kind\n"
    "of difference once, shrunk to a few lines.\n"
    "\n"
    "      --cases=N         generated cases (default 200)\n"
    "      --seed=S          the generator's seed (default: a fresh one, printed)\n"
    "  -j, --jobs=N          cases run at once (default: the number of cores)\n"
    "      --timeout=SECONDS time per run before the program is killed (default 5)\n"
    "      --memory=MIB      address space per run (default 2048; 0: no limit)\n"
    "      --suite=DIR       run the cases in DIR's subfolders instead: each holds\n"
    "                        its scripts and load files and a file cmdline with the\n"
    "                        script names in command-line order, one a line\n"
    "      --keep=DIR        write each shown difference to DIR/NAME/: its files,\n"
    "                        cmdline, expected.out, actual.out and run.sh\n"
    "      --report=FILE     write a report: JUnit XML (.xml) or results.json (.json)\n"
    "      --write-suite=DIR write the generated cases to DIR as a suite, with\n"
    "                        kelmem's expected.out, and run nothing\n"
    "  -q, --quiet           print only the differences and the summary\n"
    "  -h, --help            print this help and exit\n"
    "  -V, --version         print the version and exit\n"
    "\n"
    "Each case runs in a fresh temporary folder holding its scripts and load files,\n"
    "with no standard input. An ARG naming an existing file is passed as an absolute\n"
    "path. Exit status: 0 when every case agrees, 1 when some differ, 2 for a usage\n"
    "or set-up error. See kelmem-check(1).\n";

int usage(const std::string& message)
{
    std::fprintf(stderr, "kelmem-check: %s (see kelmem-check --help)\n", message.c_str());
    return kExitUsage;
}

bool readNumber(const char* arg, uint64_t lo, uint64_t hi, uint64_t* out)
{
    if (!arg || !*arg || *arg == '-' || *arg == '+' || *arg == ' ')
        return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(arg, &end, 10);
    if (errno || *end || v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

// Takes the option c of getopt_long with a number for its argument; returns
// -1 to go on, else the exit status.
int numberOption(int c, Options* opt)
{
    uint64_t n = 0;
    switch (c) {
    case OPT_CASES:
        if (!readNumber(optarg, 1, 100000000, &opt->cases))
            return usage(std::string("--cases needs a number from 1 to 100000000, not '") + optarg + "'");
        break;
    case OPT_SEED:
        if (!readNumber(optarg, 0, UINT64_MAX, &opt->seed))
            return usage(std::string("--seed needs a number from 0 to 18446744073709551615, not '") + optarg + "'");
        opt->seedGiven = true;
        break;
    case 'j':
        if (!readNumber(optarg, 1, 256, &n))
            return usage(std::string("--jobs needs a number from 1 to 256, not '") + optarg + "'");
        opt->jobs = static_cast<unsigned>(n);
        break;
    case OPT_TIMEOUT: {
        char* end = nullptr;
        errno = 0;
        const double t = std::strtod(optarg, &end);
        if (errno || end == optarg || *end || !(t >= 0.01 && t <= 3600))
            return usage(std::string("--timeout needs seconds from 0.01 to 3600, not '") + optarg + "'");
        opt->limits.timeout = t;
        break;
    }
    default: // OPT_MEMORY
        if (!readNumber(optarg, 0, 1U << 30, &n))
            return usage(std::string("--memory needs a number of MiB, not '") + optarg + "'");
        opt->limits.memory = n << 20;
        break;
    }
    return -1;
}

bool endsWith(const std::string& s, const char* tail)
{
    const size_t k = std::strlen(tail);
    return s.size() > k && s.compare(s.size() - k, k, tail) == 0;
}

// Takes any other option c of getopt_long; returns -1 to go on, else the
// exit status.
int option(int c, char** argv, Options* opt)
{
    switch (c) {
    case OPT_SUITE:
        opt->suite = optarg;
        break;
    case OPT_KEEP:
        opt->keep = optarg;
        break;
    case OPT_REPORT:
        if (!endsWith(optarg, ".xml") && !endsWith(optarg, ".json"))
            return usage("--report needs a file name ending in .xml or .json");
        opt->report = optarg;
        break;
    case OPT_WRITE:
        opt->writeSuite = optarg;
        break;
    case 'q':
        opt->quiet = true;
        break;
    case 'h':
        std::fputs(kHelp, stdout);
        return 0;
    case 'V':
        std::printf("kelmem-check %s\n", kc::kc_CoreVersion());
        return 0;
    case ':':
        return usage(std::string("option '") + argv[optind - 1] + "' needs an argument");
    default:
        if (optopt && optopt < 256)
            return usage(std::string("unknown option '-") + static_cast<char>(optopt) + "'");
        return usage(std::string("unknown option '") + argv[optind - 1] + "'");
    }
    return -1;
}

// Reads argv; returns -1 to go on, else the exit status.
int parse(int argc, char** argv, Options* opt)
{
    opterr = 0;
    int c = 0;
    while ((c = getopt_long(argc, argv, "+:j:qhV", kLongOptions, nullptr)) != -1) {
        const bool number = c == OPT_CASES || c == OPT_SEED || c == 'j' || c == OPT_TIMEOUT || c == OPT_MEMORY;
        const int status = number ? numberOption(c, opt) : option(c, argv, opt);
        if (status >= 0)
            return status;
    }
    for (int i = optind; i < argc; i++)
        opt->command.emplace_back(argv[i]);
    if (opt->writeSuite.empty() && opt->command.empty())
        return usage("no COMMAND to check");
    if (!opt->suite.empty() && !opt->writeSuite.empty())
        return usage("--suite and --write-suite do not go together");
    return -1;
}

std::string absolute(const std::string& path)
{
    if (path.empty() || path[0] == '/')
        return path;
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd))
        return path;
    return std::string(cwd) + "/" + path;
}

double now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The signals that stop a run; every thread blocks them, one waits for them.
sigset_t stopSignals()
{
    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, SIGINT);
    sigaddset(&s, SIGTERM);
    sigaddset(&s, SIGHUP);
    return s;
}

std::atomic<bool> stopping{false};
std::atomic<int> stopSignal{0};

// One kind of difference: its cases, and the shrunk first one.
struct Kind {
    std::string kind;
    std::vector<size_t> cases; // indices, ascending
    Case shrunk;
    int runs = 0;
    size_t linesBefore = 0;
};

class Run {
  public:
    Run(const Options& opt, const kc::Program& prog, std::vector<Case> suite)
        : opt_(opt), prog_(prog), suite_(std::move(suite))
    {
        total_ = suite_.empty() ? opt_.cases : suite_.size();
        results_.resize(total_);
        kinds_.resize(total_);
        tty_ = !opt_.quiet && isatty(2);
    }

    int go();

  private:
    const Options& opt_;
    const kc::Program& prog_;
    std::vector<Case> suite_;
    size_t total_ = 0;
    std::vector<kc::CaseResult> results_;
    std::vector<std::string> kinds_; // "" where the case agrees
    std::atomic<size_t> next_{0}, done_{0}, differ_{0};
    bool tty_ = false;
    double start_ = now();

    Case caseAt(size_t i) const
    {
        return suite_.empty() ? kc::kc_Generate(opt_.seed, i) : suite_[i];
    }
    unsigned jobs() const
    {
        return std::max(1U, opt_.jobs);
    }
    void runCases();
    void progress(bool last);
    template <typename F>
    void parallel(size_t n, F work);
    std::string present(size_t number, Kind* k);
    std::vector<Kind> groupKinds() const;
    void shrinkKinds(std::vector<Kind>* kinds);
};

template <typename F>
void Run::parallel(size_t n, F work)
{
    std::atomic<size_t> at{0};
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < std::min<size_t>(jobs(), n); t++) {
        threads.emplace_back([&]() {
            for (size_t i = at++; i < n && !stopping; i = at++)
                work(i);
        });
    }
    for (std::thread& t : threads)
        t.join();
}

void Run::progress(bool last)
{
    const size_t done = done_, differ = differ_;
    if (tty_) {
        const int width = 30;
        const int fill = total_ ? static_cast<int>(done * width / total_) : width;
        std::fprintf(stderr, "\r[%.*s%*s] %zu/%zu cases, %zu differ, %.1f s", fill,
                     "##############################", width - fill, "", done, total_, differ, now() - start_);
        if (last)
            std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
}

void Run::runCases()
{
    std::mutex lock;
    std::condition_variable finished;
    bool over = false;
    std::thread waiter([&]() {
        parallel(total_, [&](size_t i) {
            const Case c = caseAt(i);
            const double t0 = now();
            const kc::Trial t = kc::kc_Try(prog_, c, opt_.limits);
            kc::CaseResult& r = results_[i];
            r.name = c.name;
            r.seconds = now() - t0;
            r.agrees = !t.diff.differs;
            r.failedToRun = t.diff.kind == "could not be run";
            r.err = t.got.err.substr(0, 4096);
            if (t.diff.differs) {
                kinds_[i] = t.diff.kind;
                r.output = t.diff.summary;
                differ_++;
            } else {
                r.output = "The output agrees with kelmem's.";
            }
            // Plain progress: a line at each quarter, no times (so that
            // two runs print the same).
            const size_t d = ++done_;
            if (!tty_ && !opt_.quiet && total_ >= 40 && d % (total_ / 4) == 0 && d < total_) {
                std::lock_guard<std::mutex> g(lock);
                std::fflush(stdout);
                std::fprintf(stderr, "kelmem-check: %zu of %zu cases run\n", d, total_);
            }
        });
        std::lock_guard<std::mutex> g(lock);
        over = true;
        finished.notify_all();
    });
    std::unique_lock<std::mutex> g(lock);
    while (!over) {
        finished.wait_for(g, std::chrono::milliseconds(200));
        if (!over) {
            g.unlock();
            progress(false);
            g.lock();
        }
    }
    g.unlock();
    waiter.join();
    progress(true);
}

std::string Run::present(size_t number, Kind* k)
{
    const size_t first = k->cases.front();
    std::string out;
    out += "Difference " + std::to_string(number) + ": " + kc::kc_Utf8(k->kind) + ", in " +
           results_[first].name;
    if (k->cases.size() > 1) {
        out += " and " + std::to_string(k->cases.size() - 1) + " more case" + (k->cases.size() > 2 ? "s" : "");
    }
    out += "\n";
    // Run the shrunk case once more, keeping its folder for the explanation.
    std::string error;
    const std::string dir = kc::kc_CaseDir(&error);
    kc::Expected exp;
    kc::Outcome got;
    std::string why;
    Case shown = k->shrunk;
    kc::Difference diff;
    if (!dir.empty() && kc::kc_WriteCase(dir, shown, &error)) {
        exp = kc::kc_Reference(dir, shown.args);
        got = kc::kc_Run(prog_, dir, shown.args, opt_.limits, kc::kc_OutputBound(exp.out.size()));
        diff = kc::kc_Compare(exp, got, opt_.limits);
        if (diff.differs && diff.line > 0 && diff.offset < exp.out.size())
            why = kc::kc_Explain(dir, shown.args, diff.offset);
    }
    if (!dir.empty())
        kc::kc_RemoveTree(dir);
    const size_t lines = kc::kc_Lines(shown);
    if (k->runs > 0)
        out += "The case, shrunk from " + std::to_string(k->linesBefore) + " lines to " + std::to_string(lines) +
               " (" + std::to_string(k->runs) + " runs):\n";
    else
        out += "The case (" + std::to_string(lines) + " lines):\n";
    out += kc::kc_ShowCase(shown, prog_);
    if (!diff.differs) {
        out += "(This time the program agreed: it does not always do the same.)\n";
    } else if (diff.line > 0) {
        out += "Output line " + std::to_string(diff.line) + " differs:\n" + kc::kc_Context(exp, got, diff.line);
        if (!why.empty())
            out += "kelmem-view explains kelmem's line: " + kc::kc_Utf8(why) + "\n";
    } else {
        out += kc::kc_Utf8(diff.summary) + "\n";
    }
    if (!got.err.empty()) {
        std::string err = got.err.substr(0, 600);
        out += "Its standard error" + std::string(got.err.size() > 600 ? " began" : " was") + ":\n" +
               kc::kc_Utf8(kc::kc_Escape(err)) + "\n";
    }
    if (!opt_.keep.empty()) {
        const std::string where = opt_.keep + "/" + results_[first].name;
        if (kc::kc_SaveCase(where, shown, &exp, &got, &prog_, &error))
            out += "Kept in " + where + "/ (rerun: cd there && ./run.sh | diff expected.out -)\n";
        else
            out += "Not kept: " + error + "\n";
    }
    return out;
}

std::vector<Kind> Run::groupKinds() const
{
    // Each kind with its cases, in the order of their first case: the same
    // whatever order the jobs finished in.
    std::vector<Kind> kinds;
    std::map<std::string, size_t> byKind;
    for (size_t i = 0; i < total_; i++) {
        if (kinds_[i].empty())
            continue;
        auto it = byKind.find(kinds_[i]);
        if (it == byKind.end()) {
            byKind[kinds_[i]] = kinds.size();
            kinds.push_back({kinds_[i], {i}, {}, 0, 0});
        } else {
            kinds[it->second].cases.push_back(i);
        }
    }
    return kinds;
}

void Run::shrinkKinds(std::vector<Kind>* kinds)
{
    // The first case of each kind, several kinds at once.
    std::atomic<size_t> shrunk{0};
    parallel(kinds->size(), [&](size_t k) {
        Kind& kind = (*kinds)[k];
        const Case c = caseAt(kind.cases.front());
        kind.linesBefore = kc::kc_Lines(c);
        const bool slow = kind.kind == "timeout";
        kind.shrunk = kc::kc_Shrink(prog_, c, kind.kind, opt_.limits, kShrinkRuns,
                                    slow ? kShrinkSecondsSlow : kShrinkSeconds, &stopping, &kind.runs);
        if (tty_) {
            std::fprintf(stderr, "\rshrinking: %zu of %zu differences done\033[K", ++shrunk, kinds->size());
            std::fflush(stderr);
        }
    });
    if (tty_)
        std::fputs("\r\033[K", stderr);
}

int Run::go()
{
    runCases();
    if (stopping)
        return 0;
    std::vector<Kind> kinds = groupKinds();
    shrinkKinds(&kinds);
    if (stopping)
        return 0;
    for (size_t k = 0; k < kinds.size(); k++) {
        const std::string text = present(k + 1, &kinds[k]);
        std::fputs(("\n" + text).c_str(), stdout);
        results_[kinds[k].cases.front()].output = text;
        for (size_t j = 1; j < kinds[k].cases.size(); j++)
            results_[kinds[k].cases[j]].output +=
                "\nThe same kind of difference as " + results_[kinds[k].cases.front()].name + ": " + kinds[k].kind;
    }
    const size_t differ = differ_;
    std::printf("\n%zu case%s: %zu agree%s, %zu differ%s", total_, total_ == 1 ? "" : "s", total_ - differ,
                total_ - differ == 1 ? "s" : "", differ, differ == 1 ? "s" : "");
    if (differ > 0)
        std::printf(" in %zu way%s", kinds.size(), kinds.size() == 1 ? "" : "s");
    if (suite_.empty())
        std::printf(" (seed %llu)", static_cast<unsigned long long>(opt_.seed));
    std::printf("\n");
    std::fflush(stdout);
    std::string error;
    if (!opt_.report.empty() && !kc::kc_WriteReport(opt_.report, results_, &error)) {
        std::fprintf(stderr, "kelmem-check: %s\n", error.c_str());
        return kExitUsage;
    }
    return differ > 0 ? kExitDiffer : 0;
}

int writeSuite(const Options& opt)
{
    std::string error;
    for (uint64_t i = 0; i < opt.cases; i++) {
        const Case c = kc::kc_Generate(opt.seed, i);
        const std::string dir = absolute(opt.writeSuite) + "/" + c.name;
        if (!kc::kc_SaveCase(dir, c, nullptr, nullptr, nullptr, &error)) {
            std::fprintf(stderr, "kelmem-check: %s\n", error.c_str());
            return kExitUsage;
        }
        // Written again with kelmem's output, which needs the files there.
        const kc::Expected exp = kc::kc_Reference(dir, c.args);
        if (!kc::kc_SaveCase(dir, c, &exp, nullptr, nullptr, &error)) {
            std::fprintf(stderr, "kelmem-check: %s\n", error.c_str());
            return kExitUsage;
        }
    }
    if (!opt.quiet)
        std::printf("kelmem-check: wrote %llu cases to %s (seed %llu)\n", static_cast<unsigned long long>(opt.cases),
                    opt.writeSuite.c_str(), static_cast<unsigned long long>(opt.seed));
    return 0;
}

// Finds the program, reads the suite and makes paths absolute; -1 to go
// on, else the exit status.
int prepare(Options* opt, kc::Program* prog, std::vector<Case>* suite)
{
    std::string error;
    prog->name = opt->command[0];
    prog->path = kc::kc_FindProgram(opt->command[0], &error);
    if (prog->path.empty()) {
        std::fprintf(stderr, "kelmem-check: %s\n", error.c_str());
        return kExitUsage;
    }
    // The program runs in the case's folder: arguments that name files here
    // (a student's script for an interpreter) go as absolute paths.
    for (size_t i = 1; i < opt->command.size(); i++) {
        struct stat st;
        const std::string& a = opt->command[i];
        prog->args.push_back(a[0] != '-' && stat(a.c_str(), &st) == 0 ? absolute(a) : a);
    }
    if (!opt->suite.empty() && !kc::kc_ReadSuite(opt->suite, suite, &error)) {
        std::fprintf(stderr, "kelmem-check: %s\n", error.c_str());
        return kExitUsage;
    }
    if (!opt->keep.empty())
        opt->keep = absolute(opt->keep);
    if (!opt->report.empty())
        opt->report = absolute(opt->report);
    return -1;
}

// Ctrl+C and kill: one thread waits for the signal, stops the run and kills
// the running programs; the folders are removed on the way out.
void watchSignals()
{
    signal(SIGPIPE, SIG_IGN);
    const sigset_t stops = stopSignals();
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    std::thread([stops]() {
        int sig = 0;
        if (sigwait(&stops, &sig) == 0) {
            stopSignal = sig;
            stopping = true;
            kc::kc_KillAll();
        }
    }).detach();
}

// After a stopping signal, with every folder removed: ends as that signal
// would have ended the program.
int stopped()
{
    std::fflush(stdout);
    std::fprintf(stderr, "\nkelmem-check: stopped; every case folder removed\n");
    const int sig = stopSignal;
    signal(sig, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(sig);
    return 128 + sig;
}

} // namespace

int main(int argc, char** argv)
{
    Options opt;
    const int parsed = parse(argc, argv, &opt);
    if (parsed >= 0)
        return parsed;
    if (!opt.seedGiven) {
        std::random_device rd;
        opt.seed = (static_cast<uint64_t>(rd()) << 32 ^ rd()) % 1000000000000ULL;
    }
    if (opt.jobs == 0)
        opt.jobs = std::max(1U, std::thread::hardware_concurrency());
    if (!opt.writeSuite.empty())
        return writeSuite(opt);
    kc::Program prog;
    std::vector<Case> suite;
    const int prepared = prepare(&opt, &prog, &suite);
    if (prepared >= 0)
        return prepared;
    watchSignals();
    std::string error;
    if (!kc::kc_SandboxOpen(&error)) {
        std::fprintf(stderr, "kelmem-check: %s\n", error.c_str());
        return kExitUsage;
    }
    if (!opt.quiet) {
        if (suite.empty())
            std::printf("kelmem-check: %llu generated cases, seed %llu\n",
                        static_cast<unsigned long long>(opt.cases), static_cast<unsigned long long>(opt.seed));
        else
            std::printf("kelmem-check: %zu cases of the suite %s\n", suite.size(), opt.suite.c_str());
        std::fflush(stdout);
    }
    int status = 0;
    {
        Run run(opt, prog, std::move(suite));
        status = run.go();
    }
    kc::kc_SandboxClose();
    return stopping ? stopped() : status;
}
