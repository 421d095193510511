// Each section's restore in two halves: a plan, made from the card image
// and the SP's current state through the same platform calls the restore
// makes (reads only: nothing changes, nothing is logged), and its
// application, which makes the changes and writes the restore's log lines
// in their order. restore_passwd, restore_climode, restore_network and
// restore_misc run the two back to back; kvtcard preview shows the plans
// alone. A plan says what the restore will ask of the SP's services; what
// they accept is theirs to say when it is applied.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/luapi_session.hpp"
#include "card/image.hpp"

namespace kvt {

// ---- what a plan says, for people and tests ---------------------------

enum class PlanAction { set, add, remove, keep, skip, write, stop };

// "set", "add", "delete", "keep", "skip", "write", "stop"
const char *plan_action_name(PlanAction action);

struct PlanStep {
    PlanAction action = PlanAction::keep;
    std::string target; // an object path, a user, "root password", "line 2", "entry 3"
    std::string value;  // the value set, the line written, a role mask
    std::string reason; // why it is skipped, kept or stops, or what to expect
};

struct SectionPlan {
    std::string section;            // "users", "CLI modes", "network", "misc settings"
    bool skipped_by_policy = false; // user-data backup is off on the card: nothing is done
    std::vector<PlanStep> steps;
};

// ---- users: sections 2 and 9 -------------------------------------------

struct SavedUserPlan {
    // add; an entry whose role word is 0; an account the capture never
    // stores (skip_user); root, which is restored apart.
    enum class Kind { add, unused, filtered, root };
    Kind kind = Kind::add;
    int entry = 0;
    std::string name;     // the field's text, at most 16 characters as the capture keeps
    std::string password; // the card's password attribute, likewise
    std::uint32_t roles = 0;
    bool kept_by_sp = false; // the SP has an account of this name the restore does not delete
};

struct UserRestorePlan {
    enum class RootPassword { same, change, unreadable, after_recreation };

    bool backup_off = false;
    std::vector<std::string> deleted; // the SP's users replaced, in list order
    bool root_on_card = false;
    bool root_recreated = false; // the SP has no root enabled: it is added again
    RootPassword root_password = RootPassword::same;
    int root_read_result = 0; // of the password read, when unreadable
    std::string root_saved_password;
    std::vector<SavedUserPlan> saved; // the card's 11 entries in order
};

UserRestorePlan plan_user_restore(const Image &image);
// Returns how many user changes failed (each one logged).
int apply_user_restore(const UserRestorePlan &plan);
SectionPlan describe(const UserRestorePlan &plan);

// ---- CLI modes: section 8 ------------------------------------------------

struct CliModeLinePlan {
    int entry = 0;
    std::string name;
    std::string mode;
    const char *skip_reason = nullptr; // why its line would not read back; nullptr: written
};

struct CliModeRestorePlan {
    bool backup_off = false;
    std::vector<CliModeLinePlan> used; // the used entries, in table order
};

CliModeRestorePlan plan_climode_restore(const Image &image);
// Returns how many entries were left out (each one logged).
int apply_climode_restore(const CliModeRestorePlan &plan);
SectionPlan describe(const CliModeRestorePlan &plan);

// ---- network: section 3 --------------------------------------------------

struct NetworkRestorePlan {
    // The SP already uses DHCP; DHCP set and committed; a static IPv4
    // setting set and committed; a static IPv6 setting (the restore stops);
    // the SP's discovery mode could not be read (the restore stops).
    enum class Kind { keep_dhcp, dhcp, static_ipv4, ipv6, unreadable };
    struct Address {
        const char *label;          // "ip address", "gateway", "netmask"
        const char *pending_path;   // "/X/network/pendingipaddress", ...
        const char *convert_failed; // the lines the restore stops with
        const char *set_failed;
        std::string text; // dotted-decimal; empty when it could not be converted
    };

    Kind kind = Kind::keep_dhcp;
    std::vector<Address> addresses; // static: address, gateway, netmask
};

// On the caller's open session.
NetworkRestorePlan plan_network_restore(luapi_session *session, const Image &image);
void apply_network_restore(luapi_session *session, const NetworkRestorePlan &plan);
SectionPlan describe(const NetworkRestorePlan &plan);

// ---- misc settings: sections 4 to 7 --------------------------------------

struct MiscSetPlan {
    std::string path;
    std::string value;
    bool unnamed = false; // a POST code the platform-control library has no name for
    unsigned code = 0;
};

struct MiscRestorePlan {
    std::vector<MiscSetPlan> sets; // every object, in the restore's order
    unsigned char keyswitch = 0;   // set through the platform-control library, last
};

MiscRestorePlan plan_misc_restore(const Image &image);
// The object sets, on the caller's open session; the keyswitch is the
// caller's, once the session is closed.
void apply_misc_sets(luapi_session *session, const MiscRestorePlan &plan);
SectionPlan describe(const MiscRestorePlan &plan);

} // namespace kvt
