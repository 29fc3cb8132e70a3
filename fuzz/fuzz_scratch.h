// A scratch folder made once per fuzzing process, with its files removed
// again when the process exits normally.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace fz_scratch {

inline std::string& dir()
{
    static std::string d;
    return d;
}

inline std::vector<std::string>& files()
{
    static std::vector<std::string> f;
    return f;
}

inline void cleanup()
{
    for (const std::string& f : files())
        std::remove(f.c_str());
    if (!dir().empty())
        rmdir(dir().c_str());
}

// Makes the folder (under $TMPDIR or /tmp) and returns its path; aborts when
// it cannot be made, since no input could be run without it.
inline const std::string& make(const char* tag)
{
    if (!dir().empty())
        return dir();
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/kelmem-" + tag + "-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    dir() = buf.data();
    // Both statics exist before the handler is registered, so they are
    // destroyed only after it has run.
    files().clear();
    std::atexit(cleanup);
    return dir();
}

// Writes bytes to name inside the folder and returns the full path.
inline std::string write(const std::string& name, const void* data, size_t size)
{
    std::string path = dir() + "/" + name;
    std::FILE* fp = std::fopen(path.c_str(), "wb");
    // An empty file gets no fwrite: data may be null then.
    if (!fp || (size > 0 && std::fwrite(data, 1, size, fp) != size) || std::fclose(fp) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
    bool known = false;
    for (const std::string& f : files())
        known = known || f == path;
    if (!known)
        files().push_back(path);
    return path;
}

} // namespace fz_scratch
