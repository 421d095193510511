#include "sim/files.hpp"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

namespace kvtsim::files {

namespace {

bool write_all(int fd, const void *buffer, std::size_t len)
{
    const char *data = static_cast<const char *>(buffer);
    return move_all(
        len, [&](std::size_t done, std::size_t left) { return ::write(fd, data + done, left); });
}

bool replace_bytes(const std::string &path, const void *bytes, std::size_t len)
{
    const std::string temp = path + ".tmp." + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = write_all(fd, bytes, len);
    ::close(fd);
    if (written && ::rename(temp.c_str(), path.c_str()) == 0)
        return true;
    ::unlink(temp.c_str());
    return false;
}

} // namespace

bool move_all(std::size_t size,
              const std::function<ssize_t(std::size_t done, std::size_t left)> &step)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = step(done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<std::string> read(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool replace(const std::string &path, std::span<const unsigned char> bytes)
{
    return replace_bytes(path, bytes.data(), bytes.size());
}

bool replace(const std::string &path, const std::string &text)
{
    return replace_bytes(path, text.data(), text.size());
}

bool append_line(const std::string &path, const std::string &line)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const std::string whole = line + "\n";
    const bool written = write_all(fd, whole.data(), whole.size());
    ::close(fd);
    return written;
}

std::vector<std::string> lines(const std::string &path)
{
    std::vector<std::string> result;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

bool exists(const std::string &path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

std::string word(const std::string &path, const std::string &fallback)
{
    const auto text = read(path);
    if (!text)
        return fallback;
    std::istringstream in(*text);
    std::string first;
    if (!(in >> first))
        return fallback;
    return first;
}

} // namespace kvtsim::files
