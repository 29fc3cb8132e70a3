// Runs the untrusted program under test: in a folder of its own under the
// run's private folder, in a process group of its own, with no standard
// input, limits on CPU time, address space and file size, killed with its
// whole group at the timeout or when its output passes a bound. Every path
// here is absolute: the reference changes the current folder (reference.cpp).

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "check.h"

namespace kc {

namespace {

std::string root;            // the run's private folder
std::atomic<uint64_t> serial{0};
std::mutex groupsLock;
std::set<pid_t> groups;      // process groups running now
bool killed = false;         // under groupsLock: kc_KillAll was called

// Closes a descriptor once.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd()
    {
        reset();
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const
    {
        return fd_;
    }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }
    int release()
    {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_ = -1;
};

bool writeAll(int fd, const char* p, size_t n)
{
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Removes everything inside the open folder fd; chmods folders the program
// made unreadable. depth bounds the recursion (a hostile tree may be deep).
void emptyFolder(int fd, int depth)
{
    DIR* d = fdopendir(fd);
    if (!d) {
        close(fd);
        return;
    }
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    }
    const int dfd = dirfd(d);
    for (const std::string& n : names) {
        if (unlinkat(dfd, n.c_str(), 0) == 0)
            continue;
        if (depth <= 0)
            continue;
        // A folder the program made unreadable; if this fails, the open
        // below fails too and the folder stays, to be reported by rmdir.
        if (fchmodat(dfd, n.c_str(), 0700, 0) != 0)
            continue;
        int sub = openat(dfd, n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub >= 0)
            emptyFolder(sub, depth - 1);
        unlinkat(dfd, n.c_str(), AT_REMOVEDIR);
    }
    closedir(d);
}

// The signals the checker's threads block (a thread of main() waits for them).
void childSignals()
{
    sigset_t none;
    sigemptyset(&none);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT})
        signal(s, SIG_DFL);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

double now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void setLimit(int resource, uint64_t value)
{
    rlimit r;
    r.rlim_cur = static_cast<rlim_t>(value);
    r.rlim_max = static_cast<rlim_t>(value);
    setrlimit(resource, &r);
}

} // namespace

bool kc_SandboxOpen(std::string* error)
{
    // $TMPDIR when set; else memory (/dev/shm), where making and removing a
    // case folder costs a few microseconds, not the milliseconds of a disk's
    // journal (three times a case's run on a busy disk); else /tmp.
    const char* tmp = std::getenv("TMPDIR");
    std::vector<std::string> bases;
    if (tmp && tmp[0] == '/')
        bases.emplace_back(tmp);
    else
        bases = {"/dev/shm", "/tmp"};
    for (const std::string& base : bases) {
        std::string pattern = base + "/kelmem-check-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data())) {
            root = buf.data();
            return true;
        }
        *error = "cannot make a folder in " + base + ": " + std::strerror(errno);
    }
    return false;
}

void kc_SandboxClose()
{
    if (!root.empty())
        kc_RemoveTree(root);
    root.clear();
}

std::string kc_CaseDir(std::string* error)
{
    std::string dir = root + "/c" + std::to_string(serial++);
    if (mkdir(dir.c_str(), 0700) != 0) {
        *error = "cannot make " + dir + ": " + std::strerror(errno);
        return {};
    }
    return dir;
}

