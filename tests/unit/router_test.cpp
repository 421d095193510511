// Object update routing: which sections of the card, and which fields
// within them, one changed object reaches.
#include <gtest/gtest.h>

#include <cstddef>
#include <set>
#include <string>

#include "card/image.hpp"
#include "service/kvtd.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"
#include "tests/unit/section_writes.hpp"

namespace {

using kvt::Image;

constexpr std::size_t kLevelError = offsetof(Image, diag_level_error);
constexpr std::size_t kLevelPower = offsetof(Image, diag_level_power);
constexpr std::size_t kLevelUser = offsetof(Image, diag_level_user);
constexpr std::size_t kVerbosityError = offsetof(Image, diag_verbosity_error);
constexpr std::size_t kVerbosityPower = offsetof(Image, diag_verbosity_power);
constexpr std::size_t kVerbosityUser = offsetof(Image, diag_verbosity_user);

constexpr std::size_t rule_byte(int rule, std::size_t field)
{
    return offsetof(Image, alert_rules) +
           static_cast<std::size_t>(rule - 1) * sizeof(kvt::AlertRule) + field;
}
constexpr std::size_t kRule3Level = rule_byte(3, offsetof(kvt::AlertRule, level));
constexpr std::size_t kRule12Destination = rule_byte(12, 0);
constexpr std::size_t kRule1Type = rule_byte(1, offsetof(kvt::AlertRule, type));
constexpr std::size_t kRule15Destination = rule_byte(15, 0);

struct RouteCase {
    const char *name;
    const char *path;
    const char *value;
    std::set<unsigned> sections;
    std::set<std::size_t> fields = {};
    const char *line = nullptr;
};

constexpr const char *kRuleDropped = "alert rule number out of range 1..15";

// The fatal-path table proves end to end that each writer's object reaches
// it; these rows are the fan-outs, the fields and what is ignored.
// clang-format off
const RouteCase kCases[] = {
    {"CommitPendingRereadsTheNetwork", "/X/network/commitpending", "whatever", {3}},
    {"VerbositySetsAllThreeResets", "/HOST/diag/verbosity", "max", {4}, {kVerbosityError, kVerbosityPower, kVerbosityUser}},
    {"LevelSetsAllThreeResets", "/HOST/diag/level", "min", {4}, {kLevelError, kLevelPower, kLevelUser}},
    {"OneVerbosityAlone", "/HOST/diag/power_on_verbosity", "max", {4}, {kVerbosityPower}},
    {"OneLevelAlone", "/HOST/diag/user_reset_level", "min", {4}, {kLevelUser}},
    {"UnknownDiagNameIsIgnored", "/HOST/diag/bogus", "max", {}},
    {"HostGroupKeepsConsolePaths", "/HOST/console/escapechars", "~.", {}},
    {"CliNamesAreCaseSensitive", "/X/darvcli/PROMPT", "sp>", {}},
    {"AlertLevelOfRule3", "/X/alertmgmt/rules/3/level", "minor", {5}, {kRule3Level}},
    {"AlertDestinationOfRule12", "/X/alertmgmt/rules/12/destination", "a@b.c", {5}, {kRule12Destination}},
    {"AlertPathWithoutNumberIsIgnored", "/X/alertmgmt/rules/x/level", "minor", {}},
    {"AlertPathWithoutFieldIsIgnored", "/X/alertmgmt/rules/3", "minor", {}},
    {"AlertUnknownFieldIsIgnored", "/X/alertmgmt/rules/3/colour", "minor", {}},
    {"AlertRule1IsTheFirst", "/X/alertmgmt/rules/1/type", "email", {5}, {kRule1Type}},
    {"AlertRule15IsTheLast", "/X/alertmgmt/rules/15/destination", "d", {5}, {kRule15Destination}},
    {"AlertRule0IsDropped", "/X/alertmgmt/rules/0/level", "minor", {}, {}, kRuleDropped},
    {"AlertRule16IsDropped", "/X/alertmgmt/rules/16/type", "email", {}, {}, kRuleDropped},
    {"BackupUserDataOnRecapturesUsers", "/X/policy/BACKUP_USER_DATA", "enabled", {2, 4, 9}},
    {"NetworkStateIsAnExactMatch", "/X/network/state/x", "enabled", {}},
    {"SmtpAddress", "/X/clients/smtp/address", "mail.example.com", {7}},
    {"UserCliModeRecapturesCliModes", "/X/users/alice/cli_mode", "admin", {8}},
    {"OtherUserChangeRecapturesUsers", "/X/users/alice/role", "operator", {2, 9}},
    {"UnknownPathIsIgnored", "/X/unknown", "1", {}},
};
// clang-format on

using kvttest::PrintTo;

class Router : public testing::TestWithParam<RouteCase> {};

TEST_P(Router, ReachesOnlyTheOwnersSection)
{
    const kvttest::SimRoot root;
    kvttest::SectionWrites card{{kLevelError, kLevelPower, kLevelUser, kVerbosityError,
                                 kVerbosityPower, kVerbosityUser, kRule3Level, kRule12Destination,
                                 kRule1Type, kRule15Destination}};
    ASSERT_NO_FATAL_FAILURE(card.arm());
    const RouteCase &c = GetParam();
    kvtd_process_obj_update(c.path, c.value);

    EXPECT_EQ(card.written(), c.sections);
    EXPECT_EQ(card.changed_probes(), c.fields);
    EXPECT_TRUE(kvttest::log_has(std::string("kvtd_process_obj_update: name ") + c.path +
                                 " val: " + c.value + "\n"));
    EXPECT_TRUE(c.line == nullptr || kvttest::log_has(c.line)) << root.service_log();
}

INSTANTIATE_TEST_SUITE_P(Paths, Router, testing::ValuesIn(kCases), kvttest::by_name);

} // namespace
