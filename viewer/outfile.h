// The output of kelmem-view: standard output, or a file written whole or
// not at all (a temporary file beside it, renamed into place at the end).
// An existing file that is not a regular file (a device, a pipe) is written
// in place.
#pragma once

#include <cstdio>
#include <string>

namespace kv {

class OutFile {
  public:
    OutFile() = default;
    ~OutFile();
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;

    // Opens path (empty: standard output). False, with *error set, when the
    // temporary file cannot be made.
    bool open(const std::string& path, std::string* error);

    std::FILE* fp() const
    {
        return fp_;
    }

    // Finishes the output: flushes, and renames the temporary file over
    // path. writeError is the errno of an earlier failed write, or 0. False,
    // with *error set, when anything could not be written; the temporary
    // file is then removed and path left as it was.
    bool commit(int writeError, std::string* error);

  private:
    void discard();
    std::FILE* fp_ = nullptr;
    std::string given_; // the name as given; empty for standard output
    std::string path_;  // the file written: given_ with a link resolved
    std::string temp_;  // the temporary file, until it is renamed or removed
};

} // namespace kv
