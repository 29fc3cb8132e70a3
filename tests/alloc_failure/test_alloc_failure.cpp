// Every heap request of the core refused in turn. Each scenario (a golden
// case or an example, run as kelmem runs it, or a unit scenario of the lists,
// the manager, the loader and the tokenizer) is run once as it is, then again
// for every N with the Nth request refused: once refusing that request
// alone, once refusing every request from it on. The step or script line
// that meets the refusal must either complete exactly as in the plain run,
// or report ERR_UNKNOWN (a script line: with the error line) and leave
// everything as it was; after every step and line the free list and the live
// segments cover every cell exactly once. The plain run of a script must
// print what the case expects. Leaks and memory errors are the sanitizer
// build's to report.
//
// "As it was" means what any later command can observe: the process table,
// every segment, the free list's areas and the cells inside live segments.
// Cells outside every segment are left out; no report shows them and the
// next reservation that covers them marks them empty first.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "KelAlloc.h"
#include "KelLoad.h"
#include "KelMem.h"
#include "KelParseCmd.h"
#include "kelparse.h"

namespace {

// What a step may work on: the manager, the lists of the list scenario, and
// the text kept by a manager that writes to memory.
struct World {
    KelMM* kmm = nullptr;
    SegList* list[2] = {nullptr, nullptr};
    KelOut text = {KO_MODE_MEMORY, nullptr, nullptr, 0, 0, 0};
};

// An operation; returns its result code and may print.
using StepFn = std::function<int32_t(World&)>;

// The steps run in order; then, when there are any, the scripts run as
// kelmem runs them, each of their lines and banners checked on its own.
struct Scenario {
    std::string name;
    std::string dir; // working folder while it runs; "" keeps the current one
    std::vector<StepFn> steps;
    std::vector<std::string> scripts;
    std::string expected; // what the plain run prints in all; "" unchecked
};

// ---------------------------------------------------------------- state

void describeList(std::string& out, const SegList* list)
{
    for (const SegList* n = KMM_SeekSegListHead(const_cast<SegList*>(list)); n; n = n->next)
        out += " " + std::to_string(n->seg.pos) + "+" + std::to_string(n->seg.len);
    out += "\n";
}

void describeCell(std::string& out, const KelMem& cell)
{
    switch (cell.type) {
    case DATA_INTEGER:
        out += " #" + std::to_string(cell.integer.value);
        break;
    case DATA_STRING:
        out += " \"" + std::string(cell.string.value, strnlen(cell.string.value, 21));
        break;
    case DATA_INSTRUCTION:
        out += " i" + std::to_string(cell.instruction.value);
        break;
    default:
        out += " t" + std::to_string(cell.type);
        break;
    }
}

// Everything a later step can observe, as text.
std::string describe(const World& w)
{
    std::string out;
    for (const SegList* l : w.list)
        describeList(out, l);
    const KelMM* kmm = w.kmm;
    if (!kmm)
        return out + "no manager\n";
    out += "free";
    describeList(out, kmm->memFree);
    for (int32_t id = 0; id < 10; id++) {
        const Process* p = kmm->processList[id];
        if (!p)
            continue;
        out += "P" + std::to_string(id);
        describeList(out, p->segments);
        for (const SegList* s = p->segments; s; s = s->next) {
            for (int32_t i = 0; i < s->seg.len; i++)
                describeCell(out, kmm->mem[s->seg.pos + i]);
        }
        out += "\n";
    }
    return out;
}

// "" when the manager is sound: a sorted, merged free list of positive areas
// and the live segments together cover each cell exactly once, links agree,
// and every live cell holds a segment's tag.
std::string checkManager(const KelMM* kmm)
{
    if (!kmm)
        return "";
    std::vector<int32_t> cover(static_cast<size_t>(kmm->memSize), 0);
    auto take = [&](const SegList* list, bool free) -> std::string {
        const SegList* prev = nullptr;
        for (const SegList* n = list; n; prev = n, n = n->next) {
            const KelSegment s = n->seg;
            if (n->prev != prev)
                return "broken prev link";
            if (s.pos < 0 || s.len < 0 || s.pos > kmm->memSize - s.len)
                return "area outside memory";
            if (free && (s.len == 0 || (prev && prev->seg.pos + prev->seg.len >= s.pos)))
                return "free list not sorted, merged and positive";
            for (int32_t i = s.pos; i < s.pos + s.len; i++) {
                cover[static_cast<size_t>(i)]++;
                DataType_e t = kmm->mem[i].type;
                if (!free && t != DATA_ERROR && t != DATA_INTEGER && t != DATA_STRING &&
                    t != DATA_INSTRUCTION)
                    return "live cell " + std::to_string(i) + " has tag " + std::to_string(t);
            }
        }
        return "";
    };
    std::string err = take(kmm->memFree, true);
    for (int32_t id = 0; id < 10 && err.empty(); id++) {
        const Process* p = kmm->processList[id];
        if (p && p->ID != id)
            err = "process record in the wrong slot";
        else if (p)
            err = take(p->segments, false);
    }
    for (size_t i = 0; i < cover.size() && err.empty(); i++) {
        if (cover[i] != 1)
            err = "cell " + std::to_string(i) + " covered " + std::to_string(cover[i]) + " times";
    }
    return err;
}

// ---------------------------------------------------------------- output

// Standard output goes to a scratch file while scenarios run, so that one
// step's output can be read back.
struct Capture {
    int saved = -1;
    Capture()
    {
        std::fflush(stdout);
        saved = dup(1);
        char name[] = "/tmp/kelmem-allocfail-XXXXXX";
        int fd = mkstemp(name);
        unlink(name);
        dup2(fd, 1);
        close(fd);
    }
    ~Capture()
    {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    static void reset()
    {
        std::fflush(stdout);
        if (ftruncate(1, 0) != 0 || lseek(1, 0, SEEK_SET) != 0)
            std::abort();
    }
    // Everything printed since the last reset.
    static std::string text()
    {
        std::fflush(stdout);
        std::string out;
        char buf[4096];
        off_t at = 0;
        for (ssize_t got; (got = pread(1, buf, sizeof buf, at)) > 0; at += got)
            out.append(buf, static_cast<size_t>(got));
        return out;
    }
};

// ---------------------------------------------------------------- running

const char* const kErrorLine = "******* ERROR: Unknown error.\n";

// What the plain run saw at the end of each unit: a step, or a script line
// or banner.
struct Record {
    int32_t code;
    int64_t made; // requests made since the run began
    std::string out;
    std::string after;
};

void release(World& w)
{
    if (w.kmm) {
        KMM_Free(w.kmm);
        std::free(w.kmm);
        w.kmm = nullptr;
    }
    for (SegList*& l : w.list) {
        KMM_FreeSegList(l);
        l = nullptr;
    }
    KO_Free(&w.text);
}

// One run of a scenario. With `ref` empty it records every unit into it;
// else it checks the unit that meets the refusal against the plain run, and
// the manager's soundness after every unit.
struct Runner {
    const Scenario& sc;
    std::vector<Record>& ref;
    std::vector<std::string>& errs;
    const bool recording;
    const KelAllocFaults plan = kel_allocFaults;
    World w;
    size_t k = 0;       // units done
    bool met = false;   // the refusal has been met
    std::string before; // the state before the unit that meets the refusal
    std::string whole;  // everything the plain run printed

