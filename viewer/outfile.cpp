// Whole-or-nothing output files.

#include "outfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kv {

namespace {

// Output goes out in large writes; the sinks already batch their text.
constexpr size_t kStreamBuffer = 1 << 16;

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
    temp_.clear();
}

bool OutFile::open(const std::string& path, std::string* error)
{
    path_ = path;
    if (path.empty()) {
        fp_ = stdout;
        std::setvbuf(stdout, nullptr, _IOFBF, kStreamBuffer);
        return true;
    }
    // A device or a pipe (/dev/stdout, /dev/null) is written in place: a
    // rename would replace it with a regular file.
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        fp_ = std::fopen(path.c_str(), "wb");
        if (!fp_)
            *error = failure(path, errno);
        return fp_ != nullptr;
    }
    std::string tmpl = path + ".tmp-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) {
        *error = failure(path, errno);
        return false;
    }
    temp_ = name.data();
    fchmod(fd, createMode());
    fp_ = fdopen(fd, "wb");
    if (!fp_) {
        *error = failure(path, errno);
        close(fd);
        discard();
        return false;
    }
    return true;
}

bool OutFile::commit(std::string* error)
{
    if (!fp_)
        return false;
    errno = 0;
    bool ok = std::fflush(fp_) == 0 && !std::ferror(fp_);
    int err = errno ? errno : EIO;
    if (fp_ != stdout) {
        ok = std::fclose(fp_) == 0 && ok;
        if (!ok && errno)
            err = errno;
        fp_ = nullptr;
        if (ok && !temp_.empty() && std::rename(temp_.c_str(), path_.c_str()) != 0) {
            ok = false;
            err = errno;
        }
        if (ok)
            temp_.clear();
    }
    if (!ok) {
        *error = failure(path_, err);
        discard();
    }
    return ok;
}

} // namespace kv
