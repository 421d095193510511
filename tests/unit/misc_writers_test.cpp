// Live writers of sections 4 to 7: a change lands in its own bytes and its
// section's checksum, and the card receives that one section.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "card/sections.hpp"
#include "sections/writers.hpp"
#include "sim/control.hpp"
#include "tests/support/rows.hpp"
#include "tests/support/sim_root.hpp"

namespace {

using kvt::Section;
using kvttest::log_has;
using Bytes = kvtsim::ImageBytes;

Bytes image_copy()
{
    Bytes out{};
    std::memcpy(out.data(), &kvt_image, out.size());
    return out;
}

// kvt_image: a valid all-zero image. The card: the same, but 0x5A in every
// byte outside sections 4 to 7, so that a write beyond one section shows.
class MiscWriters : public testing::Test {
  protected:
    void SetUp() override
    {
        std::memset(&kvt_image, 0, sizeof kvt_image);
        kvt_image.hdr_version = kvt::kImageVersion;
        kvt::update_all_checksums(kvt_image);
        Bytes card = image_copy();
        for (std::size_t i = 0; i < card.size(); ++i)
            card[i] = (i < 0x1C1 || i > 0x57E) ? 0x5A : card[i];
        ASSERT_EQ(kvtsim::card_insert_image(card), 0);
    }
    static Bytes card() { return kvtsim::card_image().value(); }
    kvttest::SimRoot root_;
};

struct Change {
    const char *name;
    std::function<void()> write;
    Section section;
    std::vector<std::pair<std::size_t, unsigned char>> bytes; // besides the checksum
    std::vector<std::string> lines = {};                      // the writer logs
};

using kvttest::PrintTo;

class OneChangePerFamily : public MiscWriters, public testing::WithParamInterface<Change> {};

TEST_P(OneChangePerFamily, LandsInItsFieldChecksumAndSectionOnly)
{
    const Change &c = GetParam();
    const kvt::SectionSpan &span = kvt::span_of(c.section);
    Bytes expected = image_copy();
    const Bytes card_before = card();
    c.write();

    for (auto [offset, value] : c.bytes)
        expected[offset] = value;
    calculate_xor_checksum(&expected[span.first], static_cast<int>(span.length),
                           &expected[span.cksum]);
    const Bytes image = image_copy();
    EXPECT_EQ(image, expected);
    const Bytes card_after = card();
    for (std::size_t i = 0; i < card_after.size(); ++i)
        EXPECT_EQ(card_after[i], i >= span.first && i <= span.cksum ? image[i] : card_before[i])
            << "card byte 0x" << std::hex << i;
    EXPECT_EQ(kvttest::log_messages(root_.service_log()), c.lines);
}

// One row per writer family. The other flag writers share Autorunonerror's
// code and the capture's flag table, which the golden capture pins; the
// escape characters, the backup flag and the keyswitch reach the card in
// change_tracking_test, rule 3's level in router_test. Numbers may follow
// white space from a tab to a carriage return, as a "%d" conversion reads them.
// clang-format off
const Change kChanges[] = {
    {"DiagMode", [] { kvtd_write_diag(DIAG_MODE, "ops31"); }, Section::misc, {{0x1CA, 41}}},
    {"DiagTrigger", [] { kvtd_write_diag(DIAG_TRIGGER, "none all-resets"); }, Section::misc, {{0x1C1, 7}}},
    {"Autorunonerror", [] { kvtd_write_autorunonerror("true"); }, Section::misc, {{0x1CD, 0x01}}},
    {"Autorestart", [] { kvtd_write_autorestart("dumpcore"); }, Section::misc, {{0x1CC, 0x04}}},
    {"CliTimeoutAfterACarriageReturn", [] { kvtd_write_cli(CLI_TIMEOUT, "\r4294967295"); }, Section::misc,
     {{0x1F8, 0xFF}, {0x1F9, 0xFF}, {0x1FA, 0xFF}, {0x1FB, 0xFF}}},
    {"Rule15Level", [] { kvtd_write_mailalert(15, ALERT_LEVEL, "critical"); }, Section::alerts, {{0x516, 5}}},
    {"Rule15Type", [] { kvtd_write_mailalert(15, ALERT_TYPE, "snmptrap"); }, Section::alerts, {{0x517, 2}}},
    {"CustomerInfo", [] { kvtd_write_customerinfo("r7"); }, Section::customer, {{0x519, 'r'}, {0x51A, '7'}}},
    {"MailhostAddress", [] { kvtd_write_mailhost_address("m"); }, Section::console, {{0x546, 'm'}}},
    {"MailhostPort", [] { kvtd_write_mailhost_port("65535"); }, Section::console, {{0x57A, 0xFF}, {0x57B, 0xFF}}},
    {"EventLevel255AfterATab", [] { kvtd_write_cli(CLI_EVENT_LEVEL, "\t255"); }, Section::misc,
     {{0x1F7, 0xFF}}},
    {"EventLevel0", [] { kvtd_write_cli(CLI_EVENT_LEVEL, "0"); }, Section::misc, {}},
    {"Keyswitch0", [] { kvtd_write_keyswitch("0"); }, Section::console, {},
     {"kvtd_write_keyswitch: val=0", "check valid", "kvtd_write_keyswitch: returning"}},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Writers, OneChangePerFamily, testing::ValuesIn(kChanges),
                         kvttest::by_name);

TEST_F(MiscWriters, PortNoneAndAutorestart)
{
    for (const char *none : {"none", "NONE", "0"}) {
        kvt_image.mailhost_port.set(25);
        kvtd_write_mailhost_port(none);
        EXPECT_EQ(kvt_image.mailhost_port.get(), 0) << none;
    }
    kvt_image.miscbits.set(kvt::KVT_AUTORESTART_DUMPCORE | kvt::KVT_SSH_ENABLED);
    kvtd_write_autorestart("reset");
    EXPECT_EQ(kvt_image.miscbits.get(), kvt::KVT_AUTORESTART_RESET | kvt::KVT_SSH_ENABLED);
}

// The rule number comes from the event's object path: one without a slot
// in section 5 touches nothing and says so.
TEST_F(MiscWriters, ARuleWithoutASlotIsDroppedWithALine)
{
    const Bytes before = image_copy();
    for (int rule : {0, 16}) {
        kvtd_write_mailalert(rule, ALERT_LEVEL, "critical");
        EXPECT_TRUE(log_has("kvtd_write_mailalert: rule " + std::to_string(rule) +
                            " out of range, ignored\n"));
    }
    EXPECT_EQ(image_copy(), before);
}

struct Cut {
    const char *name;
    void (*write)(const char *value);
    std::size_t limit;
    std::string_view (*kept)();
    std::vector<std::string> lines; // after a value one over the limit
};

// A text field keeps what fits, and says so only past its limit; the
// destination is rule 1's, the first.
// clang-format off
const Cut kCuts[] = {
    {"Prompt", [](const char *v) { kvtd_write_cli(CLI_PROMPT, v); }, 40,
     [] { return kvt_image.cliprompt.view(); },
     {"kvtd_write_cli: truncating prompt to 40 characters (wanted 41)\n",
      "this will truncate your prompt upon restore\n"}},
    {"CustomerInfo", kvtd_write_customerinfo, 40, [] { return kvt_image.customerinfo.view(); },
     {"write_customerinfo: sequence too long (" + std::string(41, 'b') +
      "), truncating to 40 characters\n"}},
    {"EscapeChars", kvtd_write_escapechars, 2, [] { return kvt_image.escapechars.view(); },
     {"write_escapechars: sequence too long (bbb), truncating to 2 characters\n"}},
    {"Destination", [](const char *v) { kvtd_write_mailalert(1, ALERT_DESTINATION, v); }, 50,
     [] { return kvt_image.alert_rules[0].destination.view(); },
     {"write email alert: destination too big (" + std::string(51, 'b') + ")\n",
      "\ttruncating to 50 characters\n"}},
    {"MailhostAddress", kvtd_write_mailhost_address, 50,
     [] { return kvt_image.mailhost_address.view(); }, {}},
};
// clang-format on

TEST_F(MiscWriters, TextsAreCutOnlyPastTheirLimit)
{
    for (const Cut &cut : kCuts) {
        cut.write(std::string(cut.limit, 'a').c_str());
        EXPECT_EQ(cut.kept(), std::string(cut.limit, 'a')) << cut.name;
        EXPECT_EQ(root_.service_log().find("truncat"), std::string::npos) << cut.name;
        cut.write(std::string(cut.limit + 1, 'b').c_str());
        EXPECT_EQ(cut.kept(), std::string(cut.limit, 'b')) << cut.name;
        for (const std::string &line : cut.lines)
            EXPECT_TRUE(log_has(line)) << line;
        kvttest::clear_log();
    }
}

struct Stop {
    const char *name;
    void (*write)();
    const char *line;
};

// The edges of the encodings; every writer's fatal line, the event level 256
// and a port without digits among them, is proven end to end.
// clang-format off
const Stop kStops[] = {
    {"Port65536", [] { kvtd_write_mailhost_port("65536"); }, "write_mailhost: error parsing port\n"},
    {"PortNegative", [] { kvtd_write_mailhost_port("-1"); }, "write_mailhost: error parsing port\n"},
    {"Keyswitch4", [] { kvtd_write_keyswitch("4"); }, "kvtd_write_keyswitch: error parsing value (4)\n"},
    {"EventLevelNotANumber", [] { kvtd_write_cli(CLI_EVENT_LEVEL, "x"); }, "write_cli: error parsing event level (x)\n"},
};
// clang-format on

TEST_F(MiscWriters, ValuesJustBeyondTheEncodingsEndInTheFatalStop)
{
    for (const Stop &stop : kStops) {
        EXPECT_EXIT(stop.write(), testing::ExitedWithCode(255), "") << stop.name;
        EXPECT_EQ(kvttest::log_count(stop.line), 1) << stop.name;
        kvttest::clear_log();
    }
}

} // namespace
