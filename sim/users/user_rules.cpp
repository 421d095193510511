// What the simulated user database takes: Linux account names and
// passwords, stored as hashes.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "sim/users/user_db.hpp"

namespace kvtsim::userdb {

namespace {

constexpr char kHashMark = '~';
constexpr std::size_t kSaltDigits = 4;
constexpr std::size_t kDigestDigits = kHashLength - 1 - kSaltDigits;

bool name_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '-';
}

bool is_hex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// 64-bit FNV-1a: the simulated SP needs the shape of a one-way hash, not
// its strength.
std::uint64_t fnv1a(std::string_view text, std::uint64_t hash = 0xcbf29ce484222325u)
{
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3u;
    }
    return hash;
}

std::string hex(std::uint64_t value, std::size_t digits)
{
    constexpr std::string_view kDigits = "0123456789abcdef";
    std::string text(digits, '0');
    for (std::size_t i = digits; i-- > 0; value >>= 4)
        text[i] = kDigits.at(value & 0xF);
    return text;
}

} // namespace

bool name_acceptable(std::string_view name)
{
    if (name.size() > kMaxName)
        return false;
    if (name.ends_with('$'))
        name.remove_suffix(1);
    if (name.empty() || name.front() == '-' || name == "." || name == "..")
        return false;
    if (!std::all_of(name.begin(), name.end(), name_char))
        return false;
    return !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool password_acceptable(std::string_view password)
{
    return password.find('\n') == std::string_view::npos;
}

bool is_hash(std::string_view text)
{
    return text.size() == kHashLength && text.front() == kHashMark &&
           std::all_of(text.begin() + 1, text.end(), is_hex);
}

std::string password_attribute(std::string_view name, std::string_view password)
{
    if (password.empty() || is_hash(password))
        return std::string(password);
    const std::string salt = hex(fnv1a(name), kSaltDigits);
    return kHashMark + salt + hex(fnv1a(password, fnv1a(salt)), kDigestDigits);
}

} // namespace kvtsim::userdb