    Runner(const Scenario& s, std::vector<Record>& r, std::vector<std::string>& e)
        : sc(s), ref(r), errs(e), recording(r.empty())
    {
        prepare();
    }

    void fail(const std::string& what)
    {
        errs.push_back(sc.name + " N=" + std::to_string(plan.failAt) +
                       (plan.persist ? " onwards" : " once") + " unit " + std::to_string(k) + ": " +
                       what);
    }

    // Until the refusal every unit repeats the plain run, so the unit that
    // meets it is known beforehand; its starting state is kept.
    void prepare()
    {
        const int64_t from = k > 0 && k <= ref.size() ? ref[k - 1].made : 0;
        if (!recording && !met && k < ref.size() && plan.failAt > from &&
            plan.failAt <= ref[k].made)
            before = describe(w);
    }

    // A refused unit reports ERR_UNKNOWN, changes nothing and prints at most
    // its echo; a script line adds the error line. A completed one does what
    // the plain run did; text it could not keep in memory is flagged.
    void check(int32_t code, bool scriptLine, const std::string& out)
    {
        const Record& r = ref[k];
        const std::string now = describe(w);
        const std::string echo = r.out.substr(0, r.out.find('\n') + 1);
        const std::string tail = scriptLine ? kErrorLine : "";
        bool completed = code == r.code && now == r.after && (out == r.out || w.text.failed);
        bool refused = code == ERR_UNKNOWN && now == before &&
                       (out == tail || (!echo.empty() && out == echo + tail));
        if (!completed && !refused)
            fail("neither completed nor refused cleanly: code " + std::to_string(code) +
                 " (plain run " + std::to_string(r.code) + ")\n--- output\n" + out +
                 "--- plain run output\n" + r.out + "--- state before\n" + before +
                 "--- state after\n" + now + "--- plain run after\n" + r.after);
    }

