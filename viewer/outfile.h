// The output of kelmem-view: standard output, or a file written whole or
// not at all (a temporary file beside it, renamed into place at the end).
// An existing file that is not a regular file (a device, a pipe) is written
// in place.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "writer.h"

namespace kv {

// Bytes the sinks gather before a write. Writes of 256 KiB cost the kernel
// markedly less per byte than writes of 64 KiB (measured on a 700 MB trace).
constexpr size_t kWriteBlock = 1 << 18;

// Text gathered in memory and written to a stream a large block at a time.
// The first write that fails is remembered by its errno; text after it is
// dropped.
class BlockWriter {
  public:
    explicit BlockWriter(std::FILE* fp) : fp_(fp) {}
    ~BlockWriter();
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;

    // Where text is gathered; flush(false) after appending.
    std::string& text()
    {
        return buf_;
    }
    void write(std::string_view s)
    {
        buf_.append(s);
        flush(false);
    }

    // Writes the gathered text once a block has gathered, or whatever
    // there is when always; always also waits for a block handed over.
    void flush(bool always);

    // Writes the gathered text, then the text of *block. The block goes to
    // a writer thread, so that the caller gathers the next one while the
    // kernel copies this one into the page cache (for a 700 MB trace about
    // 0.2 s of system time against 0.3 s of making the trace); *block comes
    // back empty, with the room of the block written before.
    void handOver(RoomBuffer* block);

    // The errno of the first write that failed, or 0. Not while a block
    // handed over may still be written: after flush(true).
    int error() const
    {
        return error_;
    }

  private:
    void send(std::string_view s);
    void idle(std::unique_lock<std::mutex>* lock);
    void writeBlocks();
    std::FILE* fp_; // nullptr: every write fails
    std::string buf_;
    int error_ = 0;
    // The writer thread, started at the first block handed over; it and
    // the caller share what follows, under mutex_.
    std::thread writer_;
    bool noThread_ = false; // no thread could be started: blocks are written in turn
    std::mutex mutex_;
    std::condition_variable changed_;
    RoomBuffer pending_;  // the block being written
    bool busy_ = false;   // pending_ is not written yet
    bool stopping_ = false;
};

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
    std::string temp_; // the temporary file, until it is renamed or removed
};

} // namespace kv
