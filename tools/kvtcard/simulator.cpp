#include "tools/kvtcard/simulator.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kvtcard {

namespace {

std::string own_directory()
{
    char exe[4096];
    const ssize_t len = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (len <= 0)
        return {};
    const std::string path(exe, static_cast<std::size_t>(len));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// `name` from the variable `env`, else from beside kvtcard, else from PATH.
std::string program_path(const char *env, const std::string &name)
{
    if (const char *set = std::getenv(env); set && *set)
        return set;
    std::string beside = own_directory() + "/" + name;
    if (::access(beside.c_str(), X_OK) == 0)
        return beside;
    return name;
}

std::string kvtsim_program()
{
    return program_path("KVT_KVTSIM", "kvtsim");
}

// Quotes a word for the shell: the only place the words pass through one.
std::string quoted(const std::string &word)
{
    std::string out = "'";
    for (const char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

struct PipeCloser {
    void operator()(std::FILE *pipe) const { ::pclose(pipe); }
};

// The first line kvtsim prints for `words`, which must be a path.
bool kvtsim_path(const std::string &words, std::string &path, std::string &error)
{
    const std::string command = quoted(kvtsim_program()) + " " + words + " 2>/dev/null";
    std::FILE *raw = ::popen(command.c_str(), "r");
    if (!raw) {
        error = std::string("cannot run kvtsim: ") + std::strerror(errno);
        return false;
    }
    std::unique_ptr<std::FILE, PipeCloser> pipe(raw);
    char line[4096] = {};
    if (!std::fgets(line, sizeof line, pipe.get()) || line[0] != '/') {
        error = "the simulated SP's tool kvtsim gave no path (is kvtsim installed?)";
        return false;
    }
    path = line;
    path.erase(path.find_last_not_of('\n') + 1);
    return true;
}

} // namespace

bool simulated_card_path(std::string &path, std::string &error)
{
    return kvtsim_path("card path", path, error);
}

bool simulated_path(const std::string &fixed, std::string &path, std::string &error)
{
    return kvtsim_path("path " + quoted(fixed), path, error);
}

int run_preview_program(const std::vector<std::string> &args, std::string &error)
{
    const std::string program = program_path("KVT_PREVIEW", "kvtd-preview");
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    argv.reserve(words.size() + 1);
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    pid_t child = 0;
    const int spawned =
        ::posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv.data(), environ);
    if (spawned != 0) {
        error = "cannot run " + program + ": " + std::strerror(spawned) +
                " (preview needs kvtd-preview, built with kvtd against this SP's services)";
        return -1;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR)
        ;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace kvtcard
