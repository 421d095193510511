// Restore of sections 4 to 7: the SP gets back what was captured, in a
// fixed order, and a refused set leaves everything before it in place.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "card/sections.hpp"
#include "sections/misc.hpp"
#include "service/kvtd.hpp"
#include "tests/support/misc_settings.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"

namespace {

using kvttest::misc_settings;
using testing::ExitedWithCode;

kvtsim::ImageBytes image_copy()
{
    kvtsim::ImageBytes out{};
    std::memcpy(out.data(), &kvt_image, out.size());
    return out;
}

// kvt_image (and the card) hold a capture of settings 0; the SP has since
// moved on to settings 1, which differ in every object.
class MiscRestore : public testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(kvttest::shape_misc_settings(0));
        std::memset(&kvt_image, 0, sizeof kvt_image);
        get_current_backup_user_data(&kvt_image);
        luapi_session session;
        init_luapi_session(&session);
        get_current_misc(session, &kvt_image);
        close_luapi_session(&session);
        kvt_image.hdr_version = kvt::kImageVersion;
        kvt::update_all_checksums(kvt_image);
        ASSERT_EQ(kvtsim::card_insert_image(image_copy()), 0);
        ASSERT_TRUE(kvttest::shape_misc_settings(1));
    }

    // The objects before index `first_unset` of the restore order hold
    // settings 0, the others still settings 1.
    static void expect_set_before(std::size_t first_unset)
    {
        const auto restored = misc_settings(0);
        const auto previous = misc_settings(1);
        for (std::size_t i = 0; i < restored.size(); ++i) {
            const auto &[path, value] = i < first_unset ? restored[i] : previous[i];
            EXPECT_EQ(kvtsim::object_get(path), value) << path;
        }
    }

    kvttest::SimRoot root_;
};

TEST_F(MiscRestore, RoundTripOntoAnotherSpGivesTheSameValuesAndWritesNoCard)
{
    const kvtsim::ImageBytes valid = image_copy();
    for (std::size_t cksum : {0x1FC, 0x518, 0x542, 0x57E})
        kvt::image_bytes(kvt_image)[cksum] ^= 0xFF;
    kvttest::SimRoot second;
    const auto blank_card = kvtsim::card_image();
    restore_misc();
    expect_set_before(misc_settings(0).size());
    EXPECT_EQ(kvtsim::nv_get("keyswitch_state"), kvttest::kMiscKeyswitch[0]);
    EXPECT_EQ(image_copy(), valid);
    EXPECT_EQ(kvtsim::card_image(), blank_card);
    EXPECT_EQ(
        kvttest::log_messages(second.service_log()),
        (std::vector<std::string>{"restore_misc:top", "restore_misc:init_luapi_session done",
                                  "setting /X/services/ssh/state",
                                  "after setting /X/services/ssh/state", "restore_misc Done."}));
}

class RestoreOrder : public MiscRestore, public testing::WithParamInterface<const char *> {};

TEST_P(RestoreOrder, RefusedSetLeavesEveryEarlierSettingSet)
{
    const auto order = misc_settings(0);
    std::size_t failing = 0;
    while (failing < order.size() && order[failing].first != GetParam())
        ++failing;
    ASSERT_LT(failing, order.size());
    kvtsim::fault_set(std::string("luapi.set:") + GetParam(), 22);
    EXPECT_EXIT(restore_misc(), ExitedWithCode(255), "");
    expect_set_before(failing);
    EXPECT_EQ(kvtsim::nv_get("keyswitch_state"), kvttest::kMiscKeyswitch[1]);
}

INSTANTIATE_TEST_SUITE_P(
    Restore, RestoreOrder,
    testing::Values("/HOST/diag/trigger", "/HOST/diag/power_on_verbosity",
                    "/HOST/diag/user_reset_level", "/HOST/diag/mode", "/X/network/state",
                    "/HOST/autorunonerror", "/HOST/autorestart", "/X/darvcli/event_level",
                    "/X/darvcli/ssqa_mode", "/X/darvcli/timeout",
                    "/X/alertmgmt/rules/9/destination", "/X/alertmgmt/rules/9/type",
                    "/HOST/console/escapechars", "/X/system_identifier", "/X/services/ssh/state",
                    "/X/policy/HOST_POWER_ON_DELAY", "/X/policy/BACKUP_USER_DATA",
                    "/X/clients/smtp/address", "/X/clients/smtp/state"));

TEST_F(MiscRestore, KeyswitchIsSetOnlyAfterTheSessionIsClosed)
{
    kvtsim::fault_set("luapi.session_destroy", 5);
    EXPECT_EXIT(restore_misc(), ExitedWithCode(255), "");
    expect_set_before(misc_settings(0).size());
    EXPECT_EQ(kvtsim::nv_get("keyswitch_state"), kvttest::kMiscKeyswitch[1]);
}

