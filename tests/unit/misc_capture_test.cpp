// Capture of sections 4 to 7 from a shaped simulated SP, checked against
// bytes written out by hand, and the values that stop the daemon. The
// backup flag's capture is proven by misc_restore_test's round trip (off)
// and the golden capture (on).
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "sections/misc.hpp"
#include "service/kvtd.hpp"
#include "tests/support/misc_settings.hpp"
#include "tests/support/sim_root.hpp"

namespace {

using kvttest::log_has;

// The capture's progress lines: four for each alert rule, then the end.
// Each message follows the time text and a blank.
std::vector<std::string> progress_lines()
{
    std::vector<std::string> lines;
    for (int slot = 0; slot < 15; ++slot) {
        lines.push_back(" getting alert " + std::to_string(slot) + "\n");
        for (const char *step : {" \tdestination\n", " \tlevel\n", " \ttype\n"})
            lines.emplace_back(step);
    }
    lines.emplace_back(" get_current_misc: Done.\n");
    return lines;
}

class MiscCapture : public testing::Test {
  protected:
    void SetUp() override
    {
        kvtPlatform = 0x1242;
        ASSERT_TRUE(kvttest::shape_misc_settings(0));
    }
    static kvt_image_t capture()
    {
        kvt_image_t image{};
        luapi_session session;
        init_luapi_session(&session);
        get_current_misc(session, &image);
        close_luapi_session(&session);
        return image;
    }
    kvttest::SimRoot root_;
};

TEST_F(MiscCapture, FillsSectionsFourToSevenByteForByte)
{
    const kvt_image_t image = capture();
    const std::pair<std::size_t, unsigned char> golden[] = {
        {0x1C1, 0x07}, // diag_trigger: all-resets
        {0x1C2, 0},    // diag_level: never written
        {0x1C3, 1},    // diag_level_error: min
        {0x1C4, 3},    // diag_level_power: normal
        {0x1C5, 2},    // diag_level_user: max
        {0x1C6, 0},    // diag_verbosity: never written
        {0x1C7, 2},    // diag_verbosity_error: max
        {0x1C8, 3},    // diag_verbosity_power: debug
        {0x1C9, 1},    // diag_verbosity_user: normal
        {0x1CA, 15},   // diag_mode: ops5
        {0x1CB, 0},    // reserved
        {0x1CC, 0x04}, // miscbits: dumpcore; the backup flag is not this capture's
        {0x1CD, 0xAB}, // smtp, power state memory, ssqa, service mode, autorunonerror
        {0x1CE, 'r'},  // cliprompt "rack7-sp>"
        {0x1D7, 0},    //
        {0x1F7, 200},  // cli_eventlevel
        {0x1F8, 0xFF}, // cli_timeout 4294967295
        {0x1FB, 0xFF}, //
        {0x1FC, 0},    // cksum4: the full capture computes the checksums
        {0x230, 1},    // rule 1 level: debug
        {0x231, 1},    // rule 1 type: email
        {0x4E3, 'o'},  // rule 15 destination "ops15@example.com"
        {0x516, 3},    // rule 15 level: minor
        {0x517, 0},    // rule 15 type: ipmipet
        {0x519, 'l'},  // customerinfo "lab rack 7"
        {0x543, '~'},  // escapechars "~."
        {0x545, 0},    //
        {0x546, '1'},  // mailhost_address "10.0.0.25"
        {0x579, 0},    // reserved
        {0x57A, 0x09}, // mailhost_port 2525
        {0x57B, 0xDD}, //
        {0x57C, 2},    // keyswitch
        {0x57D, 0x42}, // host_type: low byte of the platform code
    };
    for (auto [offset, value] : golden)
        EXPECT_EQ(kvt::image_bytes(image)[offset], value) << "offset 0x" << std::hex << offset;
    EXPECT_EQ(kvttest::missing_in_order(root_.service_log(), progress_lines()), "");
}

// The writers share the encodings (misc_writers_test has the port's "none",
// the prompt's cut and ops31); these words no other test captures.
TEST_F(MiscCapture, EncodesTheUserResetTriggerAndTheFirstOpsMode)
{
    ASSERT_EQ(kvtsim::object_set("/HOST/diag/trigger", "user-reset error-reset"), 0);
    kvtsim::nv_set("sp_post_diag_mode", "ops0");
    const kvt_image_t image = capture();
    EXPECT_EQ(image.diag_trigger, 0x03);
    EXPECT_EQ(image.diag_mode, 10);
}

// The edges of the diagnostic mode's encoding (ops0 to ops31 and the
// lower-case names); the other fatal lines of the capture are proven end to end.
TEST_F(MiscCapture, DiagModesOutsideTheTableEndInTheFatalStop)
{
    for (const char *mode : {"ops32", "Off", ""}) {
        kvtsim::nv_set("sp_post_diag_mode", mode);
        EXPECT_EXIT(capture(), testing::ExitedWithCode(255), "") << mode;
        EXPECT_TRUE(log_has(std::string("/HOST/diag/mode bad value (") + mode + ")\n")) << mode;
    }
}

} // namespace
