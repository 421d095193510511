// A bounded reader over a record that another process posted. Every read
// checks the bytes that remain; a read past the end poisons the reader,
// which then returns zeros, so a decoder reads its fields in a row and
// checks ok() once before it acts on any of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kvt {

class RecordReader {
  public:
    RecordReader(const unsigned char *record, std::uint32_t length)
        : record_(record), length_(length)
    {
    }

    bool ok() const { return ok_; }
    std::uint32_t length() const { return length_; }

    std::uint8_t u8()
    {
        std::uint8_t value = 0;
        take(&value, sizeof value);
        return value;
    }

    // Integers travel in the sender's (the host's) byte order.
    std::uint32_t u32()
    {
        std::uint32_t value = 0;
        take(&value, sizeof value);
        return value;
    }

    std::int32_t i32()
    {
        std::int32_t value = 0;
        take(&value, sizeof value);
        return value;
    }

    // Copies `size` bytes; `out` must hold them.
    void bytes(void *out, std::size_t size) { take(out, size); }

    void skip(std::size_t size) { take(nullptr, size); }

    // The NUL-terminated text that starts `offset` bytes into the record,
    // or null when the offset or the text's NUL lies outside the record.
    // Independent of the read position.
    const char *text_at(std::uint32_t offset) const
    {
        if (offset >= length_)
            return nullptr;
        const void *nul = std::memchr(record_ + offset, '\0', length_ - offset);
        if (nul == nullptr)
            return nullptr;
        return static_cast<const char *>(static_cast<const void *>(record_ + offset));
    }

  private:
    void take(void *out, std::size_t size)
    {
        if (!ok_ || size > length_ - position_) {
            ok_ = false;
            if (out != nullptr)
                std::memset(out, 0, size);
            return;
        }
        if (out != nullptr)
            std::memcpy(out, record_ + position_, size);
        position_ += static_cast<std::uint32_t>(size);
    }

    const unsigned char *record_;
    std::uint32_t length_;
    std::uint32_t position_ = 0;
    bool ok_ = true;
};

} // namespace kvt
