#include "sim/kvtsim/args.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "sim/root/files.hpp"

namespace kvtsim::cli {

int refuse(const std::string &why)
{
    std::cerr << "kvtsim: " << why << '\n';
    return kRefused;
}

int status(int rc, const char *what)
{
    if (rc == 0)
        return 0;
    if (!what)
        return 1;
    // A change that could not be stored says why ("No space left on
    // device"); one the service refused says only that it failed.
    if (const int error = files::last_write_error())
        std::cerr << "kvtsim: " << what << " failed: " << std::strerror(error) << '\n';
    else
        std::cerr << "kvtsim: " << what << " failed\n";
    return 1;
}

std::optional<long long> parse_long(const std::string &text)
{
    errno = 0;
    char *end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno != 0)
        return std::nullopt;
    return value;
}

int print_value(const std::optional<std::string> &value, const char *what, const std::string &name)
{
    if (!value) {
        std::cerr << "kvtsim: no " << what << ' ' << name << '\n';
        return 1;
    }
    std::cout << *value << '\n';
    return 0;
}

int print_lines(const std::vector<std::string> &lines)
{
    for (const std::string &line : lines)
        std::cout << line << '\n';
    return 0;
}

} // namespace kvtsim::cli