bool kc_WriteCase(const std::string& dir, const Case& c, std::string* error)
{
    for (const File& f : c.files) {
        if (f.name.empty() || f.name == "." || f.name == ".." ||
            f.name.find('/') != std::string::npos || f.name.find('\0') != std::string::npos) {
            *error = "a case's file may not be named \"" + f.name + "\"";
            return false;
        }
        std::string path = dir + "/" + f.name;
        Fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
        if (fd.get() < 0 || !writeAll(fd.get(), f.data.data(), f.data.size())) {
            *error = "cannot write " + path + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

void kc_RemoveTree(const std::string& dir)
{
    if (rmdir(dir.c_str()) == 0)
        return;
    if (chmod(dir.c_str(), 0700) != 0)
        return;
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0)
        emptyFolder(fd, 64);
    if (rmdir(dir.c_str()) != 0)
        unlink(dir.c_str());
}

void kc_KillAll()
{
    std::lock_guard<std::mutex> lock(groupsLock);
    killed = true;
    for (pid_t g : groups)
        kill(-g, SIGKILL);
}

size_t kc_OutputBound(size_t n)
{
    return n * 10 + (1U << 20);
}

std::string kc_FindProgram(const std::string& command, std::string* error)
{
    auto usable = [](const std::string& p) {
        struct stat st;
        return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(p.c_str(), X_OK) == 0;
    };
    std::string found;
    if (command.empty()) {
        *error = "no program named";
        return {};
    }
    if (command.find('/') != std::string::npos) {
        if (!usable(command)) {
            struct stat st;
            *error = command + (stat(command.c_str(), &st) != 0 ? ": not found" : ": not an executable file");
            return {};
        }
        found = command;
    } else {
        const char* path = std::getenv("PATH");
        std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
        size_t at = 0;
        while (found.empty() && at <= dirs.size()) {
            size_t end = dirs.find(':', at);
            if (end == std::string::npos)
                end = dirs.size();
            std::string d = dirs.substr(at, end - at);
            std::string cand = (d.empty() ? std::string(".") : d) + "/" + command;
            if (usable(cand))
                found = cand;
            at = end + 1;
        }
        if (found.empty()) {
            *error = command + ": not found in PATH";
            return {};
        }
    }
    if (found[0] != '/') {
        char* real = realpath(found.c_str(), nullptr);
        if (!real) {
            *error = found + ": " + std::strerror(errno);
            return {};
        }
        found = real;
        std::free(real);
    }
    return found;
}

namespace {

// The child after fork: async-signal-safe calls only, then exec. On failure
// the error number goes to execFd.
[[noreturn]] void child(char* const* argv, const char* dir, const Limits& limits, uint64_t cpu, int outFd,
                        int errFd, int execFd)
{
    setpgid(0, 0);
    childSignals();
    const int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    int err = 0;
    if (devnull < 0 || dup2(devnull, 0) < 0 || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0)
        err = errno;
    if (!err && chdir(dir) != 0)
        err = errno;
    if (!err) {
        setLimit(RLIMIT_CPU, cpu);
        if (limits.memory)
            setLimit(RLIMIT_AS, limits.memory);
        if (limits.fileSize)
            setLimit(RLIMIT_FSIZE, limits.fileSize);
        setLimit(RLIMIT_CORE, 0);
        execv(argv[0], argv);
        err = errno;
    }
    const ssize_t w = write(execFd, &err, sizeof err);
    (void)w;
    _exit(127);
}

// Reads what fd has into *text, up to max bytes in all; false at its end.
// *over is set when bytes past max were dropped.
bool readSome(int fd, std::string* text, size_t max, bool* over)
{
    char buf[65536];
    const ssize_t got = read(fd, buf, sizeof buf);
    if (got < 0)
        return errno == EINTR || errno == EAGAIN;
    if (got == 0)
        return false;
    const size_t room = max > text->size() ? max - text->size() : 0;
    text->append(buf, std::min(room, static_cast<size_t>(got)));
    if (static_cast<size_t>(got) > room)
        *over = true;
    return true;
}

// A running program: its pipes and its end.
struct Running {
    pid_t pid = -1;
    int out = -1, err = -1; // read ends, -1 once at their end
    int exitFd = -1;        // readable when the child ends; -1 without pidfd
    bool exited = false, killed = false;
    int status = 0;
    void killGroup()
    {
        kill(-pid, SIGKILL);
        killed = true;
    }
};

// One wait for the pipes or the child's end, until `until`.
void waitOnce(Running* r, double until, Outcome* o, size_t outBound)
{
    pollfd fds[3];
    int n = 0, iOut = -1, iErr = -1, iExit = -1;
    if (r->out >= 0) {
        fds[n] = {r->out, POLLIN, 0};
        iOut = n++;
    }
    if (r->err >= 0) {
        fds[n] = {r->err, POLLIN, 0};
        iErr = n++;
    }
    if (!r->exited && r->exitFd >= 0) {
        fds[n] = {r->exitFd, POLLIN, 0};
        iExit = n++;
    }
    int wait = static_cast<int>(std::max(0.0, (until - now()) * 1000)) + 1;
    if (r->exitFd < 0 && !r->exited)
        wait = std::min(wait, 5); // no pidfd: look for the child every few ms
    if (poll(fds, static_cast<nfds_t>(n), wait) < 0 && errno != EINTR)
        return;
    bool over = false;
    if (iOut >= 0 && fds[iOut].revents && !readSome(r->out, &o->out, outBound, &over))
        r->out = -1;
    if (over && !o->flooded) {
        o->flooded = true;
        r->killGroup();
    }
    bool ignored = false;
    if (iErr >= 0 && fds[iErr].revents && !readSome(r->err, &o->err, kErrKept, &ignored))
        r->err = -1;
    if (!r->exited && (iExit < 0 || fds[iExit].revents) && waitpid(r->pid, &r->status, WNOHANG) == r->pid) {
        r->exited = true;
        r->killGroup(); // children it left behind go with it
    }
}

// Reads the program's output until it ends, the timeout or the bound.
void collect(Running* r, const Limits& limits, size_t outBound, Outcome* o)
{
    const double deadline = now() + limits.timeout;
    // Once the child has ended, what is left in the pipes is read for a
    // short while only: a process that left the group may hold them open.
    double drainUntil = 0;
    while (r->out >= 0 || r->err >= 0 || !r->exited) {
        const double t = now();
        if (!r->killed && t >= deadline) {
            o->timedOut = true;
            r->killGroup();
        }
        if (r->exited && drainUntil == 0)
            drainUntil = t + 0.5;
        if (r->exited && t >= drainUntil)
            break;
        waitOnce(r, r->exited ? drainUntil : (r->killed ? t + 1 : deadline), o, outBound);
    }
    if (!r->exited) {
        r->killGroup();
        while (waitpid(r->pid, &r->status, 0) < 0 && errno == EINTR) {
        }
    }
}

// The three pipes of a run: standard output, standard error, and the one
// on which the child reports a failed exec (closed by a good one).
struct Pipes {
    Fd outRead, outWrite, errRead, errWrite, execRead, execWrite;
    bool open(std::string* error)
    {
        int fds[3][2];
        for (auto& f : fds) {
            if (pipe2(f, O_CLOEXEC) != 0) {
                *error = std::string("pipe: ") + std::strerror(errno);
                for (auto& g : fds) {
                    if (&g == &f)
                        break;
                    close(g[0]);
                    close(g[1]);
                }
                return false;
            }
        }
        outRead.reset(fds[0][0]);
        outWrite.reset(fds[0][1]);
        errRead.reset(fds[1][0]);
        errWrite.reset(fds[1][1]);
        execRead.reset(fds[2][0]);
        execWrite.reset(fds[2][1]);
        return true;
    }
};

// How the run ended, into *o: exec's failure, the exit status, or the
// signal that was not ours.
void finish(int status, int execFd, const Program& prog, Outcome* o)
{
    int execErr = 0;
    if (read(execFd, &execErr, sizeof execErr) == static_cast<ssize_t>(sizeof execErr)) {
        o->failure = prog.path + ": cannot be run: " + std::strerror(execErr);
        return;
    }
    if (WIFEXITED(status)) {
        o->status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        // Our own SIGKILL for a timeout or a flood is not the program's crash.
        if (!(WTERMSIG(status) == SIGKILL && (o->timedOut || o->flooded)))
            o->signal = WTERMSIG(status);
    }
}

} // namespace

Outcome kc_Run(const Program& prog, const std::string& dir, const std::vector<std::string>& args,
               const Limits& limits, size_t outBound)
{
    Outcome o;
    // Everything the child needs is made before fork: after it, in a
    // process with threads, only system calls are safe.
    std::vector<std::string> words;
    words.reserve(1 + prog.args.size() + args.size());
    words.push_back(prog.path);
    words.insert(words.end(), prog.args.begin(), prog.args.end());
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    const uint64_t cpu = static_cast<uint64_t>(std::ceil(limits.timeout)) + 1;

    Pipes p;
    if (!p.open(&o.failure))
        return o;

    std::unique_lock<std::mutex> lock(groupsLock);
    if (killed) {
        o.failure = "interrupted";
        return o;
    }
    Running r;
    r.pid = fork();
    if (r.pid < 0) {
        o.failure = std::string("fork: ") + std::strerror(errno);
        return o;
    }
    if (r.pid == 0)
        child(argv.data(), dir.c_str(), limits, cpu, p.outWrite.get(), p.errWrite.get(), p.execWrite.get());
    // Both sides set the group, so that killing it works from here on.
    setpgid(r.pid, r.pid);
    groups.insert(r.pid);
    lock.unlock();
    p.outWrite.reset();
    p.errWrite.reset();
    p.execWrite.reset();

    Fd exitFd(static_cast<int>(syscall(SYS_pidfd_open, r.pid, 0)));
    r.out = p.outRead.get();
    r.err = p.errRead.get();
    r.exitFd = exitFd.get();
    collect(&r, limits, outBound, &o);
    {
        std::lock_guard<std::mutex> g(groupsLock);
        groups.erase(r.pid);
        if (killed)
            o.failure = "interrupted";
    }
    finish(r.status, p.execRead.get(), prog, &o);
    return o;
}

} // namespace kc
