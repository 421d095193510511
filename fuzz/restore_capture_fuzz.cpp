// A card of unknown origin restored onto the SP and the SP captured back,
// as a restore at one start and a capture at the next would do.
//
// Input: the image (a shorter input is padded with zeros, a longer one
// cut), made checksum-valid with version 0x0B. Found, and reported as a
// crash:
// - a fatal stop in the capture: the restore left the SP in a state its own
//   capture cannot take back;
// - a fatal stop in the restore other than those the restore takes for a
//   code it has no text for (which "bad value" the SP refuses, a POST code
//   the platform cannot name, a keyswitch position the platform refuses),
//   for a text the object service refuses (a newline), for a static IPv6
//   setting, or for running out of user ids;
// - a restored section that captures back to other bytes than the card's,
//   once the normalisations of docs/card-format.md are applied.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "card/sections.hpp"
#include "fuzz/support.hpp"
#include "sections/climode.hpp"
#include "sections/encodings.hpp"
#include "sections/misc.hpp"
#include "sections/network.hpp"
#include "sections/restore_plan.hpp"
#include "sections/user_data.hpp"
#include "sections/users.hpp"
#include "service/kvtd.hpp"
#include "sim/control.hpp"

namespace {

using kvt::Image;

[[noreturn]] void finding(const char *what)
{
    std::fprintf(stderr, "restore_capture: %s\n", what);
    std::abort();
}

// True when the misc restore's plan holds a value the SP is to refuse: a
// code no capture makes, a POST code without a name, a text with a newline.
bool refused_value_planned(const Image &card)
{
    for (const kvt::MiscSetPlan &set : kvt::plan_misc_restore(card).sets)
        if (set.unnamed || set.value == kvt::kBadValueText ||
            set.value.find('\n') != std::string::npos)
            return true;
    return false;
}

bool restore_may_stop(const Image &card)
{
    const std::uint32_t net = card.netflags.get();
    const bool static_ipv6 = (net & kvt::KVT_NET_STATIC) != 0 && (net & kvt::KVT_NET_IPV6) != 0;
    return refused_value_planned(card) || card.keyswitch > 3 || static_ipv6 ||
           kvtfuzz::logged_lately("kvtd: restore ran out of user id's!?!\n");
}

// A card text as the restore hands it over: cut to what the capture keeps.
template <std::size_t N>
void expect_text(kvt::TextField<N> &out, const kvt::TextField<N> &card, std::size_t limit)
{
    out.store(card.view().substr(0, limit));
}

void expect_misc(Image &expected, const Image &card)
{
    expected.diag_trigger = card.diag_trigger & 0x07;
    expected.diag_level_error = card.diag_level_error;
    expected.diag_level_power = card.diag_level_power;
    expected.diag_level_user = card.diag_level_user;
    expected.diag_verbosity_error = card.diag_verbosity_error;
    expected.diag_verbosity_power = card.diag_verbosity_power;
    expected.diag_verbosity_user = card.diag_verbosity_user;
    expected.diag_mode = card.diag_mode;
    std::uint16_t bits = card.miscbits.get() & 0x0FFF;
    if ((bits & kvt::KVT_AUTORESTART_RESET) != 0)
        bits &= ~kvt::KVT_AUTORESTART_DUMPCORE;
    expected.miscbits.set(bits);
    expect_text(expected.cliprompt, card.cliprompt, 40);
    expected.cli_eventlevel = card.cli_eventlevel;
    expected.cli_timeout = card.cli_timeout;
    for (std::size_t n = 0; n < kvt::kAlertRules; ++n) {
        const kvt::AlertRule &rule = card.alert_rules[n];
        expect_text(expected.alert_rules[n].destination, rule.destination, 50);
        expected.alert_rules[n].level = rule.level;
        expected.alert_rules[n].type = rule.type;
    }
    expect_text(expected.customerinfo, card.customerinfo, 40);
    expect_text(expected.escapechars, card.escapechars, 2);
    expect_text(expected.mailhost_address, card.mailhost_address, 50);
    expected.mailhost_port = card.mailhost_port;
    expected.keyswitch = card.keyswitch;
}

void expect_network(Image &expected, const Image &card)
{
    const bool is_static = (card.netflags.get() & kvt::KVT_NET_STATIC) != 0;
    expected.netflags.set(is_static ? kvt::KVT_NET_STATIC : 0);
    if (!is_static)
        return;
    std::memcpy(expected.ipaddress.bytes, card.ipaddress.bytes, 4);
    std::memcpy(expected.ipnetmask.bytes, card.ipnetmask.bytes, 4);
    std::memcpy(expected.ipgateway.bytes, card.ipgateway.bytes, 4);
}

// The entries whose lines the restore writes, in table order, packed.
void expect_climodes(Image &expected, const Image &card)
{
    std::memset(expected.climode_table, 0, sizeof expected.climode_table);
    std::size_t next = 0;
    for (const kvt::CliModeLinePlan &line : kvt::plan_climode_restore(card).used) {
        if (line.skip_reason != nullptr)
            continue;
        expected.climode_table[next].name.store(line.name);
        expected.climode_table[next].mode.store(line.mode);
        ++next;
    }
}

bool same_section(const Image &a, const Image &b, kvt::Section section)
{
    const kvt::SectionSpan &span = kvt::span_of(section);
    return std::memcmp(&kvt::image_bytes(a)[span.first], &kvt::image_bytes(b)[span.first],
                       span.length) == 0;
}

// The card entry the restore added under `name`: the first with a role
// word whose name it takes; -1 when there is none.
int added_entry(const Image &card, std::string_view name)
{
    for (std::size_t k = 0; k < kvt::kMaxUsers; ++k) {
        const kvt::UserEntry &saved = card.user_table[k];
        if (saved.name.view().substr(0, 16) == name && card.role_table[k].get() != 0)
            return static_cast<int>(k);
    }
    return -1;
}

// What the user database keeps of a saved password: none for one it
// refuses (a newline), else the card's hash, or the hash of a clear text.
std::string kept_password(std::string_view name, std::string_view password)
{
    if (password.find('\n') != std::string_view::npos)
        return {};
    return kvtsim::password_attribute(name, password);
}

// Every captured user is root or a card entry the restore added, with the
// password and the roles the SP kept of the card's.
void check_users(const Image &captured, const Image &card)
{
    for (std::size_t k = 0; k < kvt::kMaxUsers; ++k) {
        const kvt::UserEntry &user = captured.user_table[k];
        if (user.name.view().empty() || user.name.view() == "root")
            continue;
        const int at = added_entry(card, user.name.view());
        if (at < 0)
            finding("a captured user is neither root nor a user the restore takes from the card");
        const auto index = static_cast<std::size_t>(at);
        if (user.password.view() !=
            kept_password(user.name.view(), card.user_table[index].password.view().substr(0, 16)))
            finding("a restored user's password captures back otherwise");
        const std::uint32_t kept =
            kvtsim::roles_to_mask(kvtsim::mask_to_roles(card.role_table[index].get()));
        if (captured.role_table[k].get() != kept)
            finding("a restored user's roles capture back otherwise");
    }
}

void check_round_trip(const Image &captured, const Image &card)
{
    Image expected = captured;
    expect_misc(expected, card);
    expect_network(expected, card);
    const bool user_data = !kvt::user_data_backup_off(card);
    if (user_data)
        expect_climodes(expected, card);
    for (kvt::Section section :
         {kvt::Section::network, kvt::Section::misc, kvt::Section::alerts, kvt::Section::customer,
          kvt::Section::console, kvt::Section::climodes})
        if (!same_section(captured, expected, section))
            finding("a restored section captures back to other bytes");
    if (user_data)
        check_users(captured, card);
}

void restore(const Image &card)
{
    kvt_image = card;
    restore_passwd();
    restore_climode();
    restore_network();
    restore_misc();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    kvtfuzz::setup_once();
    kvtfuzz::reset_sp();
    kvtfuzz::reset_image();

    const auto card = std::make_unique<Image>();
    std::memcpy(card.get(), data, std::min<std::size_t>(size, KVT_IMAGE_SIZE));
    card->hdr_version = kvt::kImageVersion;
    kvt::update_all_checksums(*card);

    if (!kvtfuzz::run_step([&] { restore(*card); })) {
        if (!restore_may_stop(*card))
            finding("the restore stopped on a card it should have taken");
        return 0;
    }
    const auto captured = std::make_unique<Image>();
    if (!kvtfuzz::run_step([&] { get_current_config(captured.get()); }))
        finding("the capture after a restore stopped");
    check_round_trip(*captured, *card);
    return 0;
}
