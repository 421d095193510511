// Capture of the user and role tables from the user database.
#include <cstring>
#include <span>
#include <string_view>

#include "base/fatal_stop.hpp"
#include "base/log.hpp"
#include "base/section_write.hpp"
#include "card/sections.hpp"
#include "platform/user_mgmt.h"
#include "sections/user_data.hpp"
#include "sections/users.hpp"

namespace {

constexpr std::size_t kEnumBufferSize = 2048;
constexpr std::uint32_t kRoleAdmin = 0x01;
constexpr std::uint32_t kRoleOperator = 0x20;

struct UserTables {
    kvt::UserEntry users[kvt::kMaxUsers];
    kvt::Be32 roles[kvt::kMaxUsers];
};

// The full capture and the snapshot walk the accounts almost alike: the
// full capture asks for one account more once the tables are full, and the
// two fetch the passwords in opposite order.
enum class Walk { full_capture, snapshot };

unsigned char privilege_from_mask(std::uint32_t mask)
{
    if (mask & kRoleAdmin)
        return kvt::kPrivilegeAdmin;
    if (mask & kRoleOperator)
        return kvt::kPrivilegeOperator;
    return 0;
}

void store_account(kvt::UserEntry &user, kvt::Be32 &role, const um_atent &account)
{
    user.name.store(account.name);
    std::uint32_t mask = 0;
    um_unserialize_roles(account.roles ? account.roles : "", &mask);
    role.set(mask);
    user.privilege = privilege_from_mask(mask);
}

std::size_t enumerate_accounts(UserTables &tables, Walk walk)
{
    um_atent record{};
    um_atent *account = nullptr;
    char work[kEnumBufferSize];
    const std::span users(tables.users);
    const std::span roles(tables.roles);
    std::size_t n = 0;
    um_endatent();
    for (;;) {
        if (walk == Walk::snapshot && n == kvt::kMaxUsers)
            break;
        if (um_getatent_r(&record, work, sizeof work, &account) != 0 || account == nullptr)
            break;
        if (n == kvt::kMaxUsers)
            break; // full capture: the extra account is dropped
        if (skip_user(account->name) == 1)
            continue;
        store_account(users[n], roles[n], *account);
        ++n;
    }
    um_endatent();
    return n;
}

void fetch_password(kvt::UserEntry &entry)
{
    // Whatever the library leaves in the field is kept; readers of the
    // field never look past its 17 bytes.
    um_get_local_user_attr_password(entry.name.chars, entry.password.chars,
                                    sizeof entry.password.chars);
}

void fetch_passwords(UserTables &tables, std::size_t n, Walk walk)
{
    const auto stored = std::span(tables.users).first(n);
    if (walk == Walk::full_capture) {
        for (kvt::UserEntry &entry : stored)
            fetch_password(entry);
        return;
    }
    for (auto entry = stored.rbegin(); entry != stored.rend(); ++entry)
        fetch_password(*entry);
}

void build_tables(UserTables &tables, Walk walk)
{
    std::memset(&tables, 0, sizeof tables);
    fetch_passwords(tables, enumerate_accounts(tables, walk), walk);
}

} // namespace

int skip_user(const char *name)
{
    if (name == nullptr)
        return 1;
    const std::string_view account(name);
    if (account == "marnint")
        return 1;
    if (um_user_is_proxy(name) != 0)
        return 1;
    if (account == "anonymous" || account == "default" || account.empty())
        return 1;
    return 0;
}

void capture_user_tables(kvt_image_t *image)
{
    UserTables tables;
    build_tables(tables, Walk::full_capture);
    std::memcpy(image->user_table, tables.users, sizeof tables.users);
    std::memcpy(image->role_table, tables.roles, sizeof tables.roles);
}

bool kvt::snapshot_skipped_by_policy()
{
    if (!user_data_backup_off(kvt_image))
        return false;
    log_error("kvtd snapshot: returning immediately because KVT_NO_BACKUP_USER_DATA is set\n");
    return true;
}

void kvtd_snapshot()
{
    if (kvt::snapshot_skipped_by_policy())
        return;
    // Built aside: kvt_image changes only once the enumeration is complete.
    UserTables tables;
    build_tables(tables, Walk::snapshot);

    std::memcpy(kvt_image.user_table, tables.users, sizeof tables.users);
    if (kvt::commit_section(kvt::Section::users) < 0) {
        log_error("Error writing out KVT user_table!\n");
        kvtd_fatal_stop();
    }
    std::memcpy(kvt_image.role_table, tables.roles, sizeof tables.roles);
    if (kvt::commit_section(kvt::Section::roles) < 0) {
        log_error("Error writing out KVT role_table!\n");
        kvtd_fatal_stop();
    }
}
