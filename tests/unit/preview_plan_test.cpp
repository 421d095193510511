// One restore, two uses: what kvtcard preview shows of a card (the plans of
// sections/restore_plan.hpp, as kvtd-preview prints them) is exactly what
// the restore then asks of the SP's services, call for call in the
// simulated SP's journal, and the CLI-mode file it writes; the services'
// answers decide the rest (a refused add skips that user's password and
// roles, a refused set or a stop in the plan ends the restore there). The
// reasons the preview gives are read against golden files.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "card/line_text.hpp"
#include "card/sections.hpp"
#include "sections/climode.hpp"
#include "sections/misc.hpp"
#include "sections/network.hpp"
#include "sections/restore_plan.hpp"
#include "sections/users.hpp"
#include "service/kvtd.hpp"
#include "sim/control.hpp"
#include "tests/support/misc_settings.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"

namespace {

using kvt::PlanAction;
using kvt::PlanStep;

// Users, CLI modes, network, misc settings.
using Plans = std::vector<kvt::SectionPlan>;

Plans plans_of(const kvt::Image &card)
{
    luapi_session session;
    init_luapi_session(&session);
    Plans plans{kvt::describe(kvt::plan_user_restore(card)),
                kvt::describe(kvt::plan_climode_restore(card)),
                kvt::describe(kvt::plan_network_restore(&session, card)),
                kvt::describe(kvt::plan_misc_restore(card))};
    close_luapi_session(&session);
    return plans;
}

// The journal as it is read: each call with its result, in order.
struct Journal {
    std::vector<std::string> lines = kvtsim::journal();
    std::size_t next = 0;

    // The next call must be `call`, as the journal writes it; its result, or
    // a failure when it is not.
    int take(const std::string &call)
    {
        if (next >= lines.size()) {
            ADD_FAILURE() << "the plan has " << call << ", the restore made no more calls";
            return -1;
        }
        std::string text;
        for (const char c : call)
            text += c == '\n' ? "\\n" : c == '\\' ? "\\\\" : std::string(1, c);
        const std::string &line = lines[next++];
        const std::size_t equals = line.rfind(" = ");
        EXPECT_EQ(line.substr(0, equals), text) << "call " << next;
        return std::atoi(line.c_str() + equals + 3);
    }

