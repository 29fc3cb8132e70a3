// Text made piece by piece into a growing buffer, with no size reckoned by
// hand: every piece asks for its room first, and the room is checked against
// what the buffer has left, in every build. The JSON trace and the
// explanations are written through it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "KelOut.h"

namespace kv {

// A growing byte buffer whose room is handed out as it is: text is written
// straight through a pointer, with no filling first (as std::string::resize
// would do).
class RoomBuffer {
  public:
    // At least n writable bytes, right after the text; left() tells how many.
    char* room(size_t n)
    {
        if (cap_ - size_ < n)
            grow(n);
        return data_.get() + size_;
    }
    size_t left() const
    {
        return cap_ - size_;
    }
    // The text now ends at end, which lies in the room handed out last.
    void wrote(const char* end)
    {
        size_ = static_cast<size_t>(end - data_.get());
    }
    std::string_view text() const
    {
        return {data_.get(), size_};
    }
    size_t size() const
    {
        return size_;
    }
    void clear()
    {
        size_ = 0;
    }

  private:
    void grow(size_t n)
    {
        // Doubling: a buffer filled to a block and emptied again stops growing.
        const size_t cap = std::max(size_ + n, 2 * cap_);
        std::unique_ptr<char[]> bigger(new char[cap]);
        if (size_ > 0)
            std::memcpy(bigger.get(), data_.get(), size_);
        data_ = std::move(bigger);
        cap_ = cap;
    }
    std::unique_ptr<char[]> data_;
    size_t size_ = 0;
    size_t cap_ = 0;
};

// Writes at the end of a RoomBuffer; what was written is the buffer's text
// once the Writer ends.
class Writer {
  public:
    explicit Writer(RoomBuffer* buf) : buf_(buf), w_(buf->room(0)), end_(w_ + buf->left()) {}
    ~Writer()
    {
        buf_->wrote(w_);
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // n bytes of room at the write position; say where the text ends with
    // wrote(), at most n bytes on.
    char* room(size_t n)
    {
        if (static_cast<size_t>(end_ - w_) < n)
            grow(n);
        return w_;
    }
    void wrote(char* end)
    {
        w_ = end;
    }

    void put(std::string_view s)
    {
        char* w = room(s.size());
        if (!s.empty())
            std::memcpy(w, s.data(), s.size());
        w_ = w + s.size();
    }
    void put(char c)
    {
        *room(1) = c;
        w_++;
    }
    void num(int64_t v)
    {
        w_ = KO_Decimal(room(KO_DECIMAL_ROOM), v);
    }

  private:
    void grow(size_t n)
    {
        if (n > SIZE_MAX / 2)
            std::abort();
        buf_->wrote(w_);
        // Room for this piece and the next few: a piece at a time would
        // grow the buffer at each.
        w_ = buf_->room(n + 256);
        end_ = w_ + buf_->left();
    }
    RoomBuffer* buf_;
    char* w_;
    char* end_;
};

// Appends to *out what write(Writer&) writes.
template <class Write> void kv_AppendWith(std::string* out, Write write)
{
    RoomBuffer buf;
    {
        Writer w(&buf);
        write(w);
    }
    out->append(buf.text());
}

} // namespace kv
