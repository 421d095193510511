// The persisted-variable table and store. A change made through nv_set is
// backed up, which the SP announces with an audit event naming the row.
#include "sim/services/persisted_vars.hpp"

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/card_lib.h"
#include "sim/control.hpp"
#include "sim/em/audit.hpp"
#include "sim/root/locked_text.hpp"

// Rows never move: audit events name a variable by its index here. (The
// declaration in platform/card_lib.h gives the table C linkage.) A row is
// 16 bytes on 32-bit and 64-bit hosts alike.
static_assert(sizeof(nv_file_entry) == 16 && sizeof nv_file_table == 816);
struct nv_file_entry nv_file_table[NV_FILE_TABLE_ROWS] = {
    {"hostname", {}},
    {"system_identifier", {}},
    {"timezone", {}},
    {"ntp_server1", {}},
    {"ntp_server2", {}},
    {"ntp_state", {}},
    {"dns_nameservers", {}},
    {"dns_searchpath", {}},
    {"dns_auto", {}},
    {"sp_post_diag_mode", {}},
    {"sp_post_diag_trigger", {}},
    {"sp_post_diag_level", {}},
    {"sp_post_diag_verbosity", {}},
    {"keyswitch_state", {}},
    {"host_autorestart", {}},
    {"host_autorunonerror", {}},
    {"host_last_power_state", {}},
    {"host_power_on_delay", {}},
    {"host_boot_mode", {}},
    {"host_bootmode_script", {}},
    {"host_console_escapechars", {}},
    {"host_console_logging", {}},
    {"syslog_server1", {}},
    {"syslog_server2", {}},
    {"snmp_state", {}},
    {"snmp_port", {}},
    {"snmp_sets", {}},
    {"snmp_v1", {}},
    {"snmp_v2c", {}},
    {"snmp_v3", {}},
    {"snmp_engineid", {}},
    {"http_state", {}},
    {"http_port", {}},
    {"https_state", {}},
    {"https_port", {}},
    {"ssh_state", {}},
    {"ssh_keygen_type", {}},
    {"smtp_address", {}},
    {"smtp_port", {}},
    {"smtp_state", {}},
    {"ldap_state", {}},
    {"radius_state", {}},
    {"adir_state", {}},
    {"cli_timeout", {}},
    {"cli_prompt", {}},
    {"cli_event_level", {}},
    {"alert_rules_version", {}},
    {"backup_user_data", {}},
    {"fru_cache_version", {}},
    {"sel_clear_count", {}},
    {"locator_led", {}},
};

namespace kvtsim {

namespace {

std::string store_file()
{
    return sim_path("nv");
}

bool value_acceptable(std::string_view value)
{
    return value.find('\n') == std::string_view::npos;
}

} // namespace

std::optional<unsigned> nv_row(std::string_view name)
{
    unsigned row = 0;
    for (const nv_file_entry &entry : nv_file_table) {
        if (name == entry.name)
            return row;
        ++row;
    }
    return std::nullopt;
}

void nv_reset(const Pairs &values)
{
    write_locked(store_file(), format_pairs(values));
}

std::optional<std::string> nv_get(std::string_view name)
{
    if (!nv_row(name))
        return std::nullopt;
    return find_in_text(read_locked(store_file()), name);
}

int nv_set(std::string_view name, std::string_view value)
{
    const auto row = nv_row(name);
    if (!row || !value_acceptable(value))
        return -1;
    bool changed = false;
    const bool written = edit_locked(store_file(), [&](std::string &text) {
        changed = find_in_text(text, name) != value;
        if (changed)
            put_in_text(text, name, value);
        return changed;
    });
    if (!written)
        return -1;
    if (changed)
        audit_post_persist(static_cast<std::uint8_t>(*row), value);
    return 0;
}

} // namespace kvtsim

extern "C" int nvval_get(const char *name, char **value)
{
    if (!name || !value)
        return -1;
    if (kvtsim::fault_fires(std::string("nv.get:") + name))
        return -1;
    const auto text = kvtsim::nv_get(name);
    if (!text)
        return -1;
    *value = ::strdup(text->c_str());
    return *value ? 0 : -1;
}
