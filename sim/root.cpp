// The SP root: the directory that holds one simulated SP, selected by
// KVT_SP_ROOT for this process and every process it starts.
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include "sim/control.hpp"
#include "sim/defaults.hpp"
#include "sim/files.hpp"
#include "sim/mac_text.hpp"

namespace kvtsim
{

namespace fs = std::filesystem;

std::string root()
{
    const char *dir = std::getenv(kRootEnv);
    return dir && *dir ? dir : kDefaultRoot;
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

namespace
{

constexpr const char *kRootDirs[] = {
    "/etc", "/var/tmp", "/var/log", "/var/lib", "/dev/shm", "/coredump", "/conf", "/sim/card",
    "/sim/faults",
};

bool make_tree()
{
    for (const char *dir : kRootDirs) {
        std::error_code error;
        fs::create_directories(path_in_root(dir), error);
        if (error)
            return false;
    }
    return true;
}

// The records of the simulated services start empty; the daemon's own logs
// are left to whoever reads them.
bool reset_records(const RootOptions &options)
{
    const std::string kvt_data =
        mac_text(options.base_mac) + "\n" + mac_text(options.sp_mac) + "\n";
    bool ok = files::replace(path_in_root("/dev/console"), std::string());
    ok = files::replace(sim_path("faultlog"), std::string()) && ok;
    ok = files::replace(sim_path("power.log"), std::string()) && ok;
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
class RootSwitch
{
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
    RootSwitch selected(dir);
    if (!make_tree() || !reset_records(options))
        return -1;
    reset_config_defaults();
    return 0;
}

} // namespace kvtsim
