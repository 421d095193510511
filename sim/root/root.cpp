// The SP root: the directory that holds one simulated SP, selected by
// KVT_SP_ROOT for this process and every process it starts.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sim/control.hpp"
#include "sim/root/defaults.hpp"
#include "sim/root/files.hpp"
#include "sim/system/mac_text.hpp"

namespace kvtsim {

namespace fs = std::filesystem;

namespace {

// Nothing can be opened or created below a character device, whoever asks.
constexpr const char *kRefusedRoot = "/dev/null/refused-sp-root";

std::string env_or_empty(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

std::string home_dir()
{
    if (std::string home = env_or_empty("HOME"); !home.empty())
        return home;
    const passwd *entry = ::getpwuid(::geteuid());
    return entry && entry->pw_dir ? entry->pw_dir : "";
}

// Trusted roots are remembered: a root owned by this user changes hands
// only by this user's doing. Refusals are looked at again each time, so
// that a root created meanwhile is taken.
struct TrustCache {
    std::mutex mutex;
    std::set<std::string> trusted;
    std::set<std::string> reported;
};

TrustCache &trust_cache()
{
    static auto *cache = new TrustCache; // used until the process ends
    return *cache;
}

bool usable(const std::string &dir)
{
    TrustCache &cache = trust_cache();
    {
        const std::lock_guard lock(cache.mutex);
        if (cache.trusted.contains(dir))
            return true;
    }
    const std::optional<std::string> refusal = root_refusal(dir);
    const std::lock_guard lock(cache.mutex);
    if (!refusal) {
        cache.trusted.insert(dir);
        return true;
    }
    if (cache.reported.insert(dir).second)
        std::cerr << "kvtsim: SP root " << dir << " refused: " << *refusal << '\n';
    return false;
}

} // namespace

std::string default_root()
{
    if (std::string runtime = env_or_empty("XDG_RUNTIME_DIR"); !runtime.empty())
        return runtime + "/kvt-sp";
    return home_dir() + "/.kvt-sp";
}

std::string configured_root()
{
    std::string dir = env_or_empty(kRootEnv);
    return dir.empty() ? default_root() : dir;
}

namespace {

std::optional<std::string> top_refusal(const std::string &dir)
{
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0)
        return std::string(std::strerror(errno));
    if (S_ISLNK(st.st_mode))
        return "it is a symbolic link";
    if (!S_ISDIR(st.st_mode))
        return "it is not a directory";
    if (st.st_uid != ::geteuid())
        return "owned by uid " + std::to_string(st.st_uid) + ", not by uid " +
               std::to_string(::geteuid());
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return "writable by group or others";
    return std::nullopt;
}

// Whatever lies below the root counts as the root itself: a file or
// directory there that others can write lets them plant a user, a CLI-mode
// line or a link just as well. Links are not followed (the services never
// follow one) and their own mode means nothing.
std::optional<std::string> refusal_below(const std::string &dir)
{
    std::error_code error;
    fs::recursive_directory_iterator entry(dir, error);
    for (; !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
        struct stat st {};
        if (::lstat(entry->path().c_str(), &st) != 0 || S_ISLNK(st.st_mode))
            continue;
        if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
            return fs::relative(entry->path(), dir).string() +
                   " in it is writable by group or others";
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> root_refusal(const std::string &dir)
{
    if (auto refusal = top_refusal(dir))
        return refusal;
    return refusal_below(dir);
}

std::string root()
{
    std::string dir = configured_root();
    return usable(dir) ? dir : kRefusedRoot;
}

void use_root(const std::string &dir)
{
    ::setenv(kRootEnv, dir.c_str(), 1);
}

std::string path_in_root(std::string_view fixed)
{
    return root() + std::string(fixed);
}

std::string sim_path(std::string_view name)
{
    return root() + "/sim/" + std::string(name);
}

namespace {

constexpr const char *kRootDirs[] = {
    "/etc",     "/var/tmp",  "/var/log", "/var/lib/kvtd", "/run",
    "/dev/shm", "/coredump", "/conf",    "/sim/card",     "/sim/faults",
};

bool make_tree()
{
    for (const char *dir : kRootDirs)
        if (!files::make_dirs(path_in_root(dir)))
            return false;
    return true;
}

// The records of the simulated services start empty; the daemon's own logs
// are left to whoever reads them.
bool reset_records(const RootOptions &options)
{
    const std::string kvt_data =
        mac_text(options.base_mac) + "\n" + mac_text(options.sp_mac) + "\n";
    bool ok = files::replace(path_in_root("/dev/console"), "");
    ok = files::replace(sim_path("faultlog"), "") && ok;
    ok = files::replace(sim_path("power.log"), "") && ok;
    ok = write_kvt_data(kvt_data) == 0 && ok;
    ok = card_insert_blank() == 0 && ok;
    std::error_code ignored;
    fs::remove(sim_path("card/pulled.bin"), ignored);
    set_daemon_state("running");
    set_moved(false);
    set_ipmi_up(options.ipmi_up);
    faults_clear_all();
    return ok;
}

// Selects a root for the lifetime of the object and puts the previous
// selection back afterwards.
class RootSwitch {
  public:
    explicit RootSwitch(const std::string &dir)
    {
        if (const char *old = std::getenv(kRootEnv))
            previous_ = old;
        use_root(dir);
    }
    ~RootSwitch()
    {
        if (previous_)
            use_root(*previous_);
        else
            ::unsetenv(kRootEnv);
    }
    RootSwitch(const RootSwitch &) = delete;
    RootSwitch &operator=(const RootSwitch &) = delete;

  private:
    std::optional<std::string> previous_;
};

} // namespace

int create_root(const std::string &dir, const RootOptions &options)
{
    if (dir.empty())
        return -1;
    // Only the root itself is checked here: resetting a root gives every
    // file it rewrites its fixed mode again.
    if (!fs::exists(dir) && !files::make_dirs(dir))
        return -1;
    if (top_refusal(dir))
        return -1;
    RootSwitch selected(dir);
    if (!make_tree() || !reset_records(options))
        return -1;
    reset_config_defaults();
    return 0;
}

} // namespace kvtsim
