#include "sim/services/object_schema.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "platform/capi.h"
#include "sim/users/user_db.hpp"

namespace kvtsim {

namespace {

constexpr std::size_t kAlertRules = 15;

// No value of any object holds a NUL or a newline.
bool plain_text(std::string_view value)
{
    return value.find('\n') == std::string_view::npos && value.find('\0') == std::string_view::npos;
}

bool one_of(std::string_view value, std::initializer_list<std::string_view> words)
{
    return std::find(words.begin(), words.end(), value) != words.end();
}

// Digits only (no sign, no blanks), fitting in `Number`, at most `highest`.
template <typename Number> bool decimal_at_most(std::string_view value, Number highest)
{
    Number number{};
    const char *end = value.data() + value.size();
    if (value.empty() || !std::isdigit(static_cast<unsigned char>(value.front())))
        return false;
    const auto [stop, error] = std::from_chars(value.data(), end, number);
    return error == std::errc{} && stop == end && number <= highest;
}

bool any_text(std::string_view v)
{
    return plain_text(v);
}
bool true_false(std::string_view v)
{
    return one_of(v, {"true", "false"});
}
bool enabled_disabled(std::string_view v)
{
    return one_of(v, {"enabled", "disabled"});
}
bool static_dhcp(std::string_view v)
{
    return one_of(v, {"static", "dhcp"});
}
bool commit(std::string_view v)
{
    return one_of(v, {"true", "false"});
}
bool autorestart(std::string_view v)
{
    return one_of(v, {"none", "reset", "dumpcore"});
}
bool alert_level(std::string_view v)
{
    return one_of(v, {"disable", "debug", "down", "minor", "major", "critical"});
}
bool alert_type(std::string_view v)
{
    return one_of(v, {"ipmipet", "email", "snmptrap"});
}
bool event_level(std::string_view v)
{
    return decimal_at_most<unsigned>(v, 255);
}
bool timeout(std::string_view v)
{
    return decimal_at_most<std::uint32_t>(v, UINT32_MAX);
}

bool ipv4(std::string_view v)
{
    if (!plain_text(v) || v.size() >= INET_ADDRSTRLEN)
        return false;
    const std::string text(v);
    in_addr address{};
    return ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

// Blank-separated reset words in any combination (none at all included),
// or one of the two words that stand alone.
bool diag_trigger(std::string_view v)
{
    if (v == "all-resets" || v == "none")
        return true;
    while (!v.empty()) {
        const auto end = v.find(' ');
        const std::string_view word = v.substr(0, end);
        if (!word.empty() && !one_of(word, {"user-reset", "error-reset", "power-on-reset"}))
            return false;
        v = end == std::string_view::npos ? std::string_view{} : v.substr(end + 1);
    }
    return true;
}

bool diag_mode(std::string_view v)
{
    if (one_of(v, {"off", "normal", "service", "menu"}))
        return true;
    if (!v.starts_with("ops"))
        return false;
    const std::string_view number = v.substr(3);
    // "ops00" and "ops07" are not mode names
    return (number == "0" || !number.starts_with('0')) && decimal_at_most<unsigned>(number, 31);
}

bool verbosity(std::string_view v)
{
    const std::string name(v);
    std::uint32_t code = 0;
    return plain_text(v) && capi_post_verbosity_type_from_name(name.c_str(), &code) == 0;
}

bool level(std::string_view v)
{
    const std::string name(v);
    std::uint32_t code = 0;
    return plain_text(v) && capi_post_diaglevel_type_from_name(name.c_str(), &code) == 0;
}

bool smtp_port(std::string_view v)
{
    const bool none = v.size() == 4 && std::equal(v.begin(), v.end(), "none", [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) == b;
                      });
    return none || decimal_at_most<unsigned>(v, 65535);
}

std::vector<ObjectRule> build_schema()
{
    std::vector<ObjectRule> schema{
        {"/X/network/ipdiscovery", static_dhcp},
        {"/X/network/ipaddress", ipv4},
        {"/X/network/ipnetmask", ipv4},
        {"/X/network/ipgateway", ipv4},
        {"/X/network/pendingipdiscovery", static_dhcp},
        {"/X/network/pendingipaddress", ipv4},
        {"/X/network/pendingipnetmask", ipv4},
        {"/X/network/pendingipgateway", ipv4},
        {"/X/network/commitpending", commit},
        {"/X/network/state", enabled_disabled},
        {"/HOST/diag/trigger", diag_trigger},
        {"/HOST/diag/mode", diag_mode},
        {"/HOST/diag/error_reset_verbosity", verbosity},
        {"/HOST/diag/power_on_verbosity", verbosity},
        {"/HOST/diag/user_reset_verbosity", verbosity},
        {"/HOST/diag/error_reset_level", level},
        {"/HOST/diag/power_on_level", level},
        {"/HOST/diag/user_reset_level", level},
        {"/HOST/autorunonerror", true_false},
        {"/HOST/autorestart", autorestart},
        {"/X/darvcli/prompt", any_text},
        {"/X/darvcli/event_level", event_level},
        {"/X/darvcli/service_mode", true_false},
        {"/X/darvcli/passwd_echo", true_false},
        {"/X/darvcli/ssqa_mode", true_false},
        {"/X/darvcli/timeout", timeout},
        {"/HOST/console/escapechars", any_text},
        {"/X/system_identifier", any_text},
        {"/X/services/ssh/state", enabled_disabled},
        {"/X/policy/HOST_LAST_POWER_STATE", enabled_disabled},
        {"/X/policy/HOST_POWER_ON_DELAY", enabled_disabled},
        {"/X/policy/BACKUP_USER_DATA", enabled_disabled},
        {"/X/clients/smtp/address", any_text},
        {"/X/clients/smtp/port", smtp_port},
        {"/X/clients/smtp/state", enabled_disabled},
    };
    for (std::size_t n = 1; n <= kAlertRules; ++n) {
        const std::string rule = "/X/alertmgmt/rules/" + std::to_string(n);
        schema.push_back({rule + "/destination", any_text});
        schema.push_back({rule + "/level", alert_level});
        schema.push_back({rule + "/type", alert_type});
    }
    return schema;
}

} // namespace

std::span<const ObjectRule> object_schema()
{
    static const std::vector<ObjectRule> schema = build_schema();
    return schema;
}

const ObjectRule *find_object(std::string_view path)
{
    const auto schema = object_schema();
    const auto found = std::find_if(schema.begin(), schema.end(),
                                    [path](const ObjectRule &rule) { return rule.path == path; });
    return found == schema.end() ? nullptr : &*found;
}

bool user_password_accepted(std::string_view v)
{
    return plain_text(v) && userdb::password_acceptable(v);
}
bool user_roles_accepted(std::string_view v)
{
    return userdb::roles_acceptable(v);
}
bool user_cli_mode_accepted(std::string_view v)
{
    return one_of(v, {"default", "compact"});
}

} // namespace kvtsim
