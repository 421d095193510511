// Object update routing: from the path of a configuration object that
// changed to the one writer that owns its field on the card. The first
// rule that takes a path decides; a rule that leads into a group ends the
// routing there whether or not the group knows the remainder.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>

#include "base/log.hpp"
#include "platform/util.h"
#include "sections/climode.hpp"
#include "sections/network.hpp"
#include "sections/users.hpp"
#include "sections/writers.hpp"
#include "service/kvtd.hpp"

namespace {

constexpr int kAlertRuleCount = 15;

// The remainder of `path` after `prefix`, or null when it does not begin so.
const char *after_prefix(const char *path, std::string_view prefix)
{
    if (std::strncmp(path, prefix.data(), prefix.size()) != 0)
        return nullptr;
    return path + prefix.size();
}

bool equals(const char *path, const char *text)
{
    return std::strcmp(path, text) == 0;
}

struct DiagRoute {
    const char *name;
    int items[3];
    std::size_t count;
};

// "verbosity" and "level" set all three resets, one complete write each.
constexpr DiagRoute kDiagRoutes[] = {
    {"trigger", {DIAG_TRIGGER}, 1},
    {"mode", {DIAG_MODE}, 1},
    {"verbosity", {DIAG_VERBOSITY_POWER, DIAG_VERBOSITY_ERROR, DIAG_VERBOSITY_USER}, 3},
    {"error_reset_verbosity", {DIAG_VERBOSITY_ERROR}, 1},
    {"power_on_verbosity", {DIAG_VERBOSITY_POWER}, 1},
    {"user_reset_verbosity", {DIAG_VERBOSITY_USER}, 1},
    {"level", {DIAG_LEVEL_ERROR, DIAG_LEVEL_POWER, DIAG_LEVEL_USER}, 3},
    {"error_reset_level", {DIAG_LEVEL_ERROR}, 1},
    {"power_on_level", {DIAG_LEVEL_POWER}, 1},
    {"user_reset_level", {DIAG_LEVEL_USER}, 1},
};

void route_diag(const char *name, const char *value)
{
    for (const DiagRoute &route : kDiagRoutes) {
        if (!equals(name, route.name))
            continue;
        for (int item : std::span(route.items).first(route.count))
            kvtd_write_diag(item, value);
        return;
    }
}

void route_host(const char *rest, const char *value)
{
    if (const char *name = after_prefix(rest, "diag/")) {
        route_diag(name, value);
        return;
    }
    if (equals(rest, "autorunonerror")) {
        kvtd_write_autorunonerror(value);
        return;
    }
    if (equals(rest, "autorestart"))
        kvtd_write_autorestart(value);
}

struct CliRoute {
    const char *name;
    int item;
};

constexpr CliRoute kCliRoutes[] = {
    {"prompt", CLI_PROMPT},
    {"event_level", CLI_EVENT_LEVEL},
    {"service_mode", CLI_SERVICE_MODE},
    {"passwd_echo", CLI_PASSWD_ECHO},
    {"ssqa_mode", CLI_SSQA_MODE},
    {"timeout", CLI_TIMEOUT},
};

void route_cli(const char *rest, const char *value)
{
    for (const CliRoute &route : kCliRoutes) {
        if (equals(rest, route.name)) {
            kvtd_write_cli(route.item, value);
            return;
        }
    }
}

struct AlertFieldRoute {
    const char *name;
    int field;
};

constexpr AlertFieldRoute kAlertFieldRoutes[] = {
    {"destination", ALERT_DESTINATION},
    {"level", ALERT_LEVEL},
    {"type", ALERT_TYPE},
};

int alert_field(const char *name)
{
    for (const AlertFieldRoute &route : kAlertFieldRoutes)
        if (equals(name, route.name))
            return route.field;
    return -1;
}

// "<n>/<field>": the number as "%d" reads it (leading blanks and a sign
// allowed), the field after the first slash.
void route_alert(const char *rest, const char *value)
{
    char *end = nullptr;
    errno = 0;
    const long rule = std::strtol(rest, &end, 10);
    if (end == rest)
        return;
    const char *slash = std::strchr(rest, '/');
    if (slash == nullptr)
        return;
    const int field = alert_field(slash + 1);
    if (field < 0)
        return;
    // The writer indexes the rule table with the number.
    if (errno == ERANGE || rule < 1 || rule > kAlertRuleCount) {
        log_error("kvtd_process_obj_update: alert rule number out of range 1..%d (%s), dropped\n",
                  kAlertRuleCount, rest);
        return;
    }
    kvtd_write_mailalert(static_cast<int>(rule), field, value);
}

bool is_console_escapechars(const char *path)
{
    return is_host_console(path) != 0 && strrcmp_helper(path, "escapechars", 11) == 0;
}

struct ExactRoute {
    const char *path;
    void (*write)(const char *value);
};

constexpr ExactRoute kExactRoutes[] = {
    {"/X/system_identifier", kvtd_write_customerinfo},
    {"/X/services/ssh/state", kvtd_write_ssh_state},
    {"/X/policy/HOST_LAST_POWER_STATE", kvtd_write_powerstatememory},
    {"/X/policy/HOST_POWER_ON_DELAY", kvtd_write_powerondelay},
    {"/X/policy/BACKUP_USER_DATA", kvtd_write_backupuserdata},
    {"/X/network/state", kvtd_write_networkstate},
    {"/X/clients/smtp/address", kvtd_write_mailhost_address},
    {"/X/clients/smtp/port", kvtd_write_mailhost_port},
    {"/X/clients/smtp/state", kvtd_write_mailhost_state},
};

// Rules 6 to 14.
bool route_exact(const char *path, const char *value)
{
    for (const ExactRoute &route : kExactRoutes) {
        if (equals(path, route.path)) {
            route.write(value);
            return true;
        }
    }
    return false;
}

// Rule 15: every change under the user tree recaptures a whole table.
void route_users(const char *path)
{
    if (std::strstr(path, "/X/users") == nullptr)
        return;
    if (std::strstr(path, "/cli_mode") != nullptr)
        kvtd_snapshot_cli_mode();
    else
        kvtd_snapshot();
}

} // namespace

void kvtd_process_obj_update(const char *path, const char *value)
{
    log_progress("kvtd_process_obj_update: name %s val: %s\n", path, value);
    if (equals(path, "/X/network/commitpending")) {
        kvtd_update_ipsettings();
        return;
    }
    if (const char *rest = after_prefix(path, "/HOST/")) {
        route_host(rest, value);
        return;
    }
    if (const char *rest = after_prefix(path, "/X/darvcli/")) {
        route_cli(rest, value);
        return;
    }
    if (const char *rest = after_prefix(path, "/X/alertmgmt/rules/")) {
        route_alert(rest, value);
        return;
    }
    if (is_console_escapechars(path)) {
        kvtd_write_escapechars(value);
        return;
    }
    if (route_exact(path, value))
        return;
    route_users(path);
}
