// Text gathered in memory and written to a stream a block at a time: the
// sinks' way out. Built with KV_WRITER_THREAD (the default, see
// CMakeLists.txt), a second thread writes each full block while the next is
// made; without it (a build without threads), blocks are written in turn.
#pragma once

#ifndef KV_WRITER_THREAD
#define KV_WRITER_THREAD 1
#endif

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#if KV_WRITER_THREAD
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

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

    // Writes the gathered text, then the text of *block, which comes back
    // empty. With KV_WRITER_THREAD the block goes to a writer thread, so
    // that the caller gathers the next one while the write waits for the
    // kernel (which throttles a writer of much text to the disk's pace);
    // *block comes back with the room of the block written before.
    void handOver(RoomBuffer* block);

    // The errno of the first write that failed, or 0. Not while a block
    // handed over may still be written: after flush(true).
    int error() const
    {
        return error_;
    }

  private:
    void send(std::string_view s);
    std::FILE* fp_; // nullptr: every write fails
    std::string buf_;
    int error_ = 0;
#if KV_WRITER_THREAD
    void writeBlocks();
    // The writer thread, started at the first block handed over; it and
    // the caller share what follows, under mutex_.
    std::thread writer_;
    bool noThread_ = false; // no thread could be started: blocks are written in turn
    std::mutex mutex_;
    std::condition_variable changed_;
    RoomBuffer pending_; // the block being written
    bool busy_ = false;  // pending_ is not written yet
    bool stopping_ = false;
#endif
};

} // namespace kv
