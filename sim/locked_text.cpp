#include "sim/locked_text.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/control.hpp"

namespace kvtsim {

namespace {

// Holds flock() on <root>/sim/<file name>.lock for its lifetime; the lock
// files stay out of the directories the daemon looks at.
class FileLock
{
  public:
    FileLock(const std::string &path, int operation)
    {
        const std::filesystem::path file(path);
        std::error_code ignored;
        std::filesystem::create_directories(file.parent_path(), ignored);
        const std::string lock_path = sim_path(file.filename().string() + ".lock");
        std::filesystem::create_directories(std::filesystem::path(lock_path).parent_path(),
                                            ignored);
        fd_ = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ >= 0)
            ::flock(fd_, operation);
    }
    ~FileLock()
    {
        if (fd_ >= 0)
            ::close(fd_); // closing drops the lock
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

  private:
    int fd_ = -1;
};

std::string read_whole(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool replace_whole(const std::string &path, std::string_view text)
{
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        if (!out.flush())
            return false;
    }
    return ::rename(temporary.c_str(), path.c_str()) == 0;
}

} // namespace

std::string read_locked(const std::string &path)
{
    FileLock lock(path, LOCK_SH);
    return read_whole(path);
}

bool edit_locked(const std::string &path, const std::function<bool(std::string &)> &edit)
{
    FileLock lock(path, LOCK_EX);
    std::string text = read_whole(path);
    if (!edit(text))
        return true;
    return replace_whole(path, text);
}

bool write_locked(const std::string &path, std::string_view text)
{
    FileLock lock(path, LOCK_EX);
    return replace_whole(path, text);
}

Pairs parse_pairs(std::string_view text)
{
    Pairs pairs;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        const auto tab = line.find('\t');
        if (tab == std::string_view::npos)
            continue;
        pairs.emplace_back(std::string(line.substr(0, tab)), std::string(line.substr(tab + 1)));
    }
    return pairs;
}

std::string format_pairs(const Pairs &pairs)
{
    std::string text;
    for (const auto &[key, value] : pairs)
        text.append(key).append(1, '\t').append(value).append(1, '\n');
    return text;
}

std::optional<std::string> find_pair(const Pairs &pairs, std::string_view key)
{
    for (const auto &[k, value] : pairs)
        if (k == key)
            return value;
    return std::nullopt;
}

void put_pair(Pairs &pairs, std::string_view key, std::string_view value)
{
    for (auto &[k, v] : pairs) {
        if (k == key) {
            v = value;
            return;
        }
    }
    pairs.emplace_back(std::string(key), std::string(value));
}

} // namespace kvtsim
