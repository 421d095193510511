// Restore of the SP's local users from the user and role tables. Every
// saved user is handed to the user-management library as the card has it;
// the library refuses what its database cannot hold, and the restore logs
// the refusal and goes on.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/fatal_stop.hpp"
#include "base/log.hpp"
#include "platform/ipmi.h"
#include "platform/user_mgmt.h"
#include "sections/restore_plan.hpp"
#include "sections/user_data.hpp"
#include "sections/users.hpp"

namespace {

using kvt::SavedUserPlan;
using kvt::UserRestorePlan;

constexpr uid_t kRootUid = 501;
constexpr std::uint8_t kFirstIpmiUid = 2;
constexpr std::uint8_t kLastIpmiUid = 11;
constexpr std::size_t kEnumBufferSize = 2048;
constexpr std::size_t kPasswordSize = 17;
// The capture keeps 16 characters of a name or password: a field without
// its NUL goes out as the capture would take it, never read past its end.
constexpr std::size_t kFieldChars = 16;

template <std::size_t N> std::string field_text(const kvt::TextField<N> &field)
{
    return std::string(field.view().substr(0, kFieldChars));
}

// The password-file lock around one change or one user's changes.
class PasswordFileLock {
  public:
    PasswordFileLock() { pwdb_lock(); }
    ~PasswordFileLock() { pwdb_unlock(); }
    PasswordFileLock(const PasswordFileLock &) = delete;
    PasswordFileLock &operator=(const PasswordFileLock &) = delete;
};

int failed_changes = 0;

struct SpAccounts {
    std::vector<std::string> replaced; // the first 11 that pass the filter, root left out
    std::vector<std::string> all;
};

// The SP's accounts as the library enumerates them; the restore replaces
// only as many as the card can hold.
SpAccounts list_sp_accounts()
{
    SpAccounts accounts;
    um_atent record{};
    um_atent *account = nullptr;
    char work[kEnumBufferSize];
    um_endatent();
    while (um_getatent_r(&record, work, sizeof work, &account) == 0 && account != nullptr) {
        accounts.all.emplace_back(account->name);
        const bool replaced = skip_user(account->name) == 0 &&
                              std::string_view(account->name) != "root" &&
                              accounts.replaced.size() < kvt::kMaxUsers;
        if (replaced)
            accounts.replaced.emplace_back(account->name);
    }
    um_endatent();
    return accounts;
}

const kvt::UserEntry *find_saved_root(const kvt::Image &image)
{
    for (const kvt::UserEntry &entry : image.user_table)
        if (entry.name.view() == "root")
            return &entry;
    return nullptr;
}

void plan_root(const kvt::Image &image, UserRestorePlan &plan)
{
    const kvt::UserEntry *saved = find_saved_root(image);
    plan.root_on_card = saved != nullptr;
    if (saved == nullptr)
        return;
    plan.root_saved_password = field_text(saved->password);
    plan.root_recreated = um_is_user_enabled(0) == 0;
    if (plan.root_recreated) {
        // Which password a new root has is the library's to say, once it is
        // added.
        plan.root_password = UserRestorePlan::RootPassword::after_recreation;
        return;
    }
    char current[kPasswordSize + 1] = {};
    plan.root_read_result = um_get_local_user_attr_password("root", current, kPasswordSize);
    if (plan.root_read_result != 0)
        plan.root_password = UserRestorePlan::RootPassword::unreadable;
    else if (plan.root_saved_password != current)
        plan.root_password = UserRestorePlan::RootPassword::change;
}

SavedUserPlan plan_saved_user(const kvt::Image &image, std::size_t k, const SpAccounts &sp)
{
    const kvt::UserEntry &entry = std::span(image.user_table)[k];
    const std::uint32_t word = std::span(image.role_table)[k].get();
    SavedUserPlan saved;
    saved.entry = static_cast<int>(k);
    saved.name = field_text(entry.name);
    if (word == 0)
        saved.kind = SavedUserPlan::Kind::unused;
    else if (skip_user(saved.name.c_str()) == 1)
        saved.kind = SavedUserPlan::Kind::filtered;
    else if (saved.name == "root")
        saved.kind = SavedUserPlan::Kind::root;
    if (saved.kind != SavedUserPlan::Kind::add)
        return saved;
    saved.password = field_text(entry.password);
    saved.roles = restored_role_mask(image, entry, word);
    const auto in = [&](const std::vector<std::string> &names) {
        return std::find(names.begin(), names.end(), saved.name) != names.end();
    };
    saved.kept_by_sp = in(sp.all) && !in(sp.replaced);
    return saved;
}

// ---- application ----------------------------------------------------------

void note_failure()
{
    ++failed_changes;
}

void set_root_password(const std::string &password)
{
    log_progress("kvtd: changing root password\n");
    PasswordFileLock lock;
    const int set = um_set_local_user_password("root", password.c_str());
    if (set != 0) {
        log_error("kvtd: error setting root password ret=%d\n", set);
        note_failure();
    }
}

// A root added again is asked for its password only once it exists.
void compare_recreated_root_password(const std::string &saved)
{
    char current[kPasswordSize + 1] = {};
    const int ret = um_get_local_user_attr_password("root", current, kPasswordSize);
    if (ret != 0) {
        log_error("kvtd: get root password failed! - %d\n", ret);
        note_failure();
        return;
    }
    if (saved != current)
        set_root_password(saved);
}

void apply_root(const UserRestorePlan &plan)
{
    if (!plan.root_on_card) {
        log_progress("kvtd: could not find root\n");
        PasswordFileLock lock;
        if (um_delete_local_user("root") != 0) {
            log_error("Could not delete user root\n");
            note_failure();
        }
        return;
    }
    if (plan.root_recreated) {
        PasswordFileLock lock;
        const int ret = um_add_local_user("root", kRootUid);
        if (ret != 0) {
            log_error("kvtd: failed to add user root ret=%d\n", ret);
            note_failure();
        }
    }
    switch (plan.root_password) {
    case UserRestorePlan::RootPassword::same:
        return;
    case UserRestorePlan::RootPassword::change:
        set_root_password(plan.root_saved_password);
        return;
    case UserRestorePlan::RootPassword::unreadable:
        log_error("kvtd: get root password failed! - %d\n", plan.root_read_result);
        note_failure();
        return;
    case UserRestorePlan::RootPassword::after_recreation:
        compare_recreated_root_password(plan.root_saved_password);
        return;
    }
}

void delete_current_users(const std::vector<std::string> &names)
{
    log_progress("deleting current users\n");
    for (const std::string &name : names) {
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

void add_saved_user(const SavedUserPlan &saved, uid_t uid)
{
    PasswordFileLock lock;
    int ret = um_add_local_user(saved.name.c_str(), uid);
    if (ret != 0) {
        log_error("kvtd: failed to add user %s ret=%d\n", saved.name.c_str(), ret);
        note_failure();
        return;
    }
    ret = um_set_local_user_password(saved.name.c_str(), saved.password.c_str());
    if (ret != 0) {
        log_error("kvtd: failed to set user password ret=%d\n", ret);
        note_failure();
    }
    ret = um_set_local_user_roles(saved.name.c_str(), saved.roles);
    if (ret != 0) {
        log_error("kvtd: failed to set user roles ret=%d\n", ret);
        note_failure();
    }
}

void add_saved_users(const std::vector<SavedUserPlan> &saved_users)
{
    log_progress("adding in the saved users\n");
    for (const SavedUserPlan &saved : saved_users) {
        if (saved.kind == SavedUserPlan::Kind::unused)
            continue;
        log_progress("i: %d name: %s\n", saved.entry, saved.name.c_str());
        if (saved.kind == SavedUserPlan::Kind::add)
            add_saved_user(saved, choose_user_id());
    }
}

// ---- description ----------------------------------------------------------

using kvt::PlanAction;
using kvt::PlanStep;

PlanStep root_password_step(const UserRestorePlan &plan)
{
    using RootPassword = UserRestorePlan::RootPassword;
    switch (plan.root_password) {
    case RootPassword::same:
        return {PlanAction::keep, "root password", {}, "the SP's is the card's"};
    case RootPassword::change:
        return {PlanAction::set, "root password", {}, "the SP's differs from the card's"};
    case RootPassword::unreadable:
        return {PlanAction::keep,
                "root password",
                {},
                "the SP's could not be read (" + std::to_string(plan.root_read_result) + ")"};
    case RootPassword::after_recreation:
        break;
    }
    return {PlanAction::set, "root password", {}, "unless the root added again already has it"};
}

void describe_root(const UserRestorePlan &plan, std::vector<PlanStep> &steps)
{
    if (!plan.root_on_card) {
        steps.push_back({PlanAction::remove, "root", {}, "no root on the card"});
        return;
    }
    if (plan.root_recreated)
        steps.push_back({PlanAction::add, "root", {}, "the SP has no root enabled"});
    steps.push_back(root_password_step(plan));
}

std::string mask_text(std::uint32_t mask)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", mask);
    return text;
}

PlanStep saved_user_step(const SavedUserPlan &saved)
{
    const std::string entry = "entry " + std::to_string(saved.entry);
    switch (saved.kind) {
    case SavedUserPlan::Kind::unused:
        return {PlanAction::skip, entry, saved.name, "role word 0: not in use"};
    case SavedUserPlan::Kind::filtered:
        return {PlanAction::skip, entry, saved.name, "an account the card never carries"};
    case SavedUserPlan::Kind::root:
        return {PlanAction::skip, entry, saved.name, "root is restored apart"};
    case SavedUserPlan::Kind::add:
        break;
    }
    return {PlanAction::add, saved.name, "roles " + mask_text(saved.roles),
            saved.kept_by_sp ? "the SP keeps an account of that name (beyond the 11 the restore "
                               "replaces): the user manager is to refuse the add"
                             : ""};
}

} // namespace

namespace kvt {

UserRestorePlan plan_user_restore(const Image &image)
{
    UserRestorePlan plan;
    plan.backup_off = user_data_backup_off(image);
    if (plan.backup_off)
        return plan;
    const SpAccounts sp = list_sp_accounts();
    plan.deleted = sp.replaced;
    plan_root(image, plan);
    for (std::size_t k = 0; k < kMaxUsers; ++k)
        plan.saved.push_back(plan_saved_user(image, k, sp));
    return plan;
}

int apply_user_restore(const UserRestorePlan &plan)
{
    failed_changes = 0;
    if (plan.backup_off) {
        log_error("restore_passwd: returning immediately because KVT_NO_BACKUP_USER_DATA is set\n");
        return 0;
    }
    apply_root(plan);
    delete_current_users(plan.deleted);
    add_saved_users(plan.saved);
    log_progress("password restore done\n");
    return failed_changes;
}

SectionPlan describe(const UserRestorePlan &plan)
{
    SectionPlan section{"users", plan.backup_off, {}};
    if (plan.backup_off)
        return section;
    describe_root(plan, section.steps);
    for (const std::string &name : plan.deleted)
        section.steps.push_back({PlanAction::remove, name, {}, "the card's users replace it"});
    for (const SavedUserPlan &saved : plan.saved)
        if (saved.kind != SavedUserPlan::Kind::unused || !saved.name.empty())
            section.steps.push_back(saved_user_step(saved));
    return section;
}

} // namespace kvt

namespace {
int last_failures = 0;
} // namespace

void restore_passwd()
{
    last_failures = kvt::apply_user_restore(kvt::plan_user_restore(kvt_image));
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
    case kvt::kPrivilegeAdmin:
        return kAdminRoles;
    case kvt::kPrivilegeOperator:
        return kOperatorRoles;
    default:
        return kDefaultRoles;
    }
}

int restore_passwd_failures()
{
    return last_failures;
}
