// The configuration of a fresh simulated SP: a static address on a small
// network, POST diagnostics at their usual settings, the CLI at its
// defaults, empty alert rules, SSH on, mail off, the usual accounts.
#include "sim/root/defaults.hpp"

#include <string>

#include "platform/card_lib.h"
#include "sim/control.hpp"
#include "sim/services/objects.hpp"
#include "sim/services/persisted_vars.hpp"
#include "sim/users/cli_mode_file.hpp"
#include "sim/users/user_db.hpp"

namespace kvtsim {

namespace {

constexpr std::size_t kAlertRules = 15;

Pairs default_objects()
{
    Pairs objects{
        {"/X/network/ipdiscovery", "static"},
        {"/X/network/ipaddress", "192.168.1.10"},
        {"/X/network/ipnetmask", "255.255.255.0"},
        {"/X/network/ipgateway", "192.168.1.1"},
        {"/X/network/pendingipdiscovery", "static"},
        {"/X/network/pendingipaddress", "192.168.1.10"},
        {"/X/network/pendingipnetmask", "255.255.255.0"},
        {"/X/network/pendingipgateway", "192.168.1.1"},
        {"/X/network/commitpending", "false"},
        {"/X/network/state", "enabled"},
        {"/HOST/diag/trigger", "power-on-reset error-reset"},
        {"/HOST/diag/mode", "normal"},
        {"/HOST/diag/error_reset_verbosity", "normal"},
        {"/HOST/diag/power_on_verbosity", "min"},
        {"/HOST/diag/user_reset_verbosity", "normal"},
        {"/HOST/diag/error_reset_level", "max"},
        {"/HOST/diag/power_on_level", "min"},
        {"/HOST/diag/user_reset_level", "max"},
        {"/HOST/autorunonerror", "false"},
        {"/HOST/autorestart", "reset"},
        {"/X/darvcli/prompt", "sp-sim>"},
        {"/X/darvcli/event_level", "2"},
        {"/X/darvcli/service_mode", "false"},
        {"/X/darvcli/passwd_echo", "false"},
        {"/X/darvcli/ssqa_mode", "false"},
        {"/X/darvcli/timeout", "0"},
        {"/HOST/console/escapechars", "&."},
        {"/X/system_identifier", ""},
        {"/X/services/ssh/state", "enabled"},
        {"/X/policy/HOST_LAST_POWER_STATE", "disabled"},
        {"/X/policy/HOST_POWER_ON_DELAY", "disabled"},
        {"/X/policy/BACKUP_USER_DATA", "enabled"},
        {"/X/clients/smtp/address", ""},
        {"/X/clients/smtp/port", "25"},
        {"/X/clients/smtp/state", "disabled"},
    };
    for (std::size_t n = 1; n <= kAlertRules; ++n) {
        const std::string rule = "/X/alertmgmt/rules/" + std::to_string(n);
        objects.emplace_back(rule + "/destination", "");
        objects.emplace_back(rule + "/level", "disable");
        objects.emplace_back(rule + "/type", "ipmipet");
    }
    return objects;
}

std::vector<User> default_users()
{
    return {
        {"root", 0, "changeme", "admin", false},
        {"marnint", userdb::kMarnintUid, "", "admin", false},
        {"admin", userdb::kIpmiUidBase + 2, "admin123", "admin,operator", false},
        {"operator1", userdb::kIpmiUidBase + 3, "oper123", "operator", false},
        {"anonymous", 600, "", "read-only", false},
        {"default", 601, "", "", false},
        {"ldapproxy", 602, "", "admin", true},
    };
}

// Variables with a value worth naming; every other one starts empty.
const Pairs &default_variables()
{
    static const Pairs variables{
        {"hostname", "sp-sim"},   {"sp_post_diag_mode", "normal"},
        {"keyswitch_state", "0"}, {"ssh_state", "enabled"},
        {"smtp_port", "25"},      {"backup_user_data", "enabled"},
    };
    return variables;
}

Pairs all_variables()
{
    Pairs variables;
    for (const nv_file_entry &row : nv_file_table)
        variables.emplace_back(row.name, find_pair(default_variables(), row.name).value_or(""));
    return variables;
}

} // namespace

void reset_config_defaults()
{
    object_store_reset(default_objects());
    userdb::store(default_users());
    nv_reset(all_variables());
    write_cli_mode_file("root:default\nadmin:compact\n");
}

} // namespace kvtsim
