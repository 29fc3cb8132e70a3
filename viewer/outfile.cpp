// Whole-or-nothing output files.

#include "outfile.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kv {

namespace {

// The sinks gather their text in blocks: the stream takes each block in
// one write(2), with no copy into a stdio buffer first (through a buffer,
// a block costs a copy of the buffer's size and two writes).
void unbuffered(std::FILE* fp)
{
    std::setvbuf(fp, nullptr, _IONBF, 0);
}

// The temporary file a signal must not leave behind: its name, NUL-terminated,
// set before the file exists and cleared once it is renamed or removed.
char gTempName[PATH_MAX];
volatile std::sig_atomic_t gTempSet = 0;

extern "C" void removeTempAndDie(int sig)
{
    if (gTempSet)
        unlink(gTempName);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

constexpr int kFatalSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Makes the temporary file from the template name (changed in place) and
// keeps its name for the signal handler, with those signals held back in
// between. The file descriptor, or -1 with errno set.
int makeGuardedTemp(std::vector<char>* name)
{
    sigset_t fatal;
    sigset_t before;
    sigemptyset(&fatal);
    for (int sig : kFatalSignals)
        sigaddset(&fatal, sig);
    sigprocmask(SIG_BLOCK, &fatal, &before);
    const int fd = mkstemp(name->data());
    const int err = errno;
    if (fd >= 0 && name->size() <= sizeof gTempName) {
        std::memcpy(gTempName, name->data(), name->size());
        gTempSet = 1;
        // A signal ignored (nohup) stays ignored.
        for (int sig : kFatalSignals) {
            struct sigaction sa = {};
            if (sigaction(sig, nullptr, &sa) != 0 || sa.sa_handler == SIG_IGN)
                continue;
            sa.sa_handler = removeTempAndDie;
            sigemptyset(&sa.sa_mask);
            sa.sa_flags = 0;
            sigaction(sig, &sa, nullptr);
        }
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
    errno = err;
    return fd;
}

std::string failure(const std::string& path, int err)
{
    return "cannot write " + (path.empty() ? std::string("standard output") : path) + ": " +
           std::strerror(err);
}

// The permissions a newly created file gets under the current umask.
mode_t createMode()
{
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// The template of the temporary file beside path: path's name cut short
// where the suffix would make the name too long for its folder.
std::string tempTemplate(const std::string& path)
{
    static const char kSuffix[] = ".tmp-XXXXXX";
    const size_t slash = path.rfind('/');
    const size_t base = slash == std::string::npos ? 0 : slash + 1;
    // NAME_MAX: the longest file name a folder entry takes.
    const size_t keep = std::min(path.size() - base, NAME_MAX - (sizeof kSuffix - 1));
    return path.substr(0, base + keep) + kSuffix;
}

} // namespace

OutFile::~OutFile()
{
    discard();
}

void OutFile::discard()
{
    if (fp_ && fp_ != stdout)
        std::fclose(fp_);
    fp_ = nullptr;
    if (!temp_.empty())
        unlink(temp_.c_str());
    gTempSet = 0;
    temp_.clear();
}

bool OutFile::open(const std::string& path, std::string* error)
{
    given_ = path;
    path_ = path;
    if (path.empty()) {
        fp_ = stdout;
        unbuffered(fp_);
        return true;
    }
    // A link is followed, so that its target is replaced and the link stays.
    struct stat st;
    bool unresolved = false; // a link whose target cannot be named
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char target[PATH_MAX];
        unresolved = !realpath(path.c_str(), target);
        if (!unresolved)
            path_ = target;
    }
    // A device or a pipe (/dev/stdout, /dev/null), or a link to nowhere, is
    // written in place: a rename would replace it with a regular file.
    const bool exists = stat(path_.c_str(), &st) == 0;
    if ((exists && !S_ISREG(st.st_mode)) || unresolved) {
        fp_ = std::fopen(path_.c_str(), "wb");
        if (!fp_) {
            *error = failure(path, errno);
            return false;
        }
        unbuffered(fp_);
        return true;
    }
    std::string tmpl = tempTemplate(path_);
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = makeGuardedTemp(&name);
    if (fd < 0) {
        *error = failure(path, errno);
        return false;
    }
    temp_ = name.data();
    // A file written over keeps its permissions.
    fchmod(fd, exists ? (st.st_mode & 07777) : createMode());
    fp_ = fdopen(fd, "wb");
    if (!fp_) {
        *error = failure(path, errno);
        close(fd);
        discard();
        return false;
    }
    unbuffered(fp_);
    return true;
}

bool OutFile::commit(int writeError, std::string* error)
{
    if (!fp_)
        return false;
    errno = 0;
    bool ok = writeError == 0 && std::fflush(fp_) == 0 && !std::ferror(fp_);
    int err = writeError ? writeError : errno ? errno : EIO;
    if (fp_ != stdout) {
        errno = 0;
        const bool closed = std::fclose(fp_) == 0;
        if (ok && !closed)
            err = errno ? errno : EIO;
        ok = ok && closed;
        fp_ = nullptr;
        if (ok && !temp_.empty() && std::rename(temp_.c_str(), path_.c_str()) != 0) {
            ok = false;
            err = errno;
        }
        if (ok) {
            gTempSet = 0;
            temp_.clear();
        }
    }
    if (!ok) {
        *error = failure(given_, err);
        discard();
    }
    return ok;
}

} // namespace kv
