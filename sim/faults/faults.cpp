// Injected faults: one file per fault under <root>/sim/faults/, holding
// "value count". Files make a fault set by a test visible to the daemon it
// started; a lock file serialises the use of counted faults between
// processes so that each counted failure is spent exactly once. A process
// that keeps its stores in memory keeps its faults there too: most calls
// meet no fault, and it answers those without a system call.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "sim/control.hpp"
#include "sim/faults/fault_targets.hpp"
#include "sim/root/file_lock.hpp"
#include "sim/root/files.hpp"
#include "sim/root/locked_text.hpp"

namespace kvtsim {

namespace fs = std::filesystem;

namespace {

bool plain_char(char c, bool first)
{
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    return alnum || c == '_' || c == '-' || c == ':' || (c == '.' && !first);
}

// Fault names carry object paths ("luapi.get:/X/network/state"): every
// character that could leave the directory or confuse a shell becomes %XX.
std::string file_name(std::string_view name)
{
    std::string encoded;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (plain_char(c, i == 0)) {
            encoded += c;
            continue;
        }
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
        encoded += hex;
    }
    return encoded;
}

std::string fault_path(std::string_view name)
{
    return sim_path("faults/" + file_name(name));
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The inverse of file_name; nullopt for a name file_name never makes.
std::optional<std::string> fault_name_of(std::string_view file)
{
    std::string name;
    for (std::size_t i = 0; i < file.size(); ++i) {
        if (file[i] != '%') {
            name += file[i];
            continue;
        }
        if (i + 2 >= file.size() || hex_digit(file[i + 1]) < 0 || hex_digit(file[i + 2]) < 0)
            return std::nullopt;
        name += static_cast<char>(hex_digit(file[i + 1]) * 16 + hex_digit(file[i + 2]));
        i += 2;
    }
    return name;
}

// The operations of the simulated SP that can be made to fail. A family
// ending in ':' takes what it applies to after the colon.
constexpr const char *kFaultNames[] = {
    "card.read",
    "card.write",
    "card.write_torn",
    "card.power_cut",
    "card.detect",
    "card.pull",
    "card.busy",
    "i2c",
    "luapi.open",
    "luapi.session_create",
    "luapi.session_destroy",
    "luapi.close",
    "luapi.test_get:",
    "luapi.get:",
    "luapi.test_set:",
    "luapi.set:",
    "luapi.get_garbled:",
    "capi.get_keyswitch",
    "capi.set_keyswitch",
    "capi.verbosity_name:",
    "capi.level_name:",
    "nv.get:",
    "um.add",
    "um.delete",
    "um.set_password",
    "um.set_roles",
    "um.get_password",
    "um.root_disabled",
    "um.no_free_uid",
    "em.get_handle",
    "em.subscribe:",
    "em.post:",
    "file.open:",
    "file.write",
    "file.write_short",
    "file.fsync",
    "file.close",
    "file.rename",
};

class FaultsLock : public FileLock {
  public:
    FaultsLock() : FileLock(sim_path("faults/.lock"), LOCK_EX) {}
};

struct Fault {
    long value = 0;
    int count = -1;
};

std::optional<Fault> read_fault(const std::string &path)
{
    const auto text = files::read(path);
    if (!text)
        return std::nullopt;
    Fault fault;
    std::istringstream in(*text);
    if (!(in >> fault.value >> fault.count))
        return std::nullopt;
    return fault;
}

bool write_fault(const std::string &path, const Fault &fault)
{
    return files::replace(path, std::to_string(fault.value) + " " + std::to_string(fault.count));
}

struct MemoryFaults {
    std::mutex mutex;
    std::map<std::string, Fault, std::less<>> faults;
};

MemoryFaults &memory()
{
    static MemoryFaults held;
    return held;
}

// Spends one use of the fault: true when that was its last.
bool spend(Fault &fault, long *value)
{
    if (value)
        *value = fault.value;
    return fault.count > 0 && --fault.count == 0;
}

bool memory_fault_fires(std::string_view name, long *value)
{
    const std::lock_guard lock(memory().mutex);
    auto &faults = memory().faults;
    const auto found = faults.find(name);
    if (found == faults.end())
        return false;
    if (spend(found->second, value))
        faults.erase(found);
    return true;
}

std::vector<ActiveFault> memory_faults_active()
{
    const std::lock_guard lock(memory().mutex);
    std::vector<ActiveFault> active;
    for (const auto &[name, fault] : memory().faults)
        active.push_back({name, fault.value, fault.count});
    return active;
}

} // namespace

std::vector<std::string> fault_names()
{
    return {std::begin(kFaultNames), std::end(kFaultNames)};
}

bool fault_name_known(std::string_view name)
{
    for (std::string_view known : kFaultNames) {
        if (name == known)
            return !known.ends_with(':');
        if (known.ends_with(':') && name.starts_with(known))
            return fault_target_known(known, name.substr(known.size()));
    }
    return false;
}

std::vector<ActiveFault> faults_active()
{
    if (stores_held_in_memory())
        return memory_faults_active();
    std::vector<ActiveFault> active;
    FaultsLock lock;
    std::error_code ignored;
    for (const auto &entry : fs::directory_iterator(sim_path("faults"), ignored)) {
        const auto name = fault_name_of(entry.path().filename().string());
        const auto fault = read_fault(entry.path().string());
        if (name && fault)
            active.push_back({*name, fault->value, fault->count});
    }
    std::sort(active.begin(), active.end(),
              [](const ActiveFault &a, const ActiveFault &b) { return a.name < b.name; });
    return active;
}

void fault_set(std::string_view name, long value, int count)
{
    if (count == 0) {
        fault_clear(name);
        return;
    }
    const Fault fault{value, count < 0 ? -1 : count};
    if (stores_held_in_memory()) {
        const std::lock_guard lock(memory().mutex);
        memory().faults.insert_or_assign(std::string(name), fault);
        return;
    }
    files::make_dirs(sim_path("faults"));
    FaultsLock lock;
    write_fault(fault_path(name), fault);
}

void fault_clear(std::string_view name)
{
    if (stores_held_in_memory()) {
        const std::lock_guard lock(memory().mutex);
        if (const auto found = memory().faults.find(name); found != memory().faults.end())
            memory().faults.erase(found);
        return;
    }
    FaultsLock lock;
    ::unlink(fault_path(name).c_str());
}

void faults_clear_all()
{
    if (stores_held_in_memory()) {
        const std::lock_guard lock(memory().mutex);
        memory().faults.clear();
        return;
    }
    FaultsLock lock;
    std::error_code ignored;
    for (const auto &entry : fs::directory_iterator(sim_path("faults"), ignored))
        if (entry.path().filename() != ".lock")
            fs::remove(entry.path(), ignored);
}

bool fault_fires(std::string_view name, long *value)
{
    if (stores_held_in_memory())
        return memory_fault_fires(name, value);
    const std::string path = fault_path(name);
    // Most calls meet no fault: answer those without taking the lock.
    if (!files::exists(path))
        return false;
    FaultsLock lock;
    auto fault = read_fault(path);
    if (!fault)
        return false;
    if (spend(*fault, value))
        ::unlink(path.c_str());
    else if (fault->count > 0)
        write_fault(path, *fault);
    return true;
}

} // namespace kvtsim
