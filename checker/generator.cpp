// The generator of cases: random but reproducible scripts and load files
// that reach every command, error message and report, and the edges where
// implementations go wrong. Half of the cases are short and focused on one
// theme (an edge of the load-file format, a store at an edge, memory filled
// exactly, holes merged on both sides, ...); the other half are longer
// scripts that mix everything.
//
// The generator keeps a rough model of the machine (which process holds
// which cells) only to aim its commands: at a live process, at the cell
// just past one, into the hole a termination left. The model may be wrong
// (a load it thought would work may fail); the expected output always comes
// from kelmem's core, never from here.

#include <algorithm>
#include <array>

#include "check.h"

namespace kc {

namespace {

// splitmix64: small, fast, and the same sequence on every platform (the
// standard library's distributions are not).
struct Rng {
    uint64_t s;
    uint64_t next()
    {
        uint64_t z = (s += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    // 0 .. n-1
    uint32_t below(uint32_t n)
    {
        return n == 0 ? 0 : static_cast<uint32_t>(((next() >> 32) * n) >> 32);
    }
    int range(int lo, int hi)
    {
        return lo + static_cast<int>(below(static_cast<uint32_t>(hi - lo + 1)));
    }
    bool chance(int percent)
    {
        return static_cast<int>(below(100)) < percent;
    }
    template <typename T, size_t N>
    const T& pick(const T (&items)[N])
    {
        return items[below(N)];
    }
    template <typename T>
    const T& pick(const std::vector<T>& items)
    {
        return items[below(static_cast<uint32_t>(items.size()))];
    }
};

constexpr int kCells = 1000;

// Numbers at the edges: of memory, of 32 bits signed and unsigned, leading
// zeros, and far too long.
const char* const kNumbers[] = {"0",          "1",          "2",          "7",
                                "42",         "999",        "1000",       "2147483647",
                                "2147483648", "4294967295", "4294967296", "99999999999",
                                "007",        "0000000042", "123456"};

const char* const kKeywords[] = {"LoadFile",       "PrintProcessTable", "PrintProcessMemory", "STORE",
                                 "TerminateProcess", "PrintAllMemory",    "END"};

enum class LoadResult { Loads, Fails, StaysLoaded };

struct LoadFile {
    std::string name;
    std::vector<int> sizes; // as the file declares them, when it does
    int total = 0;
    LoadResult result = LoadResult::Fails;
};

struct Proc {
    bool live = false;
    int pos = 0;
    std::vector<int> sizes;
    int total() const
    {
        int t = 0;
        for (int s : sizes)
            t += s;
        return t;
    }
};

class Gen {
  public:
    explicit Gen(uint64_t seed) : r{seed} {}
    Case make(const std::string& name);

  private:
    Rng r;
    Case c;
    std::vector<LoadFile> loads;
    std::vector<std::string> missing; // load-file names that no file has
    Proc procs[10];
    int owner[kCells];
    int nameSerial = 0;

    // ---- tokens and lines
    std::string sep()
    {
        static const char* const seps[] = {" ", " ", " ", " ", "\t", "  ", " \t ", "\v", "\f", " \r "};
        return r.chance(85) ? " " : r.pick(seps);
    }
    char textChar()
    {
        static const char chars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                                    "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~";
        return chars[r.below(sizeof chars - 1)];
    }
    std::string text(int n)
    {
        std::string s;
        for (int i = 0; i < n; i++)
            s += textChar();
        // Now and then a character of more than one byte.
        if (n >= 2 && r.chance(4))
            s.replace(s.size() - 2, 2, "\xc3\xa9");
        return s;
    }
    int stringLength()
    {
        static const int lengths[] = {1, 3, 5, 19, 20, 21, 19, 20, 21, 98, 99, 100};
        return r.chance(50) ? r.range(1, 12) : r.pick(lengths);
    }
    std::string number()
    {
        return r.chance(50) ? std::to_string(r.range(0, 2000)) : r.pick(kNumbers);
    }
    std::string proc(int id)
    {
        return "P" + std::to_string(id);
    }
    std::string badProc()
    {
        static const char* const bad[] = {"P10", "p1", "P", "P-1", "P4294967296", "P4294967297", "P1x", "P07", "Q1"};
        return r.pick(bad);
    }
    // A line of tokens with blanks between, now and then blanks before,
    // a comment or blanks after, or padded past the line buffer.
    std::string line(const std::vector<std::string>& tokens)
    {
        std::string s;
        if (r.chance(8))
            s += r.chance(50) ? "\t" : "   ";
        for (size_t i = 0; i < tokens.size(); i++) {
            if (i > 0)
                s += sep();
            s += tokens[i];
        }
        if (r.chance(10))
            s += r.chance(50) ? "   // " + text(r.range(0, 30)) : "  \t";
        if (r.chance(7))
            pad(&s);
        return s;
    }
    // Lengthens the line to 158 .. 161 characters, or well past them.
    void pad(std::string* s)
    {
        static const int targets[] = {157, 158, 159, 160, 161, 162, 200, 318, 319, 320};
        const size_t target = static_cast<size_t>(r.pick(targets));
        if (s->size() + 4 > target)
            return;
        switch (r.below(3)) {
        case 0: // a comment runs past the buffer: its rest is read as a command
            *s += " //";
            while (s->size() < target)
                *s += r.chance(15) ? ' ' : textChar();
            break;
        case 1: // blanks only: the spilled piece holds no token
            s->append(target - s->size(), ' ');
            break;
        default: // blanks, then a command in the spilled piece
            s->append(target - s->size() - 2, ' ');
            *s += "P0";
            break;
        }
    }

    // ---- load files
    std::string fileName()
    {
        static const char* const stems[] = {"prog", "a", "data", "p", "img", "x"};
        std::string n = std::string(r.pick(stems)) + std::to_string(nameSerial++);
        if (r.chance(80))
            n += ".txt";
        if (r.chance(4)) {
            // A name at the limit of 20 characters, or one past it.
            const int len = r.range(19, 21);
            while (static_cast<int>(n.size()) < len)
                n += static_cast<char>('a' + r.below(26));
            n.resize(static_cast<size_t>(len));
        }
        return n;
    }
    std::string loadValue(int seg)
    {
        if (seg == 0)
            return r.chance(60) ? "RUN" : "HALT";
        if (r.chance(35)) {
            static const int lengths[] = {1, 2, 5, 8, 18, 19, 19, 19};
            return "\"" + text(r.pick(lengths));
        }
        std::string n = number();
        if (n == "8585" || r.chance(50))
            return "#" + n;
        return n;
    }
    std::string joinValues(const std::vector<std::string>& values, const char* eol)
    {
        std::string s;
        size_t i = 0;
        while (i < values.size()) {
            size_t n = std::min(values.size() - i, static_cast<size_t>(r.range(1, 6)));
            if (r.chance(5))
                n = values.size() - i; // all on one line, which may be long
            std::vector<std::string> toks(values.begin() + static_cast<long>(i),
                                          values.begin() + static_cast<long>(i + n));
            s += line(toks) + eol;
            i += n;
        }
        return s;
    }
    std::vector<int> sizes(int total)
    {
        int k = r.chance(20) ? 1 : r.chance(55) ? 2 : r.chance(50) ? 3 : 4;
        std::vector<int> sz;
        for (int i = 0; i < k; i++) {
            int s = r.chance(10) ? 0 : r.range(1, i < 2 ? 6 : 10);
            if (r.chance(8))
                s = r.range(50, 400);
            sz.push_back(s);
        }
        if (total >= 0) {
            int sum = 0;
            for (int s : sz)
                sum += s;
            // Make them add up to total: the last one takes the rest.
            int rest = total - (sum - sz.back());
            if (rest < 0) {
                sz.assign(1, total);
            } else {
                sz.back() = rest;
            }
        }
        return sz;
    }
    std::string sizeLine(const std::vector<int>& sz)
    {
        std::vector<std::string> toks;
        toks.reserve(sz.size());
        for (int s : sz)
            toks.push_back(r.chance(3) ? "0" + std::to_string(s) : std::to_string(s));
        return line(toks);
    }
    std::string magicLine()
    {
        static const char* const magic[] = {"8585", "8585", "8585", "8585 // magic", "8585 anything else", "  8585"};
        return r.pick(magic);
    }
    std::string countLine(size_t k)
    {
        std::string n = std::to_string(k);
        return r.chance(15) ? n + "   // segments" : n;
    }
    // A load file that loads, with the given total of cells (or any).
    LoadFile validLoad(int total = -1)
    {
        LoadFile lf;
        lf.name = fileName();
        lf.sizes = sizes(total);
        for (int s : lf.sizes)
            lf.total += s;
        lf.result = LoadResult::Loads;
        const char* eol = "\n";
        // One draw per statement: the operands of + are evaluated in an
        // order the compiler chooses, and the cases must not depend on it.
        std::string body = magicLine() + eol;
        body += countLine(lf.sizes.size()) + eol;
        body += sizeLine(lf.sizes) + eol;
        std::vector<std::string> values;
        values.reserve(static_cast<size_t>(lf.total));
        bool full0 = r.chance(85);
        int n0 = full0 ? lf.sizes[0] : r.range(0, lf.sizes[0]);
        for (int i = 0; i < n0; i++)
            values.push_back(loadValue(0));
        if (full0 && lf.sizes.size() > 1) {
            int n1 = r.chance(50) ? lf.sizes[1] : r.range(0, lf.sizes[1]);
            for (int i = 0; i < n1; i++)
                values.push_back(loadValue(1));
        }
        body += joinValues(values, eol);
        if (r.chance(10))
            body += std::string(r.chance(50) ? "" : "   // end") + eol + "RUN RUN #1 never read" + eol;
        decorate(&body);
        c.files.push_back({lf.name, body});
        return lf;
    }
    // A load file whose header is wrong in the way `kind` (0 to 8) says.
    std::string badHeader(uint32_t kind, const std::vector<int>& sz)
    {
        std::string b;
        const int k = static_cast<int>(sz.size());
        switch (kind) {
        case 0: // empty
            break;
        case 1: // no magic on the first line
            b = std::string(r.chance(50) ? "\n" : "// image\n") + "8585\n1\n1\nRUN\n";
            break;
        case 2: { // a magic word that is not one
            static const char* const bad[] = {"08585", "85851", "8585abc", "8585//x", "#8585", "RUN", "858"};
            b = std::string(r.pick(bad)) + "\n1\n1\nRUN\n";
            break;
        }
        case 3: // ends after the magic line
            b = "8585\n";
            break;
        case 4: { // a bad count line
            static const char* const bad[] = {"0", "5", "#2", "2 3", "x", "", "4294967297", "1//c", "8585", "-1"};
            b = std::string("8585\n") + r.pick(bad) + "\n1 1\nRUN\n";
            break;
        }
        case 5: // no sizes
            b = "8585\n" + std::to_string(k) + "\n" + (r.chance(50) ? "\n1\nRUN\n" : "");
            break;
        case 6: { // the wrong number of sizes
            std::vector<int> other = sz;
            if (r.chance(50) || other.size() == 1)
                other.push_back(1);
            else
                other.pop_back();
            b = "8585\n" + std::to_string(k) + "\n" + sizeLine(other) + "\nRUN\n";
            break;
        }
        case 7: { // a size that is no plain number
            static const char* const bad[] = {"x", "#3", "8585", "-1", "3x", "\"3"};
            std::string line3;
            for (int i = 0; i < k; i++)
                line3 += (i ? " " : "") + (i == k - 1 ? std::string(r.pick(bad)) : std::to_string(sz[static_cast<size_t>(i)]));
            b = "8585\n" + std::to_string(k) + "\n" + line3 + "\nRUN\n";
            break;
        }
        case 8: { // sizes too large for memory, or for 32 bits
            static const char* const big[] = {"1001", "1000", "999", "2147483647", "2147483648", "4294967295", "4294967296"};
            b = std::string("8585\n2\n1 ") + r.pick(big) + "\nRUN\n";
            break;
        }
        default:
            break;
        }
        return b;
    }
    // A load file whose values are wrong, or at an edge, in the way `kind`
    // (9 to 15) says; what the loader keeps of it goes into *lf.
    std::string badValues(uint32_t kind, LoadFile* lf)
    {
        std::string b;
        switch (kind) {
        case 9: { // a value that is no instruction in segment 0
            static const char* const bad[] = {"#1", "5", "\"x", "run", "Halt", "\"", "-5", "@5", "8585"};
            b = "8585\n2\n3 2\nRUN " + std::string(r.pick(bad)) + " HALT\n#1\n";
            lf->total = 5;
            break;
        }
        case 10: { // a value that is no integer or string in segment 1
            static const char* const bad[] = {"8585", "RUN", "-5", "@5", "\"", "P1", "#", "#-1", "1.5", "0x10"};
            b = "8585\n2\n1 3\nHALT\n#1 " + std::string(r.pick(bad)) + "\n";
            lf->total = 4;
            break;
        }
        case 11: { // values past segment 1, into segments 2 and 3 or past all
            static const char* const layouts[] = {"2\n1 1\nRUN #1 #2\n", "3\n1 1 5\nHALT 7 8\n",
                                                  "1\n2\nRUN RUN RUN\n", "2\n2 0\nRUN RUN #3\n",
                                                  "4\n1 1 1 1\nRUN 1 2 3 4\n", "2\n0 0\nRUN\n", "3\n1 0 0\nRUN 5\n"};
            b = std::string("8585\n") + r.pick(layouts);
            break;
        }
        case 12: // a string one character past the limit: the process stays
            b = "8585\n2\n1 3\nRUN\n\"" + text(r.chance(50) ? 20 : 21) + " #9\n";
            lf->result = LoadResult::StaysLoaded;
            lf->sizes = {1, 3};
            lf->total = 4;
            break;
        case 13: { // tokens of 99 to 101 characters
            const int len = r.range(99, 101);
            std::string tok = r.chance(50) ? std::string(static_cast<size_t>(len - 1), '0') + "7"
                                           : "\"" + text(len - 1);
            b = "8585\n2\n1 4\nHALT\n" + tok + " #5\n";
            lf->total = 5;
            break;
        }
        case 14: { // a value line longer than the line buffer
            std::string vals;
            int n = 0;
            const auto length = static_cast<size_t>(r.range(150, 330));
            while (vals.size() < length) {
                vals += (n ? " " : "") + std::string(r.chance(50) ? "#12345" : "\"abcdefgh");
                n++;
            }
            b = "8585\n2\n1 " + std::to_string(n + r.range(-1, 1)) + "\nRUN\n" + vals + "\n";
            break;
        }
        default: // zero-sized segments with values after them
            if (r.chance(50)) {
                b = "8585\n2\n0 2\n#1 #2\n";
                lf->sizes = {0, 2};
            } else {
                b = "8585\n3\n1 0 2\nRUN #4\n";
                lf->sizes = {1, 0, 2};
            }
            lf->result = LoadResult::Loads;
            lf->total = lf->sizes.size() == 2 ? 2 : 3;
            break;
        }
        return b;
    }
    // A load file that fails, or loads in part, in one of the ways the
    // format allows.
    LoadFile badLoad()
    {
        LoadFile lf;
        lf.name = fileName();
        const std::vector<int> sz = sizes(-1);
        const uint32_t kind = r.below(16);
        std::string b = kind < 9 ? badHeader(kind, sz) : badValues(kind, &lf);
        decorate(&b);
        c.files.push_back({lf.name, b});
        return lf;
    }
    // Line ends of a file: now and then CRLF, or no line feed at the end.
    void decorate(std::string* data)
    {
        if (data->empty())
            return;
        if (r.chance(10)) {
            std::string crlf;
            for (char ch : *data) {
                if (ch == '\n')
                    crlf += '\r';
                crlf += ch;
            }
            *data = crlf;
        }
        if (r.chance(20) && data->back() == '\n') {
            data->pop_back();
            if (!data->empty() && data->back() == '\r' && r.chance(50))
                data->pop_back();
        }
    }

    // ---- the model
    bool fits(int pos, int total) const
    {
        if (pos < 0 || pos + total > kCells)
            return false;
        for (int i = pos; i < pos + total; i++) {
            if (owner[i] >= 0)
                return false;
        }
        return true;
    }
    void place(int id, int pos, const std::vector<int>& sz)
    {
        procs[id].live = true;
        procs[id].pos = pos;
        procs[id].sizes = sz;
        for (int i = pos; i < pos + procs[id].total(); i++)
            owner[i] = id;
    }
    void drop(int id)
    {
        for (int i = 0; i < kCells; i++) {
            if (owner[i] == id)
                owner[i] = -1;
        }
        procs[id].live = false;
    }
    std::vector<int> live() const
    {
        std::vector<int> ids;
        for (int i = 0; i < 10; i++) {
            if (procs[i].live)
                ids.push_back(i);
        }
        return ids;
    }
    int liveOrAny()
    {
        std::vector<int> ids = live();
        return !ids.empty() && r.chance(85) ? r.pick(ids) : r.range(0, 9);
    }
    int freeSlot()
    {
        std::vector<int> ids;
        for (int i = 0; i < 10; i++) {
            if (!procs[i].live)
                ids.push_back(i);
        }
        return !ids.empty() && r.chance(90) ? r.pick(ids) : r.range(0, 9);
    }
    // A free cell where `total` cells fit, or -1.
    int room(int total)
    {
        std::vector<int> at;
        for (int p = 0; p + total <= kCells; p += std::max(1, total / 2 + 1)) {
            if (fits(p, total))
                at.push_back(p);
        }
        return at.empty() ? -1 : r.pick(at);
    }

    // ---- commands
    std::string loadCommand(int id, int addr, const std::string& file)
    {
        std::string a = "@" + std::to_string(addr);
        if (r.chance(3))
            a = r.chance(50) ? "@0" + std::to_string(addr) : "@" + std::string(r.pick(kNumbers));
        return line({proc(id), "LoadFile", a, "\"" + file});
    }
    // A LoadFile line, aimed at the model: where a process fits, touching or
    // overlapping a live one, filling memory to its end.
    std::string load()
    {
        const int id = freeSlot();
        std::string name;
        const LoadFile* lf = nullptr;
        const int what = static_cast<int>(r.below(100));
        if (what < 62 || loads.empty()) {
            loads.push_back(r.chance(75) ? validLoad() : badLoad());
            lf = &loads.back();
        } else if (what < 85) {
            lf = &r.pick(loads);
        } else if (what < 93 || c.files.empty()) {
            if (missing.empty() || r.chance(30))
                missing.push_back(r.chance(20) ? "nosuch.txt" : fileName());
            name = r.pick(missing);
        } else {
            name = r.pick(c.files).name; // a script, or anything else there
        }
        if (lf)
            name = lf->name;
        const bool quoted = r.chance(4);
        if (quoted)
            name += "\""; // a closing quote is part of the name
        const int total = lf ? lf->total : 1;
        int addr = room(total);
        std::vector<int> ids = live();
        switch (r.below(10)) {
        case 0:
            addr = 0;
            break;
        case 1:
            addr = r.chance(50) ? 999 : kCells - total; // ends at the last cell
            break;
        case 2:
            if (!ids.empty()) { // touching a live process from above or below
                const Proc& p = procs[r.pick(ids)];
                addr = r.chance(50) ? p.pos + p.total() : p.pos - total;
            }
            break;
        case 3:
            if (!ids.empty()) { // overlapping a live one by a cell or more
                const Proc& p = procs[r.pick(ids)];
                addr = p.pos + std::max(0, p.total() - 1 - static_cast<int>(r.below(3)));
            }
            break;
        default:
            break;
        }
        if (addr < 0 || addr > 999)
            addr = r.chance(20) ? kCells : r.range(0, 999);
        std::string text = loadCommand(id, addr, name);
        if (lf && lf->result != LoadResult::Fails && !procs[id].live && fits(addr, total) && !quoted &&
            name.size() <= 20)
            place(id, addr, lf->sizes);
        return text;
    }
    std::string storeValue()
    {
        switch (r.below(8)) {
        case 0:
        case 1:
        case 2:
            return "#" + number();
        case 3:
        case 4:
            return "\"" + text(stringLength());
        case 5:
            return number(); // no #
        case 6: {
            static const char* const bad[] = {"\"", "#", "#-1", "#x", "@5", "RUN", "'abc'"};
            return r.pick(bad);
        }
        default:
            return "#" + std::string(r.pick(kNumbers));
        }
    }
    std::string store()
    {
        const int id = liveOrAny();
        int addr = r.range(0, 999);
        const Proc& p = procs[id];
        if (p.live && !p.sizes.empty() && r.chance(80)) {
            // A cell in a data segment, in the program segment, or just past
            // the last.
            int start = p.pos;
            std::vector<std::pair<int, int>> segs;
            for (int s : p.sizes) {
                segs.emplace_back(start, s);
                start += s;
            }
            const auto& seg = segs[r.below(static_cast<uint32_t>(segs.size()))];
            addr = r.chance(15) ? start : seg.first + (seg.second > 0 ? r.range(0, seg.second - 1) : 0);
            if (r.chance(20) && segs.size() > 1)
                addr = segs[1].first + segs[1].second - (r.chance(50) ? 1 : 0);
        } else if (r.chance(30)) {
            static const int edges[] = {0, 999, 1000, 1001};
            addr = r.pick(edges);
        }
        std::string a = "@" + std::to_string(addr);
        if (r.chance(3))
            a = "@" + std::string(r.pick(kNumbers));
        std::vector<std::string> toks = {proc(id), "STORE", a, storeValue()};
        if (r.chance(4))
            std::swap(toks[2], toks[3]);
        return line(toks);
    }
    std::string report()
    {
        static const char* const which[] = {"PrintProcessTable", "PrintProcessMemory", "PrintAllMemory"};
        const std::string kw = r.pick(which);
        int id = kw == "PrintAllMemory" ? (r.chance(80) ? 0 : r.range(1, 9)) : (r.chance(40) ? 0 : liveOrAny());
        std::vector<std::string> toks = {proc(id), kw};
        if (r.chance(6))
            toks.push_back(r.chance(50) ? "now" : "#1");
        return line(toks);
    }
    std::string terminate()
    {
        const int id = liveOrAny();
        std::vector<std::string> toks = {proc(id), "TerminateProcess"};
        if (r.chance(5))
            toks.push_back("now");
        else if (procs[id].live)
            drop(id);
        return line(toks);
    }
    std::string end()
    {
        static const char* const ends[] = {"P0 END", "P7 END", "P0 END now", "P3 END // stop", "P0   END\t#1"};
        return r.pick(ends);
    }
    // A line that breaks the grammar.
    std::string malformed()
    {
        switch (r.below(12)) {
        case 0:
            return line({badProc(), r.pick(kKeywords)});
        case 1: { // a keyword in the wrong case
            static const char* const bad[] = {"store", "Store", "loadfile", "LOADFILE", "printAllMemory", "end", "End", "LoadFile2"};
            return line({proc(r.range(0, 9)), r.pick(bad)});
        }
        case 2:
            return line({proc(r.range(0, 9))});
        case 3:
            return line({proc(r.range(0, 9)), "STORE", "@" + std::to_string(r.range(0, 999))});
        case 4:
            return line({proc(r.range(0, 9)), "LoadFile", "\"" + fileName()});
        case 5:
            return line({proc(r.range(0, 9)), "LoadFile", "@" + std::to_string(r.range(0, 999)), "\"a", "\"b"});
        case 6: // tokens of 99 to 101 characters
            return line({proc(r.range(0, 9)), "STORE", "@" + std::to_string(r.range(0, 999)),
                         r.chance(50) ? "\"" + text(r.range(98, 100)) : "#" + std::string(static_cast<size_t>(r.range(98, 100)), '1')});
        case 7:
            return line({text(r.range(99, 101))});
        case 8:
            return line({"@", "#", "\""});
        case 9:
            return line({"LoadFile", proc(1), "@0", "\"x"});
        case 10:
            return line({proc(0), "PrintAllMemory", "P0"});
        default:
            return line({"P0PrintProcessTable"});
        }
    }
    std::string blank()
    {
        static const char* const lines[] = {"", "", "   ", "\t", "// a comment", "   // indented comment",
                                            " \v\f ", "/", "//", "x"};
        return r.pick(lines);
    }
    // One line of a script that mixes everything.
    std::string anyLine()
    {
        const int w = static_cast<int>(r.below(100));
        if (w < 28)
            return load();
        if (w < 50)
            return store();
        if (w < 66)
            return report();
        if (w < 76)
            return terminate();
        if (w < 86)
            return malformed();
        if (w < 98)
            return blank();
        return end();
    }

    // ---- focused scripts
    std::vector<std::string> focused()
    {
        const uint32_t theme = r.below(12);
        return theme < 6 ? focusedLoads(theme) : focusedLines(theme);
    }
    // Three touching processes ended in a random order, so that holes merge
    // below, above and on both sides; then one load fills the merged hole,
    // or overfills it by a cell.
    std::vector<std::string> mergedHoles()
    {
        std::vector<std::string> out;
        const int a = r.range(1, 9), b = r.range(1, 9), d = r.range(1, 9), base = r.range(0, 900);
        loads.push_back(validLoad(a));
        out.push_back(loadCommand(1, base, loads.back().name));
        loads.push_back(validLoad(b));
        out.push_back(loadCommand(2, base + a, loads.back().name));
        loads.push_back(validLoad(d));
        out.push_back(loadCommand(3, base + a + b, loads.back().name));
        std::vector<int> order = {1, 2, 3};
        for (size_t i = 0; i < order.size(); i++)
            std::swap(order[i], order[i + r.below(static_cast<uint32_t>(order.size() - i))]);
        for (int id : order)
            out.push_back(line({proc(id), "TerminateProcess"}));
        loads.push_back(validLoad(a + b + d + (r.chance(30) ? 1 : 0)));
        out.push_back(loadCommand(4, base, loads.back().name));
        out.push_back(line({"P0", "PrintProcessTable"}));
        return out;
    }
    // Themes 0 to 5: loads at the edges of the format and of memory.
    std::vector<std::string> focusedLoads(uint32_t theme)
    {
        std::vector<std::string> out;
        switch (theme) {
        case 0: { // one load file at an edge of the format, then a look
            loads.push_back(r.chance(70) ? badLoad() : validLoad());
            out.push_back(loadCommand(1, r.chance(50) ? 0 : r.range(0, 999), loads.back().name));
            out.push_back(line({"P1", r.chance(50) ? "PrintProcessMemory" : "PrintProcessTable"}));
            break;
        }
        case 1: { // stores at the edges of a data segment
            loads.push_back(validLoad());
            const LoadFile lf = loads.back();
            const int at = r.chance(50) ? 0 : kCells - lf.total;
            out.push_back(loadCommand(2, std::max(0, at), lf.name));
            place(2, std::max(0, at), lf.sizes);
            for (int i = r.range(1, 4); i > 0; i--)
                out.push_back(store());
            out.push_back(line({"P2", "PrintProcessMemory"}));
            break;
        }
        case 2: { // reports with nothing loaded
            static const char* const lines[] = {"P0 PrintProcessTable", "P0 PrintAllMemory", "P0 PrintProcessMemory",
                                                "P3 PrintProcessTable", "P5 TerminateProcess", "P1 STORE @5 #1"};
            for (int i = r.range(1, 3); i > 0; i--)
                out.push_back(r.pick(lines));
            break;
        }
        case 3: { // memory filled exactly, then one cell more
            const int first = r.range(1, 999);
            loads.push_back(validLoad(first));
            out.push_back(loadCommand(1, 0, loads.back().name));
            loads.push_back(validLoad(kCells - first));
            out.push_back(loadCommand(2, first, loads.back().name));
            loads.push_back(validLoad(r.range(1, 3)));
            out.push_back(loadCommand(3, r.range(0, 999), loads.back().name));
            out.push_back(line({"P0", r.chance(50) ? "PrintProcessTable" : "PrintAllMemory"}));
            break;
        }
        case 4:
            return mergedHoles();
        case 5: { // touching and overlapping loads
            loads.push_back(validLoad(r.range(1, 20)));
            const LoadFile first = loads.back();
            const int base = r.range(0, 960);
            out.push_back(loadCommand(1, base, first.name));
            loads.push_back(validLoad(r.range(1, 20)));
            const LoadFile second = loads.back();
            static const int shifts[] = {0, -1, 1};
            const int s = r.pick(shifts);
            out.push_back(loadCommand(2, r.chance(50) ? std::max(0, base + first.total + s)
                                                      : std::max(0, base - second.total + s), second.name));
            out.push_back(line({"P0", "PrintProcessTable"}));
            break;
        }
        default:
            break;
        }
        return out;
    }
    // Themes 6 to 11: the grammar, long lines, numbers at their edges, END.
    std::vector<std::string> focusedLines(uint32_t theme)
    {
        std::vector<std::string> out;
        switch (theme) {
        case 6: // grammar
            for (int i = r.range(1, 4); i > 0; i--)
                out.push_back(malformed());
            break;
        case 7: { // lines at the length of the line buffer
            static const int targets[] = {158, 159, 160, 161};
            std::string s = "P0 PrintProcessTable";
            const auto target = static_cast<size_t>(r.pick(targets));
            if (r.chance(50)) {
                s += " //";
                while (s.size() < target)
                    s += 'c';
            } else {
                s.insert(0, target - s.size(), ' ');
            }
            out.push_back(s);
            out.push_back(line({"P0", "PrintAllMemory"}));
            break;
        }
        case 8: { // addresses at 0, 999 and 1000
            loads.push_back(validLoad(1));
            static const char* const addrs[] = {"@0", "@999", "@1000", "@00999", "@4294967295", "@4294967296"};
            out.push_back(line({"P1", "LoadFile", r.pick(addrs), "\"" + loads.back().name}));
            out.push_back(line({"P1", "STORE", r.pick(addrs), "#1"}));
            out.push_back("P0 PrintProcessTable");
            break;
        }
        case 9: // END mid-file
            out.push_back(report());
            out.push_back(end());
            out.push_back("P0 PrintProcessTable");
            break;
        case 10: { // integers and strings at their limits, stored and printed
            loads.push_back(validLoad());
            loads.push_back(validLoad(4));
            const LoadFile lf = loads.back();
            out.push_back(loadCommand(1, 10, lf.name));
            place(1, 10, lf.sizes);
            for (int i = r.range(1, 3); i > 0; i--)
                out.push_back(store());
            out.push_back("P1 PrintProcessMemory");
            break;
        }
        default: // blank and comment lines between commands
            out.push_back(blank());
            out.push_back(report());
            out.push_back(blank());
            break;
        }
        return out;
    }
};

Case Gen::make(const std::string& name)
{
    c.name = name;
    std::fill(std::begin(owner), std::end(owner), -1);
    const int nScripts = r.chance(1) ? 0 : r.chance(78) ? 1 : r.range(2, 4);
    std::vector<std::string> names;
    for (int s = 0; s < std::max(1, nScripts); s++) {
        std::vector<std::string> lines;
        if (r.chance(50)) {
            lines = focused();
        } else {
            for (int i = r.range(3, 30); i > 0; i--)
                lines.push_back(anyLine());
        }
        if (r.chance(5))
            lines.clear(); // an empty script
        std::string data;
        for (const std::string& l : lines)
            data += l + "\n";
        decorate(&data);
        std::string sname = "s" + std::to_string(s + 1) + ".txt";
        if (r.chance(3))
            sname = "script " + std::to_string(s + 1); // a blank in the name
        c.files.push_back({sname, data});
        names.push_back(sname);
    }
    if (nScripts > 0) {
        c.args = names;
        // Several scripts: now and then one named twice, or one missing.
        if (nScripts > 1 && r.chance(30))
            c.args.push_back(names[0]);
        if (nScripts > 1 && r.chance(25))
            c.args.insert(c.args.begin() + static_cast<long>(r.below(static_cast<uint32_t>(c.args.size()))),
                          "missing.txt");
    }
    return c;
}

} // namespace

Case kc_Generate(uint64_t seed, uint64_t index)
{
    // Each case from its own stream, so that case n is the same whatever
    // the number of cases or jobs.
    Rng mix{seed ^ (index * 0xd1b54a32d192ed03ULL)};
    mix.next();
    std::string name = std::to_string(index + 1);
    if (name.size() < 4)
        name.insert(0, 4 - name.size(), '0');
    Gen g(mix.next());
    return g.make("case-" + name);
}

size_t kc_Lines(const Case& c)
{
    size_t n = 0;
    for (const File& f : c.files) {
        n += static_cast<size_t>(std::count(f.data.begin(), f.data.end(), '\n'));
        if (!f.data.empty() && f.data.back() != '\n')
            n++;
    }
    return n;
}

} // namespace kc
