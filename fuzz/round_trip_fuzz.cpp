// An SP's configuration carried to another SP on a card and back onto a
// card: the input draws an SP state that the SP's services take (objects,
// users, the CLI-mode file, the keyswitch), the SP is captured, a fresh SP
// is restored from that card and captured again.
//
// Found, and reported as a crash:
// - a fatal stop anywhere: every value came from the SP's own services, so
//   neither capture nor restore has a reason to stop;
// - a second card whose bytes differ from the first's;
// - a restored SP whose state differs from the first SP's;
// each once the normalisations of docs/fuzzing.md are applied to the first.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "card/sections.hpp"
#include "fuzz/support.hpp"
#include "platform/capi.h"
#include "sections/climode.hpp"
#include "sections/encodings.hpp"
#include "sections/misc.hpp"
#include "sections/network.hpp"
#include "sections/users.hpp"
#include "service/kvtd.hpp"
#include "sim/control.hpp"

namespace {

using kvt::Image;

[[noreturn]] void finding(const std::string &what)
{
    std::fprintf(stderr, "round_trip: %s\n", what.c_str());
    std::abort();
}

// ---- the state compared ----------------------------------------------------

// The SP as the card carries it: the objects the capture reads, the
// keyswitch, the users the card can hold and the CLI-mode lines.
struct SpState {
    std::map<std::string, std::string> objects;
    unsigned keyswitch = 0;
    std::vector<kvtsim::User> users; // those the card can carry, in database order
    std::vector<std::string> climode_lines;
};

std::vector<std::string> captured_objects(bool with_addresses)
{
    std::vector<std::string> paths{
        "/HOST/diag/trigger",
        "/HOST/diag/mode",
        "/HOST/diag/error_reset_verbosity",
        "/HOST/diag/power_on_verbosity",
        "/HOST/diag/user_reset_verbosity",
        "/HOST/diag/error_reset_level",
        "/HOST/diag/power_on_level",
        "/HOST/diag/user_reset_level",
        "/HOST/autorunonerror",
        "/X/network/state",
        "/HOST/autorestart",
        "/X/darvcli/prompt",
        "/X/darvcli/event_level",
        "/X/darvcli/service_mode",
        "/X/darvcli/passwd_echo",
        "/X/darvcli/ssqa_mode",
        "/X/darvcli/timeout",
        "/HOST/console/escapechars",
        "/X/system_identifier",
        "/X/services/ssh/state",
        "/X/policy/HOST_LAST_POWER_STATE",
        "/X/policy/HOST_POWER_ON_DELAY",
        "/X/policy/BACKUP_USER_DATA",
        "/X/clients/smtp/address",
        "/X/clients/smtp/port",
        "/X/clients/smtp/state",
        "/X/network/ipdiscovery",
    };
    for (int n = 1; n <= static_cast<int>(kvt::kAlertRules); ++n)
        for (const char *field : {"destination", "level", "type"})
            paths.push_back("/X/alertmgmt/rules/" + std::to_string(n) + "/" + field);
    if (with_addresses)
        for (const char *address : {"ipaddress", "ipnetmask", "ipgateway"})
            paths.push_back(std::string("/X/network/") + address);
    return paths;
}

// The accounts the capture never stores (skip_user's list).
bool carried(const kvtsim::User &user)
{
    return !user.proxy && user.name != "marnint" && user.name != "anonymous" &&
           user.name != "default" && !user.name.empty();
}

// Root first, the others in their order: as a second SP enumerates them.
std::vector<kvtsim::User> root_first(std::vector<kvtsim::User> users)
{
    std::stable_partition(users.begin(), users.end(),
                          [](const kvtsim::User &u) { return u.name == "root"; });
    return users;
}

std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

SpState read_state()
{
    SpState state;
    const bool with_addresses = kvtsim::object_get("/X/network/ipdiscovery") == "static";
    for (const std::string &path : captured_objects(with_addresses))
        state.objects[path] = kvtsim::object_get(path).value_or("(none)");
    std::uint32_t position = 0;
    capi_get_keyswitch(&position);
    state.keyswitch = position;
    for (const kvtsim::User &user : kvtsim::users())
        if (carried(user))
            state.users.push_back(user);
    state.climode_lines = split_lines(kvtsim::cli_mode_file());
    return state;
}

// ---- drawing an SP -----------------------------------------------------------

// A text an object takes: any byte but NUL and newline.
std::string object_text(FuzzedDataProvider &in, std::size_t most)
{
    std::string text = in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, most));
    for (char &c : text)
        if (c == '\0' || c == '\n')
            c = '.';
    return text;
}

