// Two complete sets of the miscellaneous settings (sections 4 to 7) that
// differ in every object, listed in the order in which the restore sets
// them, for shaping a simulated SP before a capture or a restore.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "sim/control.hpp"

namespace kvttest {

using Setting = std::pair<std::string, std::string>; // object path, value

inline std::vector<Setting> misc_settings(int variant)
{
    const auto pick = [variant](const char *a, const char *b) { return variant == 0 ? a : b; };
    std::vector<Setting> s{{"/HOST/diag/trigger", pick("all-resets", "none")},
                           {"/HOST/diag/error_reset_verbosity", pick("max", "min")},
                           {"/HOST/diag/power_on_verbosity", pick("debug", "min")},
                           {"/HOST/diag/user_reset_verbosity", pick("normal", "min")},
                           {"/HOST/diag/error_reset_level", pick("min", "off")},
                           {"/HOST/diag/power_on_level", pick("normal", "off")},
                           {"/HOST/diag/user_reset_level", pick("max", "off")},
                           {"/HOST/diag/mode", pick("ops5", "menu")},
                           {"/X/network/state", pick("disabled", "enabled")},
                           {"/HOST/autorunonerror", pick("true", "false")},
                           {"/HOST/autorestart", pick("dumpcore", "reset")},
                           {"/X/darvcli/prompt", pick("rack7-sp>", "sp>")},
                           {"/X/darvcli/event_level", pick("200", "7")},
                           {"/X/darvcli/service_mode", pick("true", "false")},
                           {"/X/darvcli/passwd_echo", pick("false", "true")},
                           {"/X/darvcli/ssqa_mode", pick("true", "false")},
                           {"/X/darvcli/timeout", pick("4294967295", "60")}};
    const char *levels[] = {"disable", "debug", "down", "minor", "major", "critical"};
    const char *types[] = {"ipmipet", "email", "snmptrap"};
    for (int n = 1; n <= 15; ++n) {
        const std::string rule = "/X/alertmgmt/rules/" + std::to_string(n) + "/";
        const int k = n + variant;
        s.emplace_back(rule + "destination", pick("ops", "r") + std::to_string(n) + "@example.com");
        s.emplace_back(rule + "level", levels[k % 6]);
        s.emplace_back(rule + "type", types[k % 3]);
    }
    s.insert(s.end(), {{"/HOST/console/escapechars", pick("~.", "#.")},
                       {"/X/system_identifier", pick("lab rack 7", "other")},
                       {"/X/services/ssh/state", pick("disabled", "enabled")},
                       {"/X/policy/HOST_LAST_POWER_STATE", pick("enabled", "disabled")},
                       {"/X/policy/HOST_POWER_ON_DELAY", pick("disabled", "enabled")},
                       {"/X/policy/BACKUP_USER_DATA", pick("disabled", "enabled")},
                       {"/X/clients/smtp/address", pick("10.0.0.25", "mail")},
                       {"/X/clients/smtp/port", pick("2525", "25")},
                       {"/X/clients/smtp/state", pick("enabled", "disabled")}});
    return s;
}

// The keyswitch position of each variant.
inline constexpr const char *kMiscKeyswitch[] = {"2", "1"};

// Sets every object of the variant and the keyswitch; false when the
// simulated SP refused one.
inline bool shape_misc_settings(int variant)
{
    for (const auto &[path, value] : misc_settings(variant))
        if (kvtsim::object_set(path, value) != 0)
            return false;
    return kvtsim::nv_set("keyswitch_state", kMiscKeyswitch[variant]) == 0;
}

} // namespace kvttest
