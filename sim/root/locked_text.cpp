#include "sim/root/locked_text.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "sim/control.hpp"
#include "sim/root/file_lock.hpp"

namespace kvtsim {

namespace {

// The lock of a shared file is "<root>/sim/<file name>.lock", out of the
// directories the daemon looks at.
std::string lock_path_for(const std::string &path)
{
    const std::filesystem::path file(path);
    files::make_dirs(file.parent_path().string());
    files::make_dirs(sim_path(""));
    return sim_path(file.filename().string() + ".lock");
}

std::string read_whole(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The stores of <root>/sim/ held in this process (keep_stores_in_memory).
struct MemoryStores {
    std::mutex mutex;
    std::atomic<bool> on{false};
    StoreContents files;
};

MemoryStores &memory()
{
    static MemoryStores stores;
    return stores;
}

bool held_in_memory(const std::string &path)
{
    return memory().on && path.starts_with(sim_path(""));
}

// The file's text as this process holds it, read from the file the first
// time. Called with memory().mutex held.
std::string &memory_text(const std::string &path)
{
    auto &files = memory().files;
    auto found = files.find(path);
    if (found == files.end())
        found = files.emplace(path, read_whole(path)).first;
    return found->second;
}

} // namespace

std::string read_locked(const std::string &path)
{
    if (held_in_memory(path)) {
        const std::lock_guard lock(memory().mutex);
        return memory_text(path);
    }
    FileLock lock(lock_path_for(path), LOCK_SH);
    return read_whole(path);
}

bool edit_locked(const std::string &path, const std::function<bool(std::string &)> &edit,
                 mode_t mode)
{
    if (held_in_memory(path)) {
        const std::lock_guard lock(memory().mutex);
        std::string text = memory_text(path);
        if (edit(text))
            memory_text(path) = std::move(text);
        return true;
    }
    FileLock lock(lock_path_for(path), LOCK_EX);
    std::string text = read_whole(path);
    if (!edit(text))
        return true;
    return files::replace(path, text, mode);
}

bool write_locked(const std::string &path, std::string_view text, mode_t mode)
{
    if (held_in_memory(path)) {
        const std::lock_guard lock(memory().mutex);
        memory_text(path) = std::string(text);
        return true;
    }
    FileLock lock(lock_path_for(path), LOCK_EX);
    return files::replace(path, text, mode);
}

void keep_stores_in_memory()
{
    memory().on = true;
}

bool stores_held_in_memory()
{
    return memory().on;
}

StoreContents stores_in_memory()
{
    const std::lock_guard lock(memory().mutex);
    return memory().files;
}

void set_stores_in_memory(StoreContents contents)
{
    const std::lock_guard lock(memory().mutex);
    memory().files = std::move(contents);
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

namespace {

// Where the value of `key`'s line starts in `text`, or npos.
std::size_t value_start(std::string_view text, std::string_view key)
{
    std::size_t line = 0;
    while (line < text.size()) {
        const std::size_t tab = line + key.size();
        if (tab < text.size() && text[tab] == '\t' && text.substr(line, key.size()) == key)
            return tab + 1;
        const std::size_t end = text.find('\n', line);
        if (end == std::string_view::npos)
            break;
        line = end + 1;
    }
    return std::string_view::npos;
}

std::size_t value_length(std::string_view text, std::size_t start)
{
    const std::size_t end = text.find('\n', start);
    return (end == std::string_view::npos ? text.size() : end) - start;
}

} // namespace

std::optional<std::string> find_in_text(std::string_view text, std::string_view key)
{
    const std::size_t start = value_start(text, key);
    if (start == std::string_view::npos)
        return std::nullopt;
    return std::string(text.substr(start, value_length(text, start)));
}

void put_in_text(std::string &text, std::string_view key, std::string_view value)
{
    const std::size_t start = value_start(text, key);
    if (start != std::string_view::npos) {
        text.replace(start, value_length(text, start), value);
        return;
    }
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    text.append(key).append(1, '\t').append(value).append(1, '\n');
}

} // namespace kvtsim