struct Decoding {
    const char *name;
    std::function<void(kvt_image_t &)> poke;
    const char *path;
    std::string value;    // the text set
    bool refused = false; // the SP refuses it: the restore stops, after the set's log lines
};

using kvttest::PrintTo;

class RestoreDecodes : public MiscRestore, public testing::WithParamInterface<Decoding> {};

TEST_P(RestoreDecodes, StoredCodeBecomesItsValueText)
{
    GetParam().poke(kvt_image);
    if (GetParam().refused) {
        EXPECT_EXIT(restore_misc(), ExitedWithCode(255), "");
        EXPECT_TRUE(kvttest::log_has(std::string("\tpath ") + GetParam().path + " val " +
                                     GetParam().value + "\n"));
        return;
    }
    restore_misc();
    EXPECT_EQ(kvtsim::object_get(GetParam().path), GetParam().value);
}

// The ops names decode in the round trip. Every text is set as the card has
// it (cut to what the capture keeps): the object service decides, and
// refuses only a newline.
// clang-format off
const Decoding kDecodings[] = {
    {"TriggerNone", [](kvt_image_t &i) { i.diag_trigger = 0; }, "/HOST/diag/trigger", "none"},
    {"TriggerUser", [](kvt_image_t &i) { i.diag_trigger = 1; }, "/HOST/diag/trigger", "user-reset "},
    {"TriggerAll", [](kvt_image_t &i) { i.diag_trigger = 7; }, "/HOST/diag/trigger", "all-resets"},
    {"TriggerUserError", [](kvt_image_t &i) { i.diag_trigger = 3; }, "/HOST/diag/trigger", "user-reset error-reset "},
    {"TriggerUserPower", [](kvt_image_t &i) { i.diag_trigger = 5; }, "/HOST/diag/trigger", "user-reset power-on-reset "},
    {"ModeFour", [](kvt_image_t &i) { i.diag_mode = 4; }, "/HOST/diag/mode", "bad value", true},
    {"ModeOps0", [](kvt_image_t &i) { i.diag_mode = 10; }, "/HOST/diag/mode", "ops0"},
    {"ModeOps31", [](kvt_image_t &i) { i.diag_mode = 41; }, "/HOST/diag/mode", "ops31"},
    {"Mode42", [](kvt_image_t &i) { i.diag_mode = 42; }, "/HOST/diag/mode", "bad value", true},
    {"AlertLevelSix", [](kvt_image_t &i) { i.alert_rules[0].level = 6; },
     "/X/alertmgmt/rules/1/level", "bad value", true},
    {"AlertTypeThree", [](kvt_image_t &i) { i.alert_rules[14].type = 3; },
     "/X/alertmgmt/rules/15/type", "bad value", true},
    {"BothAutorestartBits", [](kvt_image_t &i) { i.miscbits.set(0x0600); }, "/HOST/autorestart", "reset"},
    {"PromptWithoutNul", [](kvt_image_t &i) { std::memset(&i.cliprompt, 'p', 41); }, "/X/darvcli/prompt", std::string(40, 'p')},
    {"CustomerInfoWithoutNul", [](kvt_image_t &i) { std::memset(&i.customerinfo, 'c', sizeof i.customerinfo); }, "/X/system_identifier", std::string(40, 'c')},
    {"EscapeWithoutNul", [](kvt_image_t &i) { std::memset(&i.escapechars, 'e', sizeof i.escapechars); }, "/HOST/console/escapechars", "ee"},
    {"DestinationWithoutNul", [](kvt_image_t &i) { std::memset(&i.alert_rules[2].destination, 'd', 51); }, "/X/alertmgmt/rules/3/destination", std::string(50, 'd')},
    {"PromptWithColourCodesIsSet", [](kvt_image_t &i) { i.cliprompt.store("\x1b[1msp>\x1b[0m"); }, "/X/darvcli/prompt", "\x1b[1msp>\x1b[0m"},
    {"NewlineTheServiceRefuses", [](kvt_image_t &i) { i.customerinfo.store("a\nb"); }, "/X/system_identifier", "a\\nb", true},
    {"EscapeOneChar", [](kvt_image_t &i) { i.escapechars.store("x"); }, "/HOST/console/escapechars", "x"},
    {"PortZero", [](kvt_image_t &i) { i.mailhost_port.set(0); }, "/X/clients/smtp/port", "0"},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Restore, RestoreDecodes, testing::ValuesIn(kDecodings), kvttest::by_name);

} // namespace