template <std::size_t N>
const char *pick(FuzzedDataProvider &in, const std::array<const char *, N> &words)
{
    return words[in.ConsumeIntegralInRange<std::size_t>(0, N - 1)];
}

// A decimal text with up to two leading zeros.
std::string decimal(FuzzedDataProvider &in, unsigned long value)
{
    return std::string(in.ConsumeIntegralInRange<std::size_t>(0, 2), '0') + std::to_string(value);
}

std::string diag_trigger(FuzzedDataProvider &in)
{
    if (in.ConsumeBool())
        return in.ConsumeBool() ? "none" : "all-resets";
    std::array<const char *, 3> words{"user-reset", "error-reset", "power-on-reset"};
    // The words in any order.
    std::rotate(words.begin(), words.begin() + in.ConsumeIntegralInRange(0, 2), words.end());
    if (in.ConsumeBool())
        std::swap(words[0], words[1]);
    std::string text;
    for (const char *word : words)
        if (in.ConsumeBool())
            text += (text.empty() ? "" : " ") + std::string(word);
    return text;
}

std::string diag_mode(FuzzedDataProvider &in)
{
    const unsigned code = in.ConsumeIntegralInRange<unsigned>(0, 35);
    const std::array<const char *, 4> names{"off", "normal", "service", "menu"};
    return code < names.size() ? names.at(code) : "ops" + std::to_string(code - 4);
}

std::string ipv4(FuzzedDataProvider &in)
{
    std::string text;
    for (int i = 0; i < 4; ++i)
        text += (i ? "." : "") + std::to_string(in.ConsumeIntegral<std::uint8_t>());
    return text;
}

std::string smtp_port(FuzzedDataProvider &in)
{
    if (in.ConsumeIntegralInRange(0, 3) == 0)
        return pick(in, std::array<const char *, 3>{"none", "NONE", "None"});
    return decimal(in, in.ConsumeIntegralInRange<unsigned>(0, 65535));
}

void set_or_finding(const std::string &path, const std::string &value)
{
    if (kvtsim::object_set(path, value) != 0)
        finding("the drawn value of " + path + " was refused: " + value);
}

void draw_diag(FuzzedDataProvider &in)
{
    set_or_finding("/HOST/diag/trigger", diag_trigger(in));
    set_or_finding("/HOST/diag/mode", diag_mode(in));
    const std::array<const char *, 4> verbosities{"min", "normal", "max", "debug"};
    const std::array<const char *, 4> levels{"off", "min", "max", "normal"};
    for (const char *which : {"error_reset", "power_on", "user_reset"}) {
        set_or_finding(std::string("/HOST/diag/") + which + "_verbosity", pick(in, verbosities));
        set_or_finding(std::string("/HOST/diag/") + which + "_level", pick(in, levels));
    }
}

void draw_flags(FuzzedDataProvider &in)
{
    const std::array<const char *, 2> truth{"true", "false"};
    const std::array<const char *, 2> state{"enabled", "disabled"};
    for (const char *path : {"/HOST/autorunonerror", "/X/darvcli/service_mode",
                             "/X/darvcli/passwd_echo", "/X/darvcli/ssqa_mode"})
        set_or_finding(path, pick(in, truth));
    for (const char *path :
         {"/X/network/state", "/X/services/ssh/state", "/X/policy/HOST_LAST_POWER_STATE",
          "/X/policy/HOST_POWER_ON_DELAY", "/X/clients/smtp/state"})
        set_or_finding(path, pick(in, state));
    // Mostly on: with it off the users and CLI modes stay behind.
    set_or_finding("/X/policy/BACKUP_USER_DATA",
                   in.ConsumeIntegralInRange(0, 7) == 0 ? "disabled" : "enabled");
    set_or_finding("/HOST/autorestart",
                   pick(in, std::array<const char *, 3>{"none", "reset", "dumpcore"}));
}