    void expect_no_more()
    {
        for (; next < lines.size(); ++next)
            ADD_FAILURE() << "the restore made a call the plan does not have: " << lines[next];
    }
};

// Root's password as the restore meets it: the card's, and the SP's, which
// is none for a root just added again (the simulated SP sets none).
void user_step_done(const PlanStep &step, const std::string &card_root, std::string &sp_root,
                    Journal &journal)
{
    if (step.action == PlanAction::remove) {
        journal.take("um_delete_local_user " + step.target);
    } else if (step.action == PlanAction::add && step.target == "root") {
        if (journal.take("um_add_local_user root") == 0)
            sp_root.clear();
    } else if (step.action == PlanAction::set) {
        // Compared once root is added again: set unless it already has the card's.
        const bool compared = step.reason.starts_with("unless");
        if (!compared || sp_root != card_root)
            journal.take("um_set_local_user_password root");
    } else if (step.action == PlanAction::add) {
        if (journal.take("um_add_local_user " + step.target) == 0) {
            journal.take("um_set_local_user_password " + step.target);
            journal.take("um_set_local_user_roles " + step.target + " " +
                         step.value.substr(std::string("roles ").size()));
        }
    }
}

bool object_step_done(const PlanStep &step, Journal &journal)
{
    if (step.action == PlanAction::stop) {
        EXPECT_TRUE(kvtsim::object_get(step.target).has_value()) << "stops at " << step.target;
        return false;
    }
    if (step.action == PlanAction::keep) {
        EXPECT_EQ(kvtsim::object_get(step.target), step.value) << "kept as the SP has it";
    }
    if (step.action != PlanAction::set)
        return true;
    if (step.target == "keyswitch")
        return journal.take("capi_set_keyswitch " + step.value) == 0;
    return journal.take("luapife_set_obj_val " + step.target + " " + step.value) == 0;
}

// Every card entry in use or holding a name shows once: skipped by its
// number, or added by its name. An empty entry shows not at all.
void expect_a_step_per_entry(const kvt::SectionPlan &users, const kvt::Image &card)
{
    if (users.skipped_by_policy)
        return;
    for (std::size_t k = 0; k < kvt::kMaxUsers; ++k) {
        const std::string name(card.user_table[k].name.view());
        const auto for_entry = [&](const PlanStep &step) {
            return step.target == "entry " + std::to_string(k) ||
                   (step.action == PlanAction::add && step.target == name &&
                    step.value.starts_with("roles "));
        };
        const bool shown = card.role_table[k].get() != 0 || !name.empty();
        EXPECT_EQ(std::count_if(users.steps.begin(), users.steps.end(), for_entry), shown ? 1 : 0)
            << "entry " << k << " (" << name << ")";
    }
}

void expect_done_as_planned(const Plans &plans, const kvt::Image &card,
                            const std::string &file_before, std::string sp_root)
{
    Journal journal;
    std::string card_root;
    for (const kvt::UserEntry &entry : card.user_table)
        if (entry.name.view() == "root")
            card_root = std::string(entry.password.view().substr(0, 16));
    expect_a_step_per_entry(plans[0], card);
    for (const PlanStep &step : plans[0].steps)
        user_step_done(step, card_root, sp_root, journal);
    std::string written; // the CLI-mode file as the plan writes it
    for (const PlanStep &step : plans[1].steps)
        if (step.action == PlanAction::write)
            written += step.value + "\n";
    EXPECT_EQ(kvtsim::cli_mode_file(), plans[1].skipped_by_policy ? file_before : written);
    bool going_on = true;
    for (std::size_t section = 2; section < plans.size() && going_on; ++section)
        for (const PlanStep &step : plans[section].steps)
            if (!(going_on = object_step_done(step, journal)))
                break;
    journal.expect_no_more();
}

// The steps that give a reason, as a person reads them: compared with the
// row's file under tests/golden/preview/, which a run with KVT_WRITE_GOLDEN
// set writes anew. The other steps are compared call for call.
void expect_golden_reasons(const Plans &plans, const std::string &row)
{
    std::string text;
    for (const kvt::SectionPlan &plan : plans) {
        text += plan.section + (plan.skipped_by_policy ? ": skipped by policy\n" : ":\n");
        for (const PlanStep &step : plan.steps)
            if (!step.reason.empty()) {
                text += std::string("  ") + kvt::plan_action_name(step.action) + " ";
                kvt::append_escaped(text, step.target);
                text += " <";
                kvt::append_escaped(text, step.value);
                text += ">: " + step.reason + "\n";
            }
    }
    const std::string path = KVT_SOURCE_DIR "/tests/golden/preview/" + row + ".txt";
    if (std::getenv("KVT_WRITE_GOLDEN") != nullptr)
        std::ofstream(path, std::ios::binary) << text;
    EXPECT_EQ(text, kvttest::read_file(path)) << path;
}

struct CardCase {
    const char *name;
    std::function<void(kvt::Image &)> shape;
    std::function<void()> sp = [] {};
};

using kvttest::PrintTo;

class PreviewIsTheRestore : public ::testing::TestWithParam<CardCase> {};

// The card of an SP with settings 0 and two users of its own; the SP it is
// restored onto has moved on to settings 1 and other users.
kvt::Image card_of_another_sp()
{
    EXPECT_TRUE(kvttest::shape_misc_settings(0));
    EXPECT_EQ(kvtsim::object_set("/X/policy/BACKUP_USER_DATA", "enabled"), 0);
    EXPECT_EQ(kvtsim::user_add({"alice", 3000, "a-pw", "operator", false}), 0);
    EXPECT_EQ(kvtsim::user_add({"bob", 3001, "", "admin,user", false}), 0);
    EXPECT_EQ(kvtsim::write_cli_mode_file("alice:default\nbob:compact\n"), 0);
    kvtPlatform = 0;
    kvt::Image card{};
    get_current_config(&card);
    EXPECT_TRUE(kvttest::shape_misc_settings(1));
    kvtsim::user_delete("alice");
    EXPECT_EQ(kvtsim::user_add({"carol", 3002, "c-pw", "read-only", false}), 0);
    EXPECT_EQ(kvtsim::write_cli_mode_file("carol:default\n"), 0);
    return card;
}

TEST_P(PreviewIsTheRestore, CallForCall)
{
    const kvttest::SimRoot root;
    kvt::Image card = card_of_another_sp();
    GetParam().shape(card);
    kvt::update_all_checksums(card);
    GetParam().sp();
    const std::string file_before = kvtsim::cli_mode_file();
    std::string sp_root_password;
    for (const kvtsim::User &user : kvtsim::users())
        if (user.name == "root")
            sp_root_password = user.password;
    const Plans plans = plans_of(card);
    expect_golden_reasons(plans, GetParam().name);

    kvtsim::journal_start();
    kvt_image = card;
    EXPECT_EXIT(
        {
            restore_passwd();
            restore_climode();
            restore_network();
            restore_misc();
            std::exit(kvtsim::object_connections_open() == 0 ? 0 : 3); // 3: a connection left open
        },
        [](int status) {
            return WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 255);
        },
        "");
    expect_done_as_planned(plans, card, file_before, sp_root_password);
}

