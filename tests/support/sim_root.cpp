#include "tests/support/sim_root.hpp"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace kvttest {

namespace fs = std::filesystem;

SimRoot::SimRoot(const kvtsim::RootOptions &options)
{
    std::string pattern = (fs::temp_directory_path() / "kvt-sp-test.XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    if (kvtsim::create_root(dir_, options) != 0)
        throw std::runtime_error("create_root failed for " + dir_);
    kvtsim::use_root(dir_);
}

SimRoot::~SimRoot()
{
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string SimRoot::read(std::string_view fixed_path) const
{
    return read_file(kvtsim::path_in_root(fixed_path));
}

bool SimRoot::exists(std::string_view fixed_path) const
{
    return fs::exists(kvtsim::path_in_root(fixed_path));
}

bool wait_until(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

bool log_has(std::string_view text)
{
    return read_file(kvtsim::path_in_root("/var/log/kvtd.log")).find(text) != std::string::npos;
}

std::string missing_in_order(const std::string &log, const std::vector<std::string> &lines)
{
    std::size_t at = 0;
    for (const std::string &line : lines) {
        at = log.find(line, at);
        if (at == std::string::npos)
            return line;
        at += line.size();
    }
    return "";
}

kvt::Image card_as_image()
{
    kvt::Image image{};
    const kvtsim::ImageBytes card = kvtsim::card_image().value();
    std::memcpy(&image, card.data(), card.size());
    return image;
}

std::size_t open_descriptors(int pid)
{
    const std::string process = pid == 0 ? "self" : std::to_string(pid);
    const std::filesystem::directory_iterator fds("/proc/" + process + "/fd");
    return static_cast<std::size_t>(std::distance(fds, std::filesystem::directory_iterator()));
}

int count_in(std::string_view text, std::string_view what)
{
    int count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++count;
    return count;
}

int log_count(std::string_view text)
{
    return count_in(read_file(kvtsim::path_in_root("/var/log/kvtd.log")), text);
}

std::vector<std::string> log_messages(const std::string &log)
{
    static const std::regex kStamp("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} ");
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        std::size_t after = 0;
        for (auto it = std::sregex_iterator(line.begin(), line.end(), kStamp);
             it != std::sregex_iterator(); ++it)
            after = static_cast<std::size_t>(it->position() + it->length());
        lines.push_back(line.substr(after));
    }
    return lines;
}

void clear_log()
{
    std::filesystem::remove(kvtsim::path_in_root("/var/log/kvtd.log"));
}

} // namespace kvttest
