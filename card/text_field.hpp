// Fixed-width text fields of the card image.
#pragma once

#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>

namespace kvt {

// A char array holding NUL-terminated text of at most N - 1 characters.
// Reading never looks past the field, even when a card carries no NUL.
template <std::size_t N> struct TextField {
    char chars[N];

    std::string_view view() const { return {chars, ::strnlen(chars, N)}; }

    // Keeps at most N - 1 characters and one NUL; the bytes after the NUL
    // keep what they held, since they count in the section checksum.
    void store(std::string_view text)
    {
        const std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
        std::memcpy(chars, text.data(), n);
        const std::span<char, N> field(chars);
        field[n] = '\0';
    }

    // The text as a NUL-terminated string, cut to the field.
    const char *c_str(char (&out)[N + 1]) const
    {
        const std::string_view v = view();
        std::memcpy(out, v.data(), v.size());
        out[v.size()] = '\0';
        return out;
    }
};

} // namespace kvt