void user(kvt::Image &card, std::size_t k, const char *name, const char *password,
          std::uint32_t roles)
{
    card.user_table[k].name.store(name);
    card.user_table[k].password.store(password);
    card.role_table[k].set(roles);
}

void cli_mode(kvt::Image &card, std::size_t k, const char *name, const char *mode)
{
    card.climode_table[k].name.store(name);
    card.climode_table[k].mode.store(mode);
}

// clang-format off
const CardCase kCards[] = {
    {"CardOfAnotherSp", [](kvt::Image &) {}},
    {"UserDataBackupOff", [](kvt::Image &c) { c.miscbits.set(c.miscbits.get() | kvt::KVT_NO_BACKUP_USER_DATA); }},
    {"NamesAndLinesTheSpRefusesOrThatWouldNotReadBack", [](kvt::Image &c) {
        user(c, 4, "ev:il", "pw", 0x01); user(c, 5, "ev\nil", "pw", 0x01); user(c, 6, "-eve", "pw", 0x01);
        user(c, 7, "eve", "p\nw", 0x20); user(c, 8, "ghost", "pw", 0); user(c, 9, "marnint", "pw", 0x01);
        user(c, 10, "", "pw", 0x01);
        cli_mode(c, 3, "x\nadmin", "default"); cli_mode(c, 4, "a:b", "m"); cli_mode(c, 5, "t\tab", "\x1b[1m");
        cli_mode(c, 6, "bob", "de fault"); c.cliprompt.store("\x1b[1msp>\x1b[0m"); }},
    {"TextTheObjectServiceRefuses", [](kvt::Image &c) { c.customerinfo.store("rack\n7"); }},
    {"CodeNoCaptureMakes", [](kvt::Image &c) { c.diag_mode = 5; }},
    {"PostCodeWithoutAName", [](kvt::Image &c) { c.diag_verbosity_power = 200; }},
    {"StaticIpv6", [](kvt::Image &c) { c.netflags.set(kvt::KVT_NET_STATIC | kvt::KVT_NET_IPV6); }},
    {"DhcpOntoStatic", [](kvt::Image &c) { c.netflags.set(0); }},
    {"DiscoveryTheSpCannotRead", [](kvt::Image &c) { c.netflags.set(0); }, [] { kvtsim::fault_set("luapi.test_get:/X/network/ipdiscovery", 5); }},
    {"DhcpOntoDhcp", [](kvt::Image &c) { c.netflags.set(0); }, [] { kvtsim::object_set("/X/network/ipdiscovery", "dhcp"); }},
    {"NoRootOnTheCard", [](kvt::Image &c) { std::memset(&c.user_table[0], 0, sizeof c.user_table[0]); c.role_table[0].set(0); }},
    {"RootPasswordChangedOnTheSp", [](kvt::Image &) {}, [] { kvtsim::user_set_password("root", "changed"); }},
    {"RootPasswordTheSpCannotRead", [](kvt::Image &) {}, [] { kvtsim::fault_set("um.get_password", 5); }},
    {"RootToBeAddedAgain", [](kvt::Image &) {}, [] { kvtsim::fault_set("um.root_disabled"); }},
    {"SpWithoutRoot", [](kvt::Image &) {}, [] { kvtsim::user_delete("root"); }},
    {"UserManagerRefusingAdds", [](kvt::Image &) {}, [] { kvtsim::fault_set("um.add", 5); }},
    {"KeyswitchThePlatformRefuses", [](kvt::Image &c) { c.keyswitch = 9; }},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cards, PreviewIsTheRestore, ::testing::ValuesIn(kCards), kvttest::by_name);

} // namespace