void draw_texts_and_numbers(FuzzedDataProvider &in)
{
    set_or_finding("/X/darvcli/prompt", object_text(in, 45));
    set_or_finding("/X/darvcli/event_level", decimal(in, in.ConsumeIntegralInRange(0, 255)));
    set_or_finding("/X/darvcli/timeout", decimal(in, in.ConsumeIntegral<std::uint32_t>()));
    set_or_finding("/HOST/console/escapechars", object_text(in, 4));
    set_or_finding("/X/system_identifier", object_text(in, 45));
    set_or_finding("/X/clients/smtp/address", object_text(in, 55));
    set_or_finding("/X/clients/smtp/port", smtp_port(in));
    const std::array<const char *, 6> levels{"disable", "debug", "down",
                                             "minor",   "major", "critical"};
    const std::array<const char *, 3> types{"ipmipet", "email", "snmptrap"};
    for (int n = 1; n <= static_cast<int>(kvt::kAlertRules); ++n) {
        const std::string rule = "/X/alertmgmt/rules/" + std::to_string(n) + "/";
        if (!in.ConsumeBool())
            continue;
        set_or_finding(rule + "destination", object_text(in, 55));
        set_or_finding(rule + "level", pick(in, levels));
        set_or_finding(rule + "type", pick(in, types));
    }
}

void draw_network(FuzzedDataProvider &in)
{
    const bool is_static = in.ConsumeBool();
    set_or_finding("/X/network/ipdiscovery", is_static ? "static" : "dhcp");
    for (const char *address : {"ipaddress", "ipnetmask", "ipgateway"})
        set_or_finding(std::string("/X/network/") + address, ipv4(in));
}

