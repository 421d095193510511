// The user-management library, the password-file lock and the IPMI user-id
// mapping of the simulated SP, over the user database of sim/users/user_db.cpp.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/ipmi.h"
#include "platform/user_mgmt.h"
#include "sim/control.hpp"
#include "sim/root/files.hpp"
#include "sim/root/journal.hpp"
#include "sim/users/user_db.hpp"

namespace {

using kvtsim::fault_fires;

std::mutex enumeration_mutex;
std::size_t enumeration_next = 0; // index of the next account to hand out
bool enumeration_open = false;

std::mutex pwdb_mutex;
int pwdb_fd = -1;

// The result a fired fault reports: its value, or -1 when it has none.
int fault_result(const char *name)
{
    long value = 0;
    if (!fault_fires(name, &value))
        return 0;
    return value != 0 ? static_cast<int>(value) : -1;
}

} // namespace

bool kvtsim::user_enumeration_open()
{
    const std::lock_guard lock(enumeration_mutex);
    return enumeration_open;
}

extern "C" {

void um_endatent(void)
{
    const std::lock_guard lock(enumeration_mutex);
    enumeration_next = 0;
    enumeration_open = false;
}

int um_getatent_r(struct um_atent *entry, char *buf, size_t buflen, struct um_atent **result)
{
    if (result)
        *result = nullptr;
    if (!entry || !buf || !result)
        return -1;
    const std::lock_guard lock(enumeration_mutex);
    enumeration_open = true;
    const auto users = kvtsim::userdb::load();
    if (enumeration_next >= users.size())
        return -1;
    const kvtsim::User &user = users[enumeration_next];
    const std::size_t name_size = user.name.size() + 1;
    if (name_size + user.roles.size() + 1 > buflen)
        return -1; // the caller may retry with a larger buffer: the cursor stays
    std::memcpy(buf, user.name.c_str(), name_size);
    std::memcpy(buf + name_size, user.roles.c_str(), user.roles.size() + 1);
    entry->name = buf;
    entry->roles = buf + name_size;
    *result = entry;
    ++enumeration_next;
    return 0;
}

int um_unserialize_roles(const char *roles, uint32_t *mask)
{
    if (!roles || !mask)
        return -1;
    *mask = kvtsim::roles_to_mask(roles);
    return 0;
}

int um_get_local_user_attr_password(const char *name, char *buf, size_t buflen)
{
    if (const int failure = fault_result("um.get_password"))
        return failure;
    if (!name || !buf)
        return -1;
    const auto user = kvtsim::userdb::find(name);
    if (!user || user->password.size() + 1 > buflen)
        return -1;
    std::memcpy(buf, user->password.c_str(), user->password.size() + 1);
    return 0;
}

int um_set_local_user_password(const char *name, const char *password)
{
    int result = fault_result("um.set_password");
    if (result == 0)
        result = !name || !password ? -1 : kvtsim::userdb::set_password(name, password);
    kvtsim::journal_call(std::string("um_set_local_user_password ") + (name ? name : ""), result);
    return result;
}

int um_user_is_proxy(const char *name)
{
    if (!name)
        return 0;
    const auto user = kvtsim::userdb::find(name);
    return user && user->proxy ? 1 : 0;
}

// Only account 0, root, is asked about.
int um_is_user_enabled(int which)
{
    if (which != 0 || fault_fires("um.root_disabled"))
        return 0;
    return kvtsim::userdb::find("root") ? 1 : 0;
}

int um_add_local_user(const char *name, uid_t uid)
{
    int result = fault_result("um.add");
    if (result == 0 && !name)
        result = -1;
    if (result == 0) {
        kvtsim::User user;
        user.name = name;
        user.uid = uid;
        result = kvtsim::userdb::add(user);
    }
    kvtsim::journal_call(std::string("um_add_local_user ") + (name ? name : ""), result);
    return result;
}

int um_delete_local_user(const char *name)
{
    int result = fault_result("um.delete");
    if (result == 0)
        result = name ? kvtsim::userdb::remove(name) : -1;
    kvtsim::journal_call(std::string("um_delete_local_user ") + (name ? name : ""), result);
    return result;
}

int um_set_local_user_roles(const char *name, uint32_t mask)
{
    int result = fault_result("um.set_roles");
    if (result == 0)
        result = name ? kvtsim::userdb::set_roles(name, kvtsim::mask_to_roles(mask)) : -1;
    char text[16];
    std::snprintf(text, sizeof text, " 0x%08x", mask);
    kvtsim::journal_call(std::string("um_set_local_user_roles ") + (name ? name : "") + text,
                         result);
    return result;
}

uid_t um_get_root_marn_uid(void)
{
    return kvtsim::userdb::kMarnintUid;
}

// Like lckpwdf: taking the lock again in the same process succeeds at once.
int pwdb_lock(void)
{
    const std::lock_guard lock(pwdb_mutex);
    if (pwdb_fd >= 0)
        return 0;
    const std::string path = kvtsim::path_in_root("/etc/.pwd.lock");
    pwdb_fd = kvtsim::files::open_file(path, O_RDWR | O_CREAT, kvtsim::files::kPrivateMode);
    if (pwdb_fd < 0)
        return -1;
    return ::flock(pwdb_fd, LOCK_EX);
}

int pwdb_unlock(void)
{
    const std::lock_guard lock(pwdb_mutex);
    if (pwdb_fd < 0)
        return -1;
    ::close(pwdb_fd);
    pwdb_fd = -1;
    return 0;
}

int pwdb_uid_exists(uid_t uid)
{
    if (fault_fires("um.no_free_uid"))
        return 1;
    return kvtsim::userdb::uid_taken(uid) ? 1 : 0;
}

uid_t ipmi_uid_to_linux_uid(uint8_t ipmi_uid)
{
    return kvtsim::userdb::kIpmiUidBase + ipmi_uid;
}

} // extern "C"
