// Restore of the SP's local users from the user and role tables.
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/fatal_stop.hpp"
#include "base/log.hpp"
#include "platform/ipmi.h"
#include "platform/user_mgmt.h"
#include "sections/card_texts.hpp"
#include "sections/user_data.hpp"
#include "sections/users.hpp"

namespace {

constexpr uid_t kRootUid = 501;
constexpr std::uint8_t kFirstIpmiUid = 2;
constexpr std::uint8_t kLastIpmiUid = 11;
constexpr std::size_t kEnumBufferSize = 2048;
constexpr std::size_t kPasswordSize = 17;

// The password-file lock around one change or one user's changes.
class PasswordFileLock {
  public:
    PasswordFileLock() { pwdb_lock(); }
    ~PasswordFileLock() { pwdb_unlock(); }
    PasswordFileLock(const PasswordFileLock &) = delete;
    PasswordFileLock &operator=(const PasswordFileLock &) = delete;
};

// User changes of the running restore that failed; each is logged where
// it fails and the restore goes on with the next one.
int failed_changes = 0;

void note_failure()
{
    ++failed_changes;
}

// At most 11 names: only as many users as the card can hold are replaced.
using CurrentUsers = std::vector<std::string>;

template <std::size_t N> std::string field_text(const kvt::TextField<N> &field)
{
    return std::string(field.view());
}

CurrentUsers list_current_users()
{
    CurrentUsers list;
    um_atent record{};
    um_atent *account = nullptr;
    char work[kEnumBufferSize];
    um_endatent();
    while (list.size() < kvt::kMaxUsers &&
           um_getatent_r(&record, work, sizeof work, &account) == 0 && account != nullptr) {
        if (skip_user(account->name) == 1 || std::string_view(account->name) == "root")
            continue;
        list.emplace_back(account->name);
    }
    um_endatent();
    return list;
}

const kvt::UserEntry *find_saved_root()
{
    for (const kvt::UserEntry &entry : kvt_image.user_table)
        if (entry.name.view() == "root")
            return &entry;
    return nullptr;
}

void restore_root_password(const kvt::UserEntry &saved)
{
    if (const kvt::TextProblem problem = kvt::password_problem(saved.password)) {
        log_error("restore_passwd: keeping the SP's root password: %s\n", problem);
        note_failure();
        return;
    }
    char current[kPasswordSize + 1] = {};
    const int ret = um_get_local_user_attr_password("root", current, kPasswordSize);
    if (ret != 0) {
        log_error("kvtd: get root password failed! - %d\n", ret);
        note_failure();
        return;
    }
    if (std::string_view(current) == saved.password.view())
        return;
    log_progress("kvtd: changing root password\n");
    const std::string password = field_text(saved.password);
    PasswordFileLock lock;
    const int set = um_set_local_user_password("root", password.c_str());
    if (set != 0) {
        log_error("kvtd: error setting root password ret=%d\n", set);
        note_failure();
    }
}

void restore_root()
{
    const kvt::UserEntry *saved = find_saved_root();
    if (saved == nullptr) {
        log_progress("kvtd: could not find root\n");
        PasswordFileLock lock;
        if (um_delete_local_user("root") != 0) {
            log_error("Could not delete user root\n");
            note_failure();
        }
        return;
    }
    if (um_is_user_enabled(0) == 0) {
        PasswordFileLock lock;
        const int ret = um_add_local_user("root", kRootUid);
        if (ret != 0) {
            log_error("kvtd: failed to add user root ret=%d\n", ret);
            note_failure();
        }
    }
    restore_root_password(*saved);
}

void delete_current_users(const CurrentUsers &list)
{
    log_progress("deleting current users\n");
    for (const std::string &name : list) {
        PasswordFileLock lock;
        const int ret = um_delete_local_user(name.c_str());
        if (ret != 0) {
            log_error("kvtd: error deleting user %s ret=%d\n", name.c_str(), ret);
            note_failure();
        }
    }
}

// The first free Linux user id among those of IPMI users 2 to 11; running
// out is fatal.
uid_t choose_user_id()
{
    const uid_t reserved = um_get_root_marn_uid();
    for (unsigned id = kFirstIpmiUid; id <= kLastIpmiUid; ++id) {
        const uid_t candidate = ipmi_uid_to_linux_uid(static_cast<std::uint8_t>(id));
        if (candidate != reserved && pwdb_uid_exists(candidate) == 0)
            return candidate;
    }
    log_error("kvtd: restore ran out of user id's!?!\n");
    kvtd_fatal_stop();
}

void add_saved_user(const kvt::UserEntry &saved, const kvt::Be32 &role_word,
                    const std::string &name, uid_t uid)
{
    PasswordFileLock lock;
    int ret = um_add_local_user(name.c_str(), uid);
    if (ret != 0) {
        log_error("kvtd: failed to add user %s ret=%d\n", name.c_str(), ret);
        note_failure();
        return;
    }
    const std::string password = field_text(saved.password);
    ret = um_set_local_user_password(name.c_str(), password.c_str());
    if (ret != 0) {
        log_error("kvtd: failed to set user password ret=%d\n", ret);
        note_failure();
    }
    const std::uint32_t roles = restored_role_mask(kvt_image, saved, role_word.get());
    ret = um_set_local_user_roles(name.c_str(), roles);
    if (ret != 0) {
        log_error("kvtd: failed to set user roles ret=%d\n", ret);
        note_failure();
    }
}

// A user whose name or password the SP's files could not hold as they
// are, or the capture could not give back, is not added at all: neither
// under another name nor with some other password.
kvt::TextProblem saved_user_problem(const kvt::UserEntry &saved)
{
    if (const kvt::TextProblem problem = kvt::user_name_problem(saved.name))
        return problem;
    return kvt::password_problem(saved.password);
}

void add_saved_users()
{
    log_progress("adding in the saved users\n");
    const std::span saved_users(kvt_image.user_table);
    const std::span role_words(kvt_image.role_table);
    for (std::size_t k = 0; k < kvt::kMaxUsers; ++k) {
        if (role_words[k].get() == 0)
            continue;
        const std::string name = field_text(saved_users[k].name);
        log_progress("i: %d name: %s\n", static_cast<int>(k), name.c_str());
        if (skip_user(name.c_str()) == 1 || name == "root")
            continue;
        if (const kvt::TextProblem problem = saved_user_problem(saved_users[k])) {
            log_error("restore_passwd: skipping entry %d (%s): %s\n", static_cast<int>(k),
                      name.c_str(), problem);
            note_failure();
            continue;
        }
        add_saved_user(saved_users[k], role_words[k], name, choose_user_id());
    }
}

} // namespace

void restore_passwd()
{
    failed_changes = 0;
    if (kvt::user_data_backup_off(kvt_image)) {
        log_error("restore_passwd: returning immediately because KVT_NO_BACKUP_USER_DATA is set\n");
        return;
    }
    const CurrentUsers current = list_current_users();
    restore_root();
    delete_current_users(current);
    add_saved_users();
    log_progress("password restore done\n");
}

std::uint32_t restored_role_mask(const kvt_image_t &image, const kvt::UserEntry &saved,
                                 std::uint32_t role_word)
{
    // Images before version 9 carry no role words worth using; the roles
    // come from the IPMI privilege instead.
    constexpr unsigned char kLastPrivilegeOnlyVersion = 8;
    constexpr std::uint32_t kAdminRoles = 0x8000002F;
    constexpr std::uint32_t kOperatorRoles = 0x8000002C;
    constexpr std::uint32_t kDefaultRoles = 0x40;
    if (image.hdr_version > kLastPrivilegeOnlyVersion)
        return role_word;
    switch (saved.privilege) {
    case 4:
        return kAdminRoles;
    case 3:
        return kOperatorRoles;
    default:
        return kDefaultRoles;
    }
}

int restore_passwd_failures()
{
    return failed_changes;
}