// A name useradd takes, of at most 16 characters (the card's field).
std::string account_name(FuzzedDataProvider &in)
{
    static constexpr char kFirst[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.";
    static constexpr char kRest[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.-";
    const std::size_t length = in.ConsumeIntegralInRange<std::size_t>(1, 15);
    std::string name(1, kFirst[in.ConsumeIntegralInRange<std::size_t>(0, sizeof kFirst - 2)]);
    while (name.size() < length)
        name += kRest[in.ConsumeIntegralInRange<std::size_t>(0, sizeof kRest - 2)];
    if (in.ConsumeIntegralInRange(0, 7) == 0)
        name += '$';
    return name;
}

std::string roles(FuzzedDataProvider &in)
{
    std::string text;
    for (const char *role :
         {"admin", "user", "console", "reset", "service", "operator", "read-only", "ipmi"})
        if (in.ConsumeBool())
            text += (text.empty() ? "" : ",") + std::string(role);
    return text;
}

// A password as an administrator sets it (stored as its hash), none, or a
// hash handed back by some restore.
std::string password(FuzzedDataProvider &in, const std::string &name)
{
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0:
        return "";
    case 1:
        return kvtsim::password_attribute("x" + name, object_text(in, 8) + "x");
    default:
        return object_text(in, 20);
    }
}

void draw_users(FuzzedDataProvider &in)
{
    const std::vector<kvtsim::User> before = kvtsim::users();
    for (const kvtsim::User &user : before)
        if (user.name != "marnint")
            kvtsim::user_delete(user.name);
    const bool root = in.ConsumeIntegralInRange(0, 7) != 0;
    const std::size_t others = in.ConsumeIntegralInRange<std::size_t>(0, root ? 12 : 10);
    const std::size_t root_at = in.ConsumeIntegralInRange<std::size_t>(0, others);
    std::vector<std::string> names{"marnint", "root", "anonymous", "default"};
    unsigned uid = 3000;
    for (std::size_t i = 0; i <= others; ++i) {
        if (root && i == root_at)
            kvtsim::user_add({"root", 0, password(in, "root"), roles(in), false});
        if (i == others)
            break;
        std::string name = account_name(in);
        const std::string core = name.substr(0, name.find('$'));
        if (std::all_of(core.begin(), core.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
            core == "." || core == ".." ||
            std::find(names.begin(), names.end(), name) != names.end())
            continue;
        names.push_back(name);
        const kvtsim::User user{name, uid++, password(in, name), roles(in),
                                in.ConsumeIntegralInRange(0, 7) == 0};
        if (kvtsim::user_add(user) != 0)
            finding("the drawn user " + name + " was refused");
    }
}

// Lines as the SP's services keep them: a name (no colon, no newline), a
// colon, the mode word, at times with blanks before it and a word after.
void draw_cli_modes(FuzzedDataProvider &in)
{
    std::string file;
    const std::size_t lines = in.ConsumeIntegralInRange<std::size_t>(0, 13);
    for (std::size_t i = 0; i < lines; ++i) {
        std::string name = object_text(in, 17);
        std::replace(name.begin(), name.end(), ':', '.');
        if (name.empty())
            name = "u";
        std::string mode = object_text(in, 17);
        std::replace_if(
            mode.begin(), mode.end(),
            [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }, '-');
        if (mode.empty())
            mode = "m";
        const bool padded = in.ConsumeIntegralInRange(0, 7) == 0;
        file.append(name).append(":").append(padded ? " \t" : "").append(mode);
        file.append(padded ? " extra\n" : "\n");
    }
    if (kvtsim::write_cli_mode_file(file) != 0)
        finding("the CLI-mode file could not be written");
}

void draw_sp(FuzzedDataProvider &in)
{
    draw_diag(in);
    draw_flags(in);
    draw_texts_and_numbers(in);
    draw_network(in);
    capi_set_keyswitch(in.ConsumeIntegralInRange<unsigned char>(0, 3));
    draw_users(in);
    draw_cli_modes(in);
}

// ---- normalisations ----------------------------------------------------------

std::string cut(const std::string &text, std::size_t most)
{
    return text.substr(0, most);
}

std::string number_text(const std::string &text)
{
    return std::to_string(std::strtoull(text.c_str(), nullptr, 10));
}

// What the second SP is to hold of the first one's objects.
void normalise_objects(std::map<std::string, std::string> &objects)
{
    char trigger[kvt::kDiagTriggerTextSize];
    kvt::diag_trigger_text(kvt::diag_trigger_from_text(objects["/HOST/diag/trigger"].c_str()),
                           trigger);
    objects["/HOST/diag/trigger"] = trigger;
    objects["/X/darvcli/prompt"] = cut(objects["/X/darvcli/prompt"], 40);
    objects["/X/system_identifier"] = cut(objects["/X/system_identifier"], 40);
    objects["/HOST/console/escapechars"] = cut(objects["/HOST/console/escapechars"], 2);
    objects["/X/clients/smtp/address"] = cut(objects["/X/clients/smtp/address"], 50);
    for (const char *number :
         {"/X/darvcli/event_level", "/X/darvcli/timeout", "/X/clients/smtp/port"})
        objects[number] = number_text(objects[number]);
    for (auto &[path, value] : objects)
        if (path.ends_with("/destination"))
            value = cut(value, 50);
}

std::string mode_word(std::string rest)
{
    rest.erase(0, rest.find_first_not_of(" \t\n\v\f\r"));
    return rest.substr(0, rest.find_first_of(" \t\n\v\f\r"));
}

// The first 11 lines, each as "name:mode" with both cut to 16.
std::vector<std::string> normalised_lines(const std::vector<std::string> &lines)
{
    std::vector<std::string> out;
    for (std::size_t i = 0; i < lines.size() && i < kvt::kMaxUsers; ++i) {
        const std::size_t colon = lines[i].find(':');
        out.push_back(cut(lines[i].substr(0, colon), 16) + ":" +
                      cut(mode_word(lines[i].substr(colon + 1)), 16));
    }
    return out;
}

// The users the card holds: the first 11 carried ones; of those a restore
// adds only the ones with roles (an entry whose role word is 0 is not in
// use), and root keeps the second SP's roles: a restore sets only its
// password.
std::vector<kvtsim::User> expected_users(const SpState &first, const SpState &fresh)
{
    std::vector<kvtsim::User> users;
    for (std::size_t i = 0; i < first.users.size() && i < kvt::kMaxUsers; ++i) {
        const kvtsim::User &user = first.users[i];
        if (user.name == "root" || !user.roles.empty())
            users.push_back(user);
    }
    for (kvtsim::User &user : users)
        for (const kvtsim::User &own : fresh.users)
            if (user.name == "root" && own.name == "root")
                user.roles = own.roles;
    return root_first(users);
}

SpState expected_state(const SpState &first, const SpState &fresh)
{
    SpState expected = first;
    normalise_objects(expected.objects);
    if (expected.objects["/X/policy/BACKUP_USER_DATA"] == "disabled") {
        expected.users = root_first(fresh.users);
        expected.climode_lines = fresh.climode_lines;
        return expected;
    }
    expected.users = expected_users(first, fresh);
    expected.climode_lines = normalised_lines(first.climode_lines);
    return expected;
}

// The first card as a second SP captures it back: root's entry first, with
// that SP's role word and privilege, then the entries the restore added
// (those with a role word), packed.
void as_second_sp(Image &image)
{
    std::vector<std::size_t> order;
    for (std::size_t k = 0; k < kvt::kMaxUsers; ++k)
        if (image.user_table[k].name.view() == "root")
            order.insert(order.begin(), k);
        else if (image.role_table[k].get() != 0)
            order.push_back(k);
    const Image copy = image;
    std::memset(image.user_table, 0, sizeof image.user_table);
    std::memset(image.role_table, 0, sizeof image.role_table);
    for (std::size_t k = 0; k < order.size(); ++k) {
        image.user_table[k] = copy.user_table[order[k]];
        image.role_table[k] = copy.role_table[order[k]];
    }
    const Image &fresh = kvtfuzz::captured_image();
    if (image.user_table[0].name.view() == "root" && fresh.user_table[0].name.view() == "root") {
        image.user_table[0].privilege = fresh.user_table[0].privilege;
        image.role_table[0] = fresh.role_table[0];
    }
    kvt::update_all_checksums(image);
}

// ---- comparison --------------------------------------------------------------

void compare_users(const std::vector<kvtsim::User> &expected,
                   const std::vector<kvtsim::User> &restored)
{
    if (expected.size() != restored.size())
        finding("the restored SP has " + std::to_string(restored.size()) + " users, not " +
                std::to_string(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const kvtsim::User &a = expected[i];
        const kvtsim::User &b = restored[i];
        if (a.name != b.name || a.password != b.password || a.roles != b.roles)
            finding("user " + a.name + " comes back as " + b.name + " with other values");
    }
}

void compare_states(const SpState &expected, const SpState &restored)
{
    for (const auto &[path, value] : expected.objects)
        if (restored.objects.count(path) == 0 || restored.objects.at(path) != value)
            finding(path + " comes back otherwise");
    if (expected.keyswitch != restored.keyswitch)
        finding("the keyswitch comes back otherwise");
    compare_users(expected.users, root_first(restored.users));
    if (expected.climode_lines != restored.climode_lines)
        finding("the CLI-mode file comes back otherwise");
}

void compare_cards(Image first, const Image &second)
{
    as_second_sp(first);
    const auto a = kvt::image_bytes(first);
    const auto b = kvt::image_bytes(second);
    const auto differ = std::mismatch(a.begin(), a.end(), b.begin());
    if (differ.first != a.end())
        finding("the second card differs from byte " + std::to_string(differ.first - a.begin()) +
                " on");
}

// The user ids of IPMI users 2 to 11.
constexpr int kFreeUserIds = 10;

// The card's users a restore adds: in use, neither root nor an account the
// capture never stores.
int users_to_add(const Image &card)
{
    int users = 0;
    for (std::size_t k = 0; k < kvt::kMaxUsers; ++k) {
        const std::string_view name = card.user_table[k].name.view();
        if (card.role_table[k].get() != 0 && name != "root" && name != "marnint" &&
            name != "anonymous" && name != "default")
            ++users;
    }
    return users;
}

void capture_into(Image &image, const char *what)
{
    std::memset(&image, 0, sizeof image);
    if (!kvtfuzz::run_step([&] { get_current_config(&image); }))
        finding(std::string("the capture stopped on the ") + what + " SP");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    kvtfuzz::setup_once();
    kvtfuzz::reset_image();
    FuzzedDataProvider in(data, size);

    kvtfuzz::reset_sp();
    const SpState fresh = read_state();
    draw_sp(in);
    const SpState first = read_state();
    const auto card = std::make_unique<Image>();
    capture_into(*card, "first");

    kvtfuzz::reset_sp();
    kvt_image = *card;
    if (!kvtfuzz::run_step([] {
            restore_passwd();
            restore_climode();
            restore_network();
            restore_misc();
        })) {
        // The one stop a card of an SP's own may call for: more users to add
        // than the 10 user ids a restore hands out.
        if (users_to_add(*card) > kFreeUserIds &&
            kvtfuzz::logged_lately("kvtd: restore ran out of user id's!?!\n"))
            return 0;
        finding("the restore stopped on a card its own capture wrote");
    }
    const SpState restored = read_state();
    const auto second = std::make_unique<Image>();
    capture_into(*second, "restored");

    compare_cards(*card, *second);
    compare_states(expected_state(first, fresh), restored);
    return 0;
}