    void unitDone(int32_t code, bool scriptLine)
    {
        std::string out = Capture::text();
        Capture::reset();
        if (recording) {
            ref.push_back({code, kel_allocFaults.made, out, describe(w)});
            whole += out;
        } else if (!met && kel_allocFaults.refused > 0) {
            met = true;
            if (k < ref.size())
                check(code, scriptLine, out);
            else
                fail("the plain run had no such unit");
        }
        std::string bad = checkManager(w.kmm);
        if (!bad.empty())
            fail(bad);
        k++;
        prepare();
    }
};

void seen(void* ctx, const KelEvent* e)
{
    const bool line = e->kind == EVENT_LINE;
    static_cast<Runner*>(ctx)->unitDone(line ? e->error : ERR_NONE, line);
}

// Runs the scenario once; returns everything a recording run printed.
std::string run(const Scenario& sc, std::vector<Record>& ref, std::vector<std::string>& errs)
{
    Runner r(sc, ref, errs);
    Capture::reset();
    for (size_t i = 0; i < sc.steps.size(); i++) {
        int32_t code = sc.steps[i](r.w);
        r.unitDone(code, false);
        if (i == 0 && code != ERR_NONE) {
            release(r.w); // nothing to go on with; kelmem stops here too
            return r.whole;
        }
    }
    if (!sc.scripts.empty()) {
        std::vector<const char*> files;
        for (const std::string& f : sc.scripts)
            files.push_back(f.c_str());
        const KelObserver obs = {seen, &r};
        KMM_RunFiles(r.w.kmm, static_cast<int32_t>(files.size()), files.data(), &obs);
    }
    release(r.w);
    return r.whole;
}

std::string readFile(const std::string& path)
{
    std::string text;
    std::FILE* fp = std::fopen(path.c_str(), "rb");
    char buf[4096];
    for (size_t got; fp && (got = std::fread(buf, 1, sizeof buf, fp)) > 0;)
        text.append(buf, got);
    if (fp)
        std::fclose(fp);
    return text;
}

// Runs sc plain, then with each request refused in turn; returns the breaches.
std::vector<std::string> sweep(const Scenario& sc, int64_t* requests)
{
    std::vector<Record> ref;
    std::vector<std::string> errs;
    Capture capture;
    kel_allocFaults = {0, 0, false, 0};
    std::string whole = run(sc, ref, errs);
    if (!sc.expected.empty() && whole != readFile(sc.expected))
        errs.push_back(sc.name + ": the plain run does not print " + sc.expected);
    const int64_t total = kel_allocFaults.made;
    for (int64_t n = 1; n <= total; n++) {
        for (bool persist : {false, true}) {
            kel_allocFaults = {0, n, persist, 0};
            run(sc, ref, errs);
        }
    }
    kel_allocFaults = {0, 0, false, 0};
    *requests = total;
    return errs;
}

// ---------------------------------------------------------------- scenarios

StepFn create()
{
    return [](World& w) -> int32_t {
        w.kmm = KMM_Create(1000);
        return w.kmm ? ERR_NONE : ERR_UNKNOWN;
    };
}

// kelmem run on the files of a folder: its manager, then the scripts.
Scenario scriptScenario(const std::string& name, const std::string& dir,
                        const std::vector<std::string>& args, const std::string& expected)
{
    return {name, dir, {create()}, args, expected};
}

std::vector<std::string> readArgs(const std::string& file)
{
    std::vector<std::string> args;
    std::FILE* fp = std::fopen(file.c_str(), "r");
    char buf[4096];
    while (fp && std::fgets(buf, sizeof buf, fp)) {
        std::string a = buf;
        a.erase(a.find_last_not_of("\r\n") + 1);
        if (!a.empty())
            args.push_back(a);
    }
    if (fp)
        std::fclose(fp);
    return args;
}

// True when one node of the list holds every cell of {pos, len}.
bool holds(SegList* list, int32_t pos, int32_t len)
{
    for (SegList* n = KMM_SeekSegListHead(list); n; n = n->next) {
        if (n->seg.pos <= pos && pos + len <= n->seg.pos + n->seg.len)
            return true;
    }
    return false;
}

// Takes {pos, len} out of list i; ERR_UNKNOWN when the list still holds it.
StepFn removeArea(int i, int32_t pos, int32_t len)
{
    return [=](World& w) -> int32_t {
        w.list[i] = KMM_RemoveAreaFromSegList(w.list[i], pos, len);
        return holds(w.list[i], pos, len) ? ERR_UNKNOWN : ERR_NONE;
    };
}

// Puts {pos, len} into list i; ERR_UNKNOWN when the list does not hold it.
StepFn addArea(int i, int32_t pos, int32_t len)
{
    return [=](World& w) -> int32_t {
        w.list[i] = KMM_AddAreaToSegList(w.list[i], pos, len);
        return holds(w.list[i], pos, len) ? ERR_NONE : ERR_UNKNOWN;
    };
}

// The list operations. When memory runs out they keep the list as it was;
// whether the area went in or out tells which happened.
Scenario listScenario()
{
    std::vector<StepFn> g = {
        [](World& w) -> int32_t {
            w.list[0] = KMM_CreateSegList(0, 1000, nullptr, nullptr);
            return w.list[0] ? ERR_NONE : ERR_UNKNOWN;
        },
        removeArea(0, 100, 50),
        removeArea(0, 300, 10),
        addArea(0, 120, 10),
        addArea(0, 150, 150),
        addArea(0, 500, 10), // already held: nothing to add
        [](World& w) -> int32_t {
            w.list[1] = KMM_CopySegList(w.list[0]);
            return w.list[1] ? ERR_NONE : ERR_UNKNOWN;
        },
        removeArea(1, 600, 5),
        addArea(1, 700, 1),
        // Two overlapping areas: one cut splits both, so needs two nodes.
        [](World& w) -> int32_t {
            SegList* a = KMM_CreateSegList(0, 100, nullptr, nullptr);
            SegList* b = a ? KMM_CreateSegList(10, 50, nullptr, nullptr) : nullptr;
            if (!b) {
                std::free(a);
                return ERR_UNKNOWN;
            }
            KMM_FreeSegList(w.list[1]);
            w.list[1] = KMM_SeekSegListHead(KMM_AppendSegList(a, b));
            return ERR_NONE;
        },
        [](World& w) -> int32_t {
            return KMM_CutAreaFromSegList(&w.list[1], 20, 5) == 0 ? ERR_NONE : ERR_UNKNOWN;
        },
    };
    return {"lists", "", g, {}, ""};
}

// The manager's operations, each of which may need memory.
Scenario managerScenario()
{
    static const int32_t sizes1[] = {10, 0, 20};
    static const int32_t sizes2[] = {50, 5};
    static const int32_t sizes3[] = {40, 10};
    static const int32_t sizes4[] = {1, 2, 900, 3};
    std::vector<StepFn> g = {
        create(),
        [](World& w) {
            return static_cast<int32_t>(KMM_AllocateProcessAt(w.kmm, 1, 100, 3, sizes1));
        },
        [](World& w) { return static_cast<int32_t>(KMM_AllocateProcess(w.kmm, 2, 2, sizes2)); },
        [](World& w) {
            return static_cast<int32_t>(KMM_AllocateProcessAt(w.kmm, 3, 55, 2, sizes3));
        },
        [](World& w) { return static_cast<int32_t>(KMM_StoreInteger(w.kmm, 1, 115, 7)); },
        [](World& w) { return static_cast<int32_t>(KMM_StoreString(w.kmm, 2, 52, "five")); },
        [](World& w) { return static_cast<int32_t>(KMM_PrintAllMemory(w.kmm)); },
        // Freed behind its owner's back, then the owner ends: the second
        // give-back of {0, 50} is refused as already free.
        [](World& w) { return static_cast<int32_t>(KMM_FreeSegment(w.kmm, 110, 0)); },
        [](World& w) {
            ErrMessage_t err = KMM_FreeSegment(w.kmm, 0, 50);
            return static_cast<int32_t>(err == ERR_NONE ? KMM_TerminateProcess(w.kmm, 2) : err);
        },
        [](World& w) { return static_cast<int32_t>(KMM_AllocateProcess(w.kmm, 4, 4, sizes4)); },
        [](World& w) { return static_cast<int32_t>(KMM_AllocateProcess(w.kmm, 5, 3, sizes1)); },
        [](World& w) { return static_cast<int32_t>(KMM_TerminateProcess(w.kmm, 1)); },
        [](World& w) { return static_cast<int32_t>(KMM_PrintAllMemory(w.kmm)); },
        // The text kept in memory, then handed on to standard output.
        [](World& w) {
            w.kmm->out = &w.text;
            w.text.failed = 0;
            int32_t code = KMM_ParseLine("P0 PrintProcessTable\n", w.kmm, 1);
            // Kept text has no block until its first byte (buf is null when
            // that request was refused), and the C library's functions take
            // no null pointer, not even for nothing.
            if (w.text.len > 0)
                std::fwrite(w.text.buf, 1, w.text.len, stdout);
            w.text.len = 0;
            return code;
        },
    };
    return {"manager", "", g, {}, ""};
}

// The loader on its own: a file with a line longer than the first line
// buffer, a file that fails half way, and the line reader.
Scenario loaderScenario(const std::string& dir)
{
    std::string longLine(300, ' ');
    longLine += "#1 #2 \"three\n";
    std::FILE* f = std::fopen((dir + "/prog.txt").c_str(), "w");
    std::fprintf(f, "8585\n3\n2 4 1\nRUN HALT\n%s\"x // note\n", longLine.c_str());
    std::fclose(f);
    f = std::fopen((dir + "/bad.txt").c_str(), "w");
    std::fprintf(f, "8585\n2\n1 2\nRUN\n/x\n"); // "/x" is no comment, and no value
    std::fclose(f);
    std::vector<StepFn> g = {
        create(),
        [](World& w) { return static_cast<int32_t>(KelMM_Load(w.kmm, 1, "prog.txt", 10)); },
        [](World& w) { return static_cast<int32_t>(KelMM_Load(w.kmm, 2, "bad.txt", 600)); },
        [](World&) -> int32_t {
            char buf[8];
            std::FILE* fp = std::fopen("prog.txt", "r");
            int32_t n = 0;
            char** list = GetExplodedLine(buf, sizeof buf, fp, &n);
            std::fclose(fp);
            FreeStrList(list);
            return list && n == 1 ? ERR_NONE : ERR_UNKNOWN;
        },
    };
    return {"loader", dir, g, {}, ""};
}

Scenario tokenizerScenario()
{
    std::vector<StepFn> g = {[](World&) -> int32_t {
        std::string line = "one  two\tthree " + std::string(120, 'x') + " // four five";
        char** list = Explode(line.c_str());
        int32_t n = 0;
        while (list && list[n])
            n++;
        FreeStrList(list);
        return n == 5 ? ERR_NONE : ERR_UNKNOWN;
    }};
    return {"tokenizer", "", g, {}, ""};
}

// A scratch folder, removed with its files when the program ends.
const std::string& scratch()
{
    static struct Dir {
        std::string path;
        Dir()
        {
            char tmpl[] = "/tmp/kelmem-allocfail-dir-XXXXXX";
            path = mkdtemp(tmpl);
        }
        ~Dir()
        {
            int rc = std::system(("rm -rf '" + path + "'").c_str());
            (void)rc;
        }
    } dir;
    return dir.path;
}

std::vector<std::string> goldenCases()
{
    std::vector<std::string> names;
    DIR* d = opendir(KELMEM_CLI_DIR);
    for (dirent* e = d ? readdir(d) : nullptr; e; e = readdir(d)) {
        // A case without scripts only shows the usage, made before any request.
        std::string n = e->d_name;
        if (n[0] != '.' && !readArgs(std::string(KELMEM_CLI_DIR "/") + n + "/args").empty())
            names.push_back(n);
    }
    if (d)
        closedir(d);
    std::sort(names.begin(), names.end());
    names.insert(names.end(),
                 {"example-demo", "example-errors", "lists", "manager", "loader", "tokenizer"});
    return names;
}

Scenario scenarioNamed(const std::string& name)
{
    // The examples: a script name.txt that prints name.out.
    if (name.rfind("example-", 0) == 0) {
        std::string script = name.substr(8);
        return scriptScenario(name, KELMEM_EXAMPLES_DIR, {script + ".txt"},
                              KELMEM_EXAMPLES_DIR "/" + script + ".out");
    }
    if (name == "lists")
        return listScenario();
    if (name == "manager")
        return managerScenario();
    if (name == "loader")
        return loaderScenario(scratch());
    if (name == "tokenizer")
        return tokenizerScenario();
    std::string dir = std::string(KELMEM_CLI_DIR "/") + name;
    return scriptScenario(name, dir, readArgs(dir + "/args"), dir + "/expected.out");
}

class AllocationFailure : public testing::TestWithParam<std::string> {};

} // namespace

TEST_P(AllocationFailure, EveryRequestRefusedInTurn)
{
    Scenario sc = scenarioNamed(GetParam());
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    if (!sc.dir.empty()) {
        ASSERT_EQ(chdir(sc.dir.c_str()), 0);
    }
    int64_t requests = 0;
    std::vector<std::string> errs = sweep(sc, &requests);
    ASSERT_EQ(chdir(cwd), 0);
    RecordProperty("requests", static_cast<int>(requests));
    EXPECT_GT(requests, 0) << "the scenario makes no request to refuse";
    for (size_t i = 0; i < errs.size() && i < 5; i++)
        ADD_FAILURE() << errs[i];
    EXPECT_EQ(errs.size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, AllocationFailure, testing::ValuesIn(goldenCases()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string n = info.param;
                             std::replace(n.begin(), n.end(), '-', '_');
                             return n;
                         });

// ---------------------------------------------------------------- findings

namespace {

// Refuses the nth request of what follows, counted from 1, and with
// `persist` every later one too.
void refuse(int64_t n, bool persist)
{
    kel_allocFaults = {0, n, persist, 0};
}

std::string areas(SegList* list)
{
    std::string out;
    describeList(out, list);
    return out;
}

// A manager of 1000 cells, made while no request is refused.
struct Manager {
    KelMM* kmm;
    Manager() : kmm((kel_allocFaults = {0, 0, false, 0}, KMM_Create(1000))) {}
    ~Manager()
    {
        kel_allocFaults = {0, 0, false, 0};
        KMM_Free(kmm);
        std::free(kmm);
    }
    Manager(const Manager&) = delete;
    Manager& operator=(const Manager&) = delete;
};

// One finding of the sweep: the operation at the request that exposed it,
// and what must hold now.
struct Finding {
    const char* what;
    std::function<std::string()> check; // "" when it holds
};

std::string expect(bool ok, const std::string& got)
{
    return ok ? "" : got;
}

const int32_t kTwoSegments[] = {10, 10};

const Finding kFindings[] = {
    {"a removal that splits an area without a node for the upper part keeps the area",
     [] {
         SegList* list = KMM_CreateSegList(0, 1000, nullptr, nullptr);
         refuse(1, false);
         list = KMM_RemoveAreaFromSegList(list, 100, 50);
         std::string got = areas(list);
         KMM_FreeSegList(list);
         return expect(got == " 0+1000\n", got);
     }},
    {"a copy that runs out of memory is no copy at all, not a shorter list",
     [] {
         SegList* list = KMM_CreateSegList(0, 10, nullptr, nullptr);
         KMM_AppendSegList(list, KMM_CreateSegList(20, 10, nullptr, nullptr));
         KMM_AppendSegList(list, KMM_CreateSegList(40, 10, nullptr, nullptr));
         refuse(2, false);
         SegList* copy = KMM_CopySegList(list);
         kel_allocFaults = {0, 0, false, 0};
         KMM_FreeSegList(list);
         std::string got = areas(copy);
         KMM_FreeSegList(copy);
         return expect(copy == nullptr, got);
     }},
    {"an add without a node leaves the list as it was and says so to the manager",
     [] {
         Manager m;
         KMM_AllocateProcessAt(m.kmm, 1, 100, 2, kTwoSegments);
         KMM_AllocateProcessAt(m.kmm, 2, 300, 2, kTwoSegments);
         refuse(1, false);
         ErrMessage_t err = KMM_FreeSegment(m.kmm, 110, 10);
         std::string got = std::to_string(err) + areas(m.kmm->memFree);
         return expect(got == "-1 0+100 120+180 320+680\n", got);
     }},
    {"a reservation whose split cannot be had reports it and changes nothing",
     [] {
         Manager m;
         refuse(1, false);
         ErrMessage_t err = KMM_AllocateSegmentAt(m.kmm, 100, 10);
         std::string got =
             std::to_string(err) + areas(m.kmm->memFree) + std::to_string(m.kmm->mem[100].type);
         return expect(got == "-1 0+1000\n0", got);
     }},
    {"a process whose second segment gets no node gives the first back",
     [] {
         Manager m;
         refuse(4, true); // the record, a node, the split, the second node
         ErrMessage_t err = KMM_AllocateProcessAt(m.kmm, 1, 100, 2, kTwoSegments);
         std::string got = std::to_string(err) + areas(m.kmm->memFree);
         return expect(got == "-1 0+1000\n" && !m.kmm->processList[1], got);
     }},
    {"ending a process needs no memory, so none is lost when there is none",
     [] {
         Manager m;
         KMM_AllocateProcessAt(m.kmm, 1, 100, 2, kTwoSegments);
         refuse(1, true);
         ErrMessage_t err = KMM_TerminateProcess(m.kmm, 1);
         std::string got = std::to_string(err) + areas(m.kmm->memFree);
         return expect(got == "12 0+1000\n", got);
     }},
    {"PrintAllMemory without memory for its copy prints nothing and says so",
     [] {
         Manager m;
         KMM_AllocateProcessAt(m.kmm, 1, 100, 2, kTwoSegments);
         KMM_StoreInteger(m.kmm, 1, 115, 5);
         refuse(2, false);
         ErrMessage_t err = ERR_NONE;
         testing::internal::CaptureStdout();
         err = KMM_PrintAllMemory(m.kmm);
         std::string got = std::to_string(err) + testing::internal::GetCapturedStdout();
         return expect(got == "-1", got);
     }},
    {"a load whose process record cannot be had is no lack of main memory",
     [] {
         Manager m;
         const std::string path = scratch() + "/header.txt";
         std::FILE* f = std::fopen(path.c_str(), "w");
         std::fputs("8585\n1\n3\n", f);
         std::fclose(f);
         // The header costs what a plain load makes less the record, its
         // node and the split of the free area.
         kel_allocFaults = {0, 0, false, 0};
         KelMM_Load(m.kmm, 1, path.c_str(), 100);
         KMM_TerminateProcess(m.kmm, 1);
         refuse(kel_allocFaults.made - 2, false);
         ErrMessage_t err = KelMM_Load(m.kmm, 1, path.c_str(), 100);
         std::string got = std::to_string(err) + areas(m.kmm->memFree);
         return expect(got == "-1 0+1000\n", got);
     }},
    {"a line that runs out of memory gets the error line, and the script goes on",
     [] {
         Manager m;
         KMM_AllocateProcessAt(m.kmm, 1, 100, 2, kTwoSegments);
         const std::string path = scratch() + "/script.txt";
         std::FILE* f = std::fopen(path.c_str(), "w");
         std::fputs("P0 PrintAllMemory\nP1 TerminateProcess\n", f);
         std::fclose(f);
         refuse(1, false); // the copy of process 1's segments
         testing::internal::CaptureStdout();
         int32_t rc = KMM_ParseFile(path.c_str(), m.kmm);
         std::string got = std::to_string(rc) + "\n" + testing::internal::GetCapturedStdout();
         return expect(got == "0\n   1 P0 PrintAllMemory\n******* ERROR: Unknown error.\n"
                              "   2 P1 TerminateProcess\n",
                       got);
     }},
};

} // namespace

TEST(AllocationFailureFindings, EachKeepsEverythingAndSaysSo)
{
    for (const Finding& f : kFindings) {
        std::string bad = f.check();
        kel_allocFaults = {0, 0, false, 0};
        EXPECT_EQ(bad, "") << f.what;
    }
}
