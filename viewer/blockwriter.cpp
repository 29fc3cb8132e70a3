// The block writer: the sinks' text, written a block at a time, by a
// thread of its own where the build has threads.

#include "blockwriter.h"

#include <cerrno>
#include <system_error>
#include <utility>

namespace kv {

BlockWriter::~BlockWriter()
{
#if KV_WRITER_THREAD
    if (!writer_.joinable())
        return;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    writer_.join();
#endif
}

void BlockWriter::send(std::string_view s)
{
    if (error_ != 0 || s.empty())
        return;
    errno = 0;
    if (!fp_ || std::fwrite(s.data(), 1, s.size(), fp_) != s.size())
        error_ = errno ? errno : EIO;
}

#if KV_WRITER_THREAD
// The writer thread: writes each block handed over, in turn.
void BlockWriter::writeBlocks()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return busy_ || stopping_; });
        if (!busy_)
            return;
        lock.unlock();
        send(pending_.text()); // error_ is the thread's alone while busy_
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

#endif

void BlockWriter::flush(bool always)
{
    if (buf_.size() < kWriteBlock && !always)
        return;
#if KV_WRITER_THREAD
    // Once the writer thread has no block left, error_ is the caller's.
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
#endif
    send(buf_);
    buf_.clear();
}

void BlockWriter::handOver(RoomBuffer* block)
{
    flush(true);
#if KV_WRITER_THREAD
    if (!writer_.joinable() && !noThread_) {
        try {
            writer_ = std::thread(&BlockWriter::writeBlocks, this);
        } catch (const std::system_error&) {
            noThread_ = true;
        }
    }
    if (!noThread_) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::swap(pending_, *block);
        block->clear();
        busy_ = true;
        changed_.notify_all();
        return;
    }
#endif
    send(block->text());
    block->clear();
}

} // namespace kv
