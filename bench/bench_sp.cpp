#include "bench/bench_sp.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>
#include <stdexcept>

#include "card/image.hpp"
#include "platform/card_lib.h"
#include "sections/climode.hpp"
#include "sections/misc.hpp"
#include "sections/network.hpp"
#include "sections/users.hpp"
#include "service/kvtd.hpp"
#include "sim/control.hpp"
#include "sim/em/audit.hpp"

namespace kvtbench {

namespace {

enum AuditType { kLuapi = 2, kPersist = 4 };

template <typename T> void put(std::vector<unsigned char> &record, T value)
{
    unsigned char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    record.insert(record.end(), bytes, bytes + sizeof value);
}

void put_text(std::vector<unsigned char> &record, const std::string &text)
{
    record.insert(record.end(), text.begin(), text.end());
    record.push_back('\0');
}

void deliver(int type, const std::vector<unsigned char> &record)
{
    kvtd_handle_event(kvtsim::kAuditClass, type, record.data(),
                      static_cast<std::uint32_t>(record.size()));
}

// A successful set (command 3, status 0): the fixed part of 24 bytes with
// the offsets of the two texts that follow it.
void deliver_set(const std::string &path, const std::string &value)
{
    std::vector<unsigned char> record;
    put<std::uint32_t>(record, 3);
    put<std::int32_t>(record, 0);
    put<std::uint32_t>(record, 24);
    put<std::uint32_t>(record, static_cast<std::uint32_t>(24 + path.size() + 1));
    record.resize(24, 0);
    put_text(record, path);
    put_text(record, value);
    deliver(kLuapi, record);
}

void deliver_persist(const char *name, const std::string &value)
{
    const std::span table(nv_file_table);
    std::uint8_t row = 0;
    while (table[row].name == nullptr || std::strcmp(table[row].name, name) != 0)
        ++row;
    std::vector<unsigned char> record{row, 0, 0, 0, 0, 0};
    put_text(record, value);
    deliver(kPersist, record);
}

Change set_change(std::string name, const std::string &path, const std::string &a,
                  const std::string &b)
{
    return {std::move(name), nullptr, [path, a, b](int i) { deliver_set(path, i % 2 ? b : a); }};
}

void must(int result, const char *what)
{
    if (result != 0)
        throw std::runtime_error(std::string("simulated SP refused: ") + what);
}

} // namespace

TempSp::TempSp()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "kvt-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    kvtsim::use_root(dir_);
    must(kvtsim::create_root(dir_), "create_root");
    kvtPlatform = 0;
}

TempSp::~TempSp()
{
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void add_users(int total)
{
    for (int n = 1; static_cast<int>(kvtsim::users().size()) < total; ++n) {
        const std::string name = "bench" + std::to_string(n);
        must(kvtsim::user_add({name, 2000u + static_cast<unsigned>(n), "pw" + std::to_string(n),
                               "admin,operator"}),
             "user_add");
    }
}

void startup_capture()
{
    std::memset(&kvt_image, 0, KVT_IMAGE_SIZE);
    get_current_config(&kvt_image);
    if (write_out_KVT(&kvt_image, KVT_IMAGE_SIZE) < 0)
        throw std::runtime_error("whole-image write failed");
}

void startup_restore()
{
    restore_passwd();
    restore_climode();
    restore_network();
    restore_misc();
}

void fatal_stop_write()
{
    kvt_image.hdr_version = kvt::kInvalidatedVersion;
    if (write_out_KVT(&kvt_image, KVT_IMAGE_SIZE) < 0)
        throw std::runtime_error("whole-image write failed");
}

const std::vector<Change> &changes()
{
    static const std::vector<Change> table = {
        set_change("smtp_port", "/X/clients/smtp/port", "25", "2525"),
        set_change("diag_mode", "/HOST/diag/mode", "normal", "service"),
        set_change("cli_prompt", "/X/darvcli/prompt", "sp-a", "sp-b"),
        set_change("policy_ssh", "/X/services/ssh/state", "enabled", "disabled"),
        set_change("alert_rule15_level", "/X/alertmgmt/rules/15/level", "major", "critical"),
        set_change("customer_info", "/X/system_identifier", "rack-a", "rack-b"),
        set_change("escape_chars", "/SP/console/escapechars", "#.", "~."),
        {"keyswitch", nullptr,
         [](int i) { deliver_persist("keyswitch_state", i % 2 ? "3" : "1"); }},
        {"user_snapshot_11",
         [](int i) {
             add_users(11);
             must(kvtsim::user_set_password("bench1", i % 2 ? "second" : "first"), "password");
         },
         [](int) { deliver_set("/X/users/bench1/password", "changed"); }},
        {"cli_mode_snapshot",
         [](int i) {
             must(kvtsim::write_cli_mode_file(i % 2 ? "root:default\nadmin:compact\n"
                                                    : "root:compact\nadmin:default\n"),
                  "cli mode file");
         },
         [](int) { deliver_set("/X/users/admin/cli_mode", "compact"); }},
        {"network_commit",
         [](int i) {
             must(kvtsim::object_set("/X/network/ipdiscovery", i % 2 ? "static" : "dhcp"),
                  "ipdiscovery");
         },
         [](int) { deliver_set("/X/network/commitpending", "true"); }},
    };
    return table;
}

} // namespace kvtbench
